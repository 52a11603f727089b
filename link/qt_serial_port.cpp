#include "link/qt_serial_port.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QMetaObject>
#include <chrono>
#include <climits>
#include <optional>
#include <type_traits>

#include "link/link_constants.h"
#include "platform/serial_line_state.h"
#include "platform/system_error.h"

Q_LOGGING_CATEGORY(lcSerialPort, "k7v.link.serialport")

namespace {

// Returns false for values outside what a UART can be asked for.
bool SettingsComplete(const LineSettings& s) {
  return s.baudRate > 0 && s.dataBits >= 5 && s.dataBits <= 8;
}

// Returns nullopt for a parity index that leaves the port's own parity.
std::optional<QSerialPort::Parity> ParityFor(int parityIndex) {
  switch (parityIndex) {
  case 0:
    return QSerialPort::NoParity;
  case 1:
    return QSerialPort::OddParity;
  case 2:
    return QSerialPort::EvenParity;
  default:
    return std::nullopt;
  }
}

// Returns Parity::Other for parities the dialog never asks for.
LineFraming::Parity FramingParity(QSerialPort::Parity parity) {
  switch (parity) {
  case QSerialPort::NoParity:
    return LineFraming::Parity::None;
  case QSerialPort::OddParity:
    return LineFraming::Parity::Odd;
  case QSerialPort::EvenParity:
    return LineFraming::Parity::Even;
  default:
    return LineFraming::Parity::Other;
  }
}

// QSerialPort's handle is a descriptor on POSIX and a HANDLE on Windows.
template <typename Handle>
std::intptr_t NativeHandle(Handle handle) {
  if constexpr (std::is_pointer_v<Handle>)
    return reinterpret_cast<std::intptr_t>(handle);
  else
    return static_cast<std::intptr_t>(handle);
}

} // namespace

QtSerialPortLink::QtSerialPortLink(QObject* parent)
    : SerialPort(parent),
      port_(this) // a child, so moving the link to another thread moves the port too
{
  connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPortLink::onErrorOccurred);
  connect(&port_, &QSerialPort::readyRead, this, [this] {
    if (!lost_) emit bytesArrived();
  });
}

QtSerialPortLink::~QtSerialPortLink() {
  // Closing here rather than in QSerialPort's own destructor keeps our error
  // handler from running on a half-destroyed object.
  disconnect(&port_, nullptr, this, nullptr);
  if (port_.isOpen()) port_.close();
}

OpenResult QtSerialPortLink::Open(const LineSettings& settings) {
  // A second open while the first is still in use must not disturb it; the
  // system would refuse a second handle on the same device as well.
  if (port_.isOpen() && !lost_) {
    qCWarning(lcSerialPort) << "open refused: port" << port_.portName() << "is already open";
    return {OpenResult::Kind::OpenFailed, 0, QStringLiteral("already open")};
  }
  if (port_.isOpen())
    port_.close(); // the lost device's handle, if its queued close has not run yet

  // No selection in the dialog leaves nothing to give the port; report it as a
  // refused setting with the platform's "invalid parameter" code, which is what
  // the system itself answers for an impossible line state.
  if (!SettingsComplete(settings)) {
    qCWarning(lcSerialPort) << "open refused: incomplete settings, baud" << settings.baudRate
                            << "data bits" << settings.dataBits;
    return {OpenResult::Kind::SettingsRefused, InvalidParameterError(), {}};
  }

  opening_ = true;
  lost_ = false;
  lastErrorNumber_ = 0;
  port_.setPortName(settings.portName);
  if (!port_.open(QIODevice::ReadWrite)) {
    opening_ = false;
    // The error handler has taken errno as the open left it.
    const int systemError = lastErrorNumber_ != 0 ? lastErrorNumber_ : LastSystemError();
    qCWarning(lcSerialPort) << "cannot open" << settings.portName << ":" << port_.errorString()
                            << "errno" << systemError;
    return {OpenResult::Kind::OpenFailed, systemError, port_.errorString()};
  }

  lastErrorNumber_ = 0;
  if (!port_.setBaudRate(settings.baudRate)) return refuseSettings("baud rate", lastErrorNumber_);
  lastErrorNumber_ = 0;
  if (!port_.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits)))
    return refuseSettings("data bits", lastErrorNumber_);
  const auto stopBits = settings.stopBitsIndex == 1 ? QSerialPort::OneStop : QSerialPort::TwoStop;
  lastErrorNumber_ = 0;
  if (!port_.setStopBits(stopBits)) return refuseSettings("stop bits", lastErrorNumber_);
  const auto parity = ParityFor(settings.parityIndex);
  lastErrorNumber_ = 0;
  if (parity && !port_.setParity(*parity)) return refuseSettings("parity", lastErrorNumber_);

  // The system may accept a request and keep its own framing anyway (a
  // pseudo-terminal always runs 8 bits without parity): what counts is what
  // the device really uses.
  if (const auto actual = ReadLineFraming(NativeHandle(port_.handle()))) {
    if (actual->dataBits != settings.dataBits)
      return refuseSettings("data bits (not taken)", InvalidParameterError());
    if (actual->twoStopBits != (stopBits == QSerialPort::TwoStop))
      return refuseSettings("stop bits (not taken)", InvalidParameterError());
    if (parity && actual->parity != FramingParity(*parity))
      return refuseSettings("parity (not taken)", InvalidParameterError());
  }

  port_.clear(QSerialPort::AllDirections);
  opening_ = false;
  qCDebug(lcSerialPort) << "opened" << port_.portName() << settings.baudRate << settings.dataBits
                        << "stop index" << settings.stopBitsIndex << "parity index"
                        << settings.parityIndex;
  return {OpenResult::Kind::Ok, 0, {}};
}

// Always returns SettingsRefused; a zero code is replaced by the errno of now
// or, failing that, by "invalid parameter" so the technician never sees 0.
OpenResult QtSerialPortLink::refuseSettings(const char* what, int systemError) {
  if (systemError == 0) systemError = LastSystemError();
  if (systemError == 0) systemError = InvalidParameterError();
  qCWarning(lcSerialPort) << "port" << port_.portName() << "refused" << what << "error"
                          << systemError;
  port_.close();
  opening_ = false;
  return {OpenResult::Kind::SettingsRefused, systemError, {}};
}

bool QtSerialPortLink::IsOpen() const { return port_.isOpen() && !lost_; }

bool QtSerialPortLink::WriteFrame(const std::uint8_t* bytes, std::size_t n) {
  if (!IsOpen() || (bytes == nullptr && n > 0)) return false;
  if (n == 0) return true;

  const qint64 written = port_.write(reinterpret_cast<const char*>(bytes), static_cast<qint64>(n));
  if (written != static_cast<qint64>(n)) {
    qCWarning(lcSerialPort) << "write queued" << written << "of" << n << "bytes";
    return false;
  }

  using std::chrono::milliseconds;
  const auto bound = k7v::kWriteTimeoutBase + k7v::kWriteTimeoutPerByte * n;
  const qint64 boundMs = std::chrono::duration_cast<milliseconds>(bound).count();
  QElapsedTimer clock;
  clock.start();
  while (port_.bytesToWrite() > 0) {
    const qint64 left = boundMs - clock.elapsed();
    // The device may vanish while we wait (error handler runs inside).
    if (left <= 0 || !IsOpen() ||
        !port_.waitForBytesWritten(static_cast<int>(qMin<qint64>(left, INT_MAX)))) {
      qCWarning(lcSerialPort) << "write of" << n << "bytes not finished within" << boundMs << "ms";
      return false;
    }
  }
  return IsOpen();
}

void QtSerialPortLink::Close() {
  if (port_.isOpen()) port_.close();
}

std::uint16_t QtSerialPortLink::RxBytesWaiting() {
  if (!IsOpen()) return 0;
  return static_cast<std::uint16_t>(qMin<qint64>(port_.bytesAvailable(), 0xFFFF));
}

std::uint16_t QtSerialPortLink::ReadPort(std::uint8_t* dest, std::uint16_t n) {
  if (!IsOpen() || dest == nullptr || n == 0) return 0;
  const qint64 got = port_.read(reinterpret_cast<char*>(dest), n);
  return got > 0 ? static_cast<std::uint16_t>(got) : 0;
}

void QtSerialPortLink::onErrorOccurred(QSerialPort::SerialPortError error) {
  // Taken first: logging may overwrite errno.
  const int systemError = LastSystemError();
  if (error != QSerialPort::NoError) lastErrorNumber_ = systemError;

  switch (error) {
  case QSerialPort::NoError:
    return;

  // The device has gone away (unplugged, driver error, pty master closed).
  // While Open runs these are open failures, reported by Open itself.
  case QSerialPort::DeviceNotFoundError:
  case QSerialPort::PermissionError:
  case QSerialPort::ReadError:
  case QSerialPort::ResourceError:
    if (opening_ || !port_.isOpen()) {
      qCDebug(lcSerialPort) << "error" << error << "while not in use:" << port_.errorString();
      return;
    }
    declareDeviceLost();
    return;

  case QSerialPort::OpenError:
  case QSerialPort::WriteError:
  case QSerialPort::UnsupportedOperationError:
  case QSerialPort::UnknownError:
  case QSerialPort::TimeoutError:
  case QSerialPort::NotOpenError:
    qCDebug(lcSerialPort) << "error" << error << "ignored:" << port_.errorString() << "errno"
                          << systemError;
    return;
  }
  qCWarning(lcSerialPort) << "unknown serial port error" << int(error);
}

// Idempotent: the first report of a dead device wins. Qt reports a read error
// again on every pass of the event loop while the handle stays open, so the
// port must be closed; but not from inside Qt's own read notification (it
// still touches its read buffer after reporting), hence the queued close.
void QtSerialPortLink::declareDeviceLost() {
  if (lost_) return;
  lost_ = true;
  qCWarning(lcSerialPort) << "device" << port_.portName() << "lost:" << port_.errorString();
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (!lost_) return; // reopened meanwhile
        port_.close();
        emit deviceLost();
      },
      Qt::QueuedConnection);
}
