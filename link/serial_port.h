#pragma once
// The PC's serial port as the frame layer sees it. The real port is Qt
// SerialPort (QtSerialPortLink); tests use a fake that they can feed.
// The port never touches widgets: the window decides what the technician sees.

#include <QObject>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "link/rx_buffer.h"

// Line settings as the link settings dialog gives them.
struct LineSettings {
  QString portName;      // COM3, ttyUSB0 or a full device path
  int baudRate = 0;      // 0: no value chosen
  int dataBits = 0;      // 0: no value chosen
  int stopBitsIndex = 1; // dialog list "2","1": index 1 is one stop bit, any other two
  int parityIndex = 0;   // 0 none, 1 odd, 2 even, other: leave as the port has it
};

struct OpenResult {
  enum class Kind {
    Ok,
    OpenFailed,
    SettingsRefused
  };
  Kind kind = Kind::OpenFailed;
  int systemError = 0; // the platform's error number; 0 when there is none to give
  QString systemText;  // the port's words for an open failure; empty: take them from systemError
  bool ok() const { return kind == Kind::Ok; }
};

class SerialPort : public QObject, public RxSource {
  Q_OBJECT
public:
  using QObject::QObject;
  ~SerialPort() override = default;

  // Opens and configures the port; on SettingsRefused the port is closed again.
  virtual OpenResult Open(const LineSettings& settings) = 0;
  virtual bool IsOpen() const = 0;
  // Writes the whole frame; false when it could not be written within
  // kWriteTimeoutBase + kWriteTimeoutPerByte per byte.
  virtual bool WriteFrame(const std::uint8_t* bytes, std::size_t n) = 0;
  virtual void Close() = 0;

signals:
  // Bytes have arrived and can be read.
  void bytesArrived();
  // The device is gone (unplugged, read error). Emitted once; the port is
  // already closed when it arrives.
  void deviceLost();
};
