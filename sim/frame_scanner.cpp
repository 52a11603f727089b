#include "sim/frame_scanner.h"

#include <algorithm>

#include "link/device_frame.h"
#include "link/link_constants.h"

std::size_t FrameScanner::Append(std::span<const std::uint8_t> bytes) {
  const std::size_t keep = std::min(bytes.size(), Room());
  if (head_ > 0 && buf_.size() + keep > kCapacity) Compact();
  buf_.insert(buf_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keep));
  return keep;
}

void FrameScanner::Compact() {
  buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(head_));
  head_ = 0;
}

std::uint8_t FrameScanner::PopFront() {
  if (Empty()) return 0;
  const std::uint8_t b = buf_[head_++];
  if (head_ == buf_.size()) {
    buf_.clear();
    head_ = 0;
  } else if (head_ >= 4096) {
    Compact();
  }
  return b;
}

FrameScanner::Item FrameScanner::Next(bool flushPartial) {
  Item item;
  const std::size_t n = Size();
  if (n == 0) return item;
  const std::uint8_t* p = buf_.data() + head_;
  auto drop = [&]() {
    item.kind = Kind::Noise;
    item.noise = PopFront();
    return item;
  };
  auto incomplete = [&]() {
    if (flushPartial) return drop();
    return item; // NeedMore
  };

  if (p[0] != k7v::kFrameStart) return drop();
  if (n < k7v::kPayloadOffset) return incomplete();
  const std::size_t length = std::size_t(p[2]) | (std::size_t(p[3]) << 8);
  if (length < k7v::kFrameOverhead || length > k7v::kMaxFrameLength || !IsAcceptedCommand(p[1]))
    return drop();
  if (n < length) return incomplete();
  if (Checksum8(p, static_cast<std::int16_t>(length - 2)) != p[length - 2] ||
      p[length - 1] != k7v::kFrameEnd)
    return drop();

  item.kind = Kind::Frame;
  item.frame.assign(p, p + length);
  head_ += length;
  if (head_ == buf_.size()) {
    buf_.clear();
    head_ = 0;
  }
  return item;
}
