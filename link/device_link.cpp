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
    : QObject(parent), port_(std::move(port)) {
  Q_ASSERT(port_);
  // A child, so that moving the link to a worker thread moves its port along.
  port_->setParent(this);
  ResetRxBuffer(rx_);
}

DeviceLink::~DeviceLink() = default;

// nullopt when no complete, valid frame has arrived.
std::optional<TDeviceFrame> DeviceLink::ReadFrame() {
  return ::ReadFrame(rx_, *port_, MaxFrameLength);
}

// False when the port is closed or the write failed or timed out.
bool DeviceLink::Write(std::span<const std::uint8_t> bytes) {
  if (!port_->IsOpen()) return false;
  return port_->WriteFrame(bytes.data(), bytes.size());
}

// Timeout when nothing with this command came in time; Aborted when
// AbortWaits ran, or the port closed (a lost device closes it) during the wait.
DeviceLink::Reply DeviceLink::WaitReply(std::uint8_t command, int seconds) {
  return WaitReply(command, std::chrono::milliseconds(qint64(std::max(seconds, 0)) * 1000));
}

// As above, with the limit in milliseconds.
DeviceLink::Reply DeviceLink::WaitReply(std::uint8_t command, std::chrono::milliseconds limit) {
  // A steady clock, not the wrapping millisecond tick: a wait across the
  // tick's wrap must neither end at once nor last 49 days.
  QElapsedTimer clock;
  clock.start();
  const qint64 limitMs = std::max<qint64>(limit.count(), 0);

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
      if (frame->command() == command) return {WaitResult::Reply, *frame};
      qCDebug(lcDeviceLink) << "dropped frame with command" << frame->command()
                            << "while waiting for" << command;
      continue;
    }

    if (aborted_ || !port_->IsOpen()) return {WaitResult::Aborted, {}};
    const qint64 elapsed = clock.elapsed();
    if (elapsed > limitMs) return {WaitResult::Timeout, {}};

    // Bytes the pass could not take in (buffer room ran out) will not be
    // announced again; take them in now as long as that makes progress.
    const std::uint16_t waitingAfter = port_->RxBytesWaiting();
    if (waitingAfter > 0 && waitingAfter < waitingBefore) continue;

    // One millisecond past the limit, so the last pass sees it exceeded.
    timer.start(static_cast<int>(std::min<qint64>(limitMs - elapsed + 1, INT_MAX)));
    loop.exec();
    if (!self) return {WaitResult::Aborted, {}};
  }
}

// False when aborted, the device was lost or the port is closed.
bool DeviceLink::WaitForBytes() {
  return WaitForBytes(std::chrono::milliseconds(-1)) == WaitResult::Reply;
}

// Reply when bytes are waiting; Aborted as WaitReply; Timeout after limit
// (a negative limit never ends by time).
DeviceLink::WaitResult DeviceLink::WaitForBytes(std::chrono::milliseconds limit) {
  if (aborted_ || !port_->IsOpen()) return WaitResult::Aborted;
  if (port_->RxBytesWaiting() > 0) return WaitResult::Reply;

  QPointer<DeviceLink> self(this);
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  bool timedOut = false;
  connect(&timer, &QTimer::timeout, &loop, [&] {
    timedOut = true;
    loop.quit();
  });
  connect(port_.get(), &SerialPort::bytesArrived, &loop, &QEventLoop::quit);
  connect(port_.get(), &SerialPort::deviceLost, &loop, &QEventLoop::quit);
  connect(this, &DeviceLink::abortRequested, &loop, &QEventLoop::quit);
  if (limit.count() >= 0) timer.start(static_cast<int>(std::min<qint64>(limit.count(), INT_MAX)));
  // The flag may have been set by another thread after the check above; its
  // signal then reaches the loop as a queued quit, but only once connected.
  if (!aborted_) loop.exec();
  if (!self) return WaitResult::Aborted;
  if (aborted_ || !port_->IsOpen()) return WaitResult::Aborted;
  if (port_->RxBytesWaiting() > 0) return WaitResult::Reply;
  return timedOut ? WaitResult::Timeout : WaitResult::Reply;
}

// Never fails. Every nested wait listens to abortRequested, however deep.
void DeviceLink::AbortWaits() {
  aborted_ = true;
  emit abortRequested();
}
