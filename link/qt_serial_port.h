#pragma once
// The PC's real serial port, over Qt SerialPort.
//
// Port names: on Windows "COM12" opens \\.\COM12; elsewhere a bare name such as
// "ttyUSB0" means /dev/ttyUSB0 and a name starting with "/" is used as it
// stands (that is how a pseudo-terminal such as the DTU simulator's is reached).

#include <QSerialPort>

#include "link/serial_port.h"

class QtSerialPortLink : public SerialPort {
  Q_OBJECT
public:
  explicit QtSerialPortLink(QObject* parent = nullptr);
  ~QtSerialPortLink() override;

  // OpenFailed when the device cannot be opened or is already open here;
  // SettingsRefused (port closed again) when a line setting is refused or
  // missing (baud rate or data bits 0).
  OpenResult Open(const LineSettings& settings) override;
  // False when closed or once the device has been declared lost.
  bool IsOpen() const override;
  // False when closed, lost, or not all bytes left within the write bound.
  bool WriteFrame(const std::uint8_t* bytes, std::size_t n) override;
  // Never fails; closing a closed port does nothing.
  void Close() override;

  // 0 when closed or lost; at most 65535.
  std::uint16_t RxBytesWaiting() override;
  // 0 when closed, lost or the read fails.
  std::uint16_t ReadPort(std::uint8_t* dest, std::uint16_t n) override;

private:
  void onErrorOccurred(QSerialPort::SerialPortError error);
  void declareDeviceLost();
  OpenResult refuseSettings(const char* what, int systemError);

  QSerialPort port_;
  bool opening_ = false;    // errors raised while Open runs belong to Open
  bool lost_ = false;       // the current opening has lost its device
  int lastErrorNumber_ = 0; // system error number captured with the last Qt error
};
