#pragma once
// A serial port for tests: what the "DTU" sends is fed in by the test, what
// the program writes is recorded, and failures can be scripted.

#include <QByteArray>
#include <QList>

#include "link/serial_port.h"

class FakeSerialPort : public SerialPort {
  Q_OBJECT
public:
  explicit FakeSerialPort(QObject* parent = nullptr);

  // SerialPort
  OpenResult Open(const LineSettings& settings) override;
  bool IsOpen() const override { return open_; }
  bool WriteFrame(const std::uint8_t* bytes, std::size_t n) override;
  void Close() override;
  std::uint16_t RxBytesWaiting() override;
  std::uint16_t ReadPort(std::uint8_t* dest, std::uint16_t n) override;

  // Queues bytes as received from the device. They are readable at once;
  // bytesArrived follows through the event loop, so feeding works from
  // inside a wait as it does with a real port. With a delivery chunk set,
  // the bytes instead become readable chunk by chunk, one event each.
  void feedReceived(const QByteArray& bytes);
  // 0 (default): everything fed is readable at once; n: n bytes per event.
  void setDeliveryChunk(int bytesPerEvent) { chunk_ = bytesPerEvent; }

  // Everything written so far, and the same split into the single writes.
  QByteArray written() const { return written_; }
  QList<QByteArray> writtenFrames() const { return frames_; }

  // While set (kind not Ok), every Open fails with this result.
  void failOpens(const OpenResult& result) { openFailure_ = result; }
  // While set, every WriteFrame fails and records nothing.
  void failWrites(bool fail) { failWrites_ = fail; }
  // Closes the port and emits deviceLost, as the real port does when unplugged.
  void simulateDeviceLost();

  int openCount() const { return openCount_; }
  int closeCount() const { return closeCount_; }

private:
  void deliverChunk();

  bool open_ = false;
  QByteArray rx_;      // readable now
  QByteArray pending_; // fed, waiting for delivery in chunks
  int chunk_ = 0;
  bool deliveryScheduled_ = false;
  QByteArray written_;
  QList<QByteArray> frames_;
  bool failWrites_ = false;
  OpenResult openFailure_{OpenResult::Kind::Ok, 0, {}};
  int openCount_ = 0;
  int closeCount_ = 0;
};
