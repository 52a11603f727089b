#include "link/device_link.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <climits>

Q_LOGGING_CATEGORY(lcDeviceLink, "k7v.link.wait")

DeviceLink::DeviceLink(std::unique_ptr<SerialPort> port, QObject* parent)
  : QObject(parent)
  , port_(std::move(port))
{
  Q_ASSERT(port_);
  ResetRxBuffer(rx_);
}

DeviceLink::~DeviceLink() = default;

// nullopt when no complete, valid frame has arrived.
std::optional<TDeviceFrame> DeviceLink::ReadFrame()
{
  return ::ReadFrame(rx_, *port_, MaxFrameLength);
}

// False when the port is closed or the write failed or timed out.
bool DeviceLink::Write(std::span<const std::uint8_t> bytes)
{
  if (!port_->IsOpen())
    return false;
  return port_->WriteFrame(bytes.data(), bytes.size());
}

// Timeout when nothing with this command came in time; Aborted when
// AbortWaits ran, or the port closed (a lost device closes it) during the wait.
DeviceLink::Reply DeviceLink::WaitReply(std::uint8_t command, int seconds)
{
  // A steady clock, not the wrapping millisecond tick: a wait across the
  // tick's wrap must neither end at once nor last 49 days.
  QElapsedTimer clock;
  clock.start();
  const qint64 limitMs = qint64(std::max(seconds, 0)) * 1000;

  QPointer<DeviceLink> self(this);
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  connect(port_.get(), &SerialPort::bytesArrived, &loop, &QEventLoop::quit);
  connect(port_.get(), &SerialPort::deviceLost, &loop, &QEventLoop::quit);
  connect(this, &DeviceLink::abortRequested, &loop, &QEventLoop::quit);

  for (;;) {
    // One pass: take in what has arrived and scan it. Frames for other
    // commands are consumed and dropped; the scan goes on at once, since
    // more frames may already be in the buffer.
    const std::uint16_t waitingBefore = port_->RxBytesWaiting();
    if (const auto frame = ReadFrame()) {
      if (frame->command() == command)
        return {WaitResult::Reply, *frame};
      qCDebug(lcDeviceLink) << "dropped frame with command" << frame->command() << "while waiting for"
                            << command;
      continue;
    }

    if (aborted_ || !port_->IsOpen())
      return {WaitResult::Aborted, {}};
    const qint64 elapsed = clock.elapsed();
    if (elapsed > limitMs)
      return {WaitResult::Timeout, {}};

    // Bytes the pass could not take in (buffer room ran out) will not be
    // announced again; take them in now as long as that makes progress.
    const std::uint16_t waitingAfter = port_->RxBytesWaiting();
    if (waitingAfter > 0 && waitingAfter < waitingBefore)
      continue;

    // One millisecond past the limit, so the last pass sees it exceeded.
    timer.start(static_cast<int>(std::min<qint64>(limitMs - elapsed + 1, INT_MAX)));
    loop.exec();
    if (!self)
      return {WaitResult::Aborted, {}};
  }
}

// False when aborted, the device was lost or the port is closed.
bool DeviceLink::WaitForBytes()
{
  if (aborted_ || !port_->IsOpen())
    return false;
  if (port_->RxBytesWaiting() > 0)
    return true;

  QPointer<DeviceLink> self(this);
  QEventLoop loop;
  connect(port_.get(), &SerialPort::bytesArrived, &loop, &QEventLoop::quit);
  connect(port_.get(), &SerialPort::deviceLost, &loop, &QEventLoop::quit);
  connect(this, &DeviceLink::abortRequested, &loop, &QEventLoop::quit);
  loop.exec();
  if (!self)
    return false;
  return !aborted_ && port_->IsOpen();
}

// Never fails. Every nested wait listens to abortRequested, however deep.
void DeviceLink::AbortWaits()
{
  aborted_ = true;
  emit abortRequested();
}
