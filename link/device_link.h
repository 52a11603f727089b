#pragma once
// The device link: the one serial port (CommHandle), the receive buffer and the
// waits for the DTU's answers. Waits run a nested event loop that wakes on
// arriving bytes, on its timer, or when the link is aborted (window closed,
// port lost), so the window stays responsive without busy polling.
//
// One link belongs to one thread: it, its port and its waits live there.
// AbortWaits alone may be called from any thread.

#include <QObject>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>

#include "link/rx_buffer.h"
#include "link/serial_port.h"

class DeviceLink : public QObject {
  Q_OBJECT
public:
  explicit DeviceLink(std::unique_ptr<SerialPort> port, QObject* parent = nullptr);
  ~DeviceLink() override;

  SerialPort& CommHandle() { return *port_; }
  TRxBuffer& Rx() { return rx_; }

  bool LinkConnected = false;
  std::uint16_t MaxFrameLength = k7v::kMaxFrameLength;

  void ResetRx() { ResetRxBuffer(rx_); }
  // Next complete frame from what has arrived; nullopt when none.
  std::optional<TDeviceFrame> ReadFrame();
  // Writes a whole frame; false when the port is closed or the write failed.
  bool Write(std::span<const std::uint8_t> bytes);

  enum class WaitResult {
    Reply,
    Timeout,
    Aborted
  };
  struct Reply {
    WaitResult result = WaitResult::Timeout;
    TDeviceFrame frame; // valid for Reply, until the next ReadFrame
  };
  // Waits up to seconds for a frame with this command; frames with other codes
  // are dropped. At least one pass always runs.
  Reply WaitReply(std::uint8_t command, int seconds);
  Reply WaitReply(std::uint8_t command, std::chrono::milliseconds limit);

  // Sleeps until bytes arrive or the link is aborted; false when aborted.
  // For loops that have no time-out of their own (firmware download).
  bool WaitForBytes();
  // The same, ending as Timeout when nothing arrives within limit.
  WaitResult WaitForBytes(std::chrono::milliseconds limit);

  // Ends every wait in progress as aborted (window closing, port lost, a
  // cancel), and every later wait at once until ClearAbort. Thread-safe.
  void AbortWaits();
  bool Aborted() const { return aborted_.load(); }
  void ClearAbort() { aborted_.store(false); }

signals:
  void abortRequested();

private:
  std::unique_ptr<SerialPort> port_;
  TRxBuffer rx_;
  std::atomic<bool> aborted_{false};
};
