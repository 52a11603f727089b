#include "support/fake_serial_port.h"

#include <QMetaObject>
#include <algorithm>
#include <cstring>

FakeSerialPort::FakeSerialPort(QObject* parent) : SerialPort(parent) {}

// OpenFailed when already open, the scripted failure when one is set; otherwise Ok.
OpenResult FakeSerialPort::Open(const LineSettings&) {
  ++openCount_;
  if (!openFailure_.ok()) return openFailure_;
  if (open_) return {OpenResult::Kind::OpenFailed, 0, {}};
  open_ = true;
  // Like the real port: whatever arrived before the opening is purged.
  rx_.clear();
  pending_.clear();
  return {OpenResult::Kind::Ok, 0, {}};
}

// False when closed or writes are scripted to fail.
bool FakeSerialPort::WriteFrame(const std::uint8_t* bytes, std::size_t n) {
  if (!open_ || failWrites_) return false;
  const QByteArray frame(reinterpret_cast<const char*>(bytes), qsizetype(n));
  written_ += frame;
  frames_.append(frame);
  return true;
}

void FakeSerialPort::Close() {
  if (open_) ++closeCount_;
  open_ = false;
}

// 0 when closed.
std::uint16_t FakeSerialPort::RxBytesWaiting() {
  if (!open_) return 0;
  return static_cast<std::uint16_t>(std::min<qsizetype>(rx_.size(), 0xFFFF));
}

// 0 when closed or nothing is waiting.
std::uint16_t FakeSerialPort::ReadPort(std::uint8_t* dest, std::uint16_t n) {
  if (!open_ || dest == nullptr) return 0;
  const auto count = static_cast<std::uint16_t>(std::min<qsizetype>(n, rx_.size()));
  std::memcpy(dest, rx_.constData(), count);
  rx_.remove(0, count);
  return count;
}

void FakeSerialPort::feedReceived(const QByteArray& bytes) {
  if (chunk_ > 0) {
    pending_ += bytes;
    if (!deliveryScheduled_) {
      deliveryScheduled_ = true;
      QMetaObject::invokeMethod(this, &FakeSerialPort::deliverChunk, Qt::QueuedConnection);
    }
    return;
  }
  rx_ += bytes;
  QMetaObject::invokeMethod(
      this, [this] { emit bytesArrived(); }, Qt::QueuedConnection);
}

void FakeSerialPort::deliverChunk() {
  deliveryScheduled_ = false;
  const qsizetype n = std::min<qsizetype>(std::max(chunk_, 1), pending_.size());
  rx_ += pending_.left(n);
  pending_.remove(0, n);
  if (!pending_.isEmpty()) {
    deliveryScheduled_ = true;
    QMetaObject::invokeMethod(this, &FakeSerialPort::deliverChunk, Qt::QueuedConnection);
  }
  emit bytesArrived();
}

void FakeSerialPort::simulateDeviceLost() {
  if (!open_) return;
  Close();
  emit deviceLost();
}
