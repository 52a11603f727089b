#include "link/device_link.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <climits>

DeviceLink::DeviceLink(std::unique_ptr<SerialPort> port, QObject* parent)
    : QObject(parent), port_(std::move(port)) {
  Q_ASSERT(port_);
  // A child, so that moving the link to a worker thread moves its port along.
  port_->setParent(this);
}

DeviceLink::~DeviceLink() = default;

void DeviceLink::Sleep(std::chrono::milliseconds limit) {
  if (aborted_ || !port_->IsOpen()) return;
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  connect(port_.get(), &SerialPort::bytesArrived, &loop, &QEventLoop::quit);
  connect(port_.get(), &SerialPort::deviceLost, &loop, &QEventLoop::quit);
  connect(this, &DeviceLink::abortRequested, &loop, &QEventLoop::quit);
  connect(this, &DeviceLink::wakeRequested, &loop, &QEventLoop::quit);
  if (limit.count() >= 0) timer.start(static_cast<int>(std::min<qint64>(limit.count(), INT_MAX)));
  // The flag may have been set by another thread after the check above; its
  // signal then reaches the loop as a queued quit, but only once connected.
  if (!aborted_) loop.exec();
}

// Never fails; queued, so that it reaches sleeps further up the stack only
// once the one running now has returned.
void DeviceLink::Wake() {
  QMetaObject::invokeMethod(
      this, [this] { emit wakeRequested(); }, Qt::QueuedConnection);
}

// Never fails. Every nested sleep listens to abortRequested, however deep.
void DeviceLink::AbortWaits() {
  aborted_ = true;
  emit abortRequested();
}
