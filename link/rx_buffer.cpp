#include "link/rx_buffer.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint16_t kBufferSize = static_cast<std::uint16_t>(k7v::kRxBufferSize);
constexpr std::uint16_t kMinFrame = static_cast<std::uint16_t>(k7v::kFrameOverhead);

// Dropping a byte compacts first once this many consumed bytes sit at the front,
// or when more than this many are dropped at once.
constexpr std::uint16_t kCompactThreshold = 100; // bytes

// Returns false when the positions do not describe a state inside Data.
bool Consistent(const TRxBuffer& rx) {
  return rx.WritePos <= kBufferSize && rx.ReadPos + rx.Count == rx.WritePos &&
         rx.WritePos + rx.Free == kBufferSize;
}

// Takes in what is waiting at the port, as much as fits behind WritePos and
// the call's budget allows. Returns the number of bytes taken in; 0 when none.
std::uint16_t TakeIn(TRxBuffer& rx, RxSource& src, std::size_t& budget) {
  if (budget == 0) return 0;
  std::uint16_t n = src.RxBytesWaiting();
  if (n == 0) return 0;
  // Without this a tail of fewer than six bytes left at the very end of Data
  // would never be compacted, and nothing more could ever be received.
  if (rx.Free == 0 && rx.ReadPos > 0) CompactRxBuffer(rx);
  n = static_cast<std::uint16_t>(std::min<std::size_t>({n, rx.Free, budget}));
  if (n == 0) return 0;
  std::uint16_t r = src.ReadPort(rx.Data + rx.WritePos, n);
  r = std::min(r, n); // a source must not push the positions past Data
  rx.WritePos += r;
  rx.Count += r;
  rx.Free -= r;
  budget -= r;
  return r;
}

} // namespace

// Cannot fail.
void ResetRxBuffer(TRxBuffer& rx) {
  rx.Count = 0;
  rx.ReadPos = 0;
  rx.WritePos = 0;
  rx.Free = kBufferSize;
}

// Empties the buffer when its positions are inconsistent; otherwise cannot fail.
void CompactRxBuffer(TRxBuffer& rx) {
  if (!Consistent(rx)) {
    ResetRxBuffer(rx);
    return;
  }
  if (rx.ReadPos > 0 && rx.Count > 0) std::memmove(rx.Data, rx.Data + rx.ReadPos, rx.Count);
  rx.ReadPos = 0;
  rx.WritePos = rx.Count;
  rx.Free = static_cast<std::uint16_t>(kBufferSize - rx.Count);
}

// Drops at most Count bytes; asking for more empties the buffer.
void ConsumeRx(TRxBuffer& rx, std::uint16_t n) {
  n = std::min(n, rx.Count);
  if (rx.ReadPos >= kCompactThreshold || n > kCompactThreshold) CompactRxBuffer(rx);
  rx.ReadPos += n;
  rx.Count -= n;
}

// Returns nullopt when no complete, valid frame has arrived yet, or when this
// call has taken in its budget of bytes without finding one (the next call goes on).
std::optional<TDeviceFrame> ReadFrame(TRxBuffer& rx, RxSource& src, std::uint16_t maxFrameLength) {
  if (!Consistent(rx)) ResetRxBuffer(rx);

  // Bounds the bytes one call takes in, so a port that never runs dry (a
  // stream of noise) cannot keep the caller here for ever.
  std::size_t budget = k7v::kMaxRxBytesPerRead;
  TakeIn(rx, src, budget);

  for (;;) {
    if (rx.Count < kMinFrame) return std::nullopt;

    bool incomplete = false;
    // Every pass drops a byte, returns a frame or leaves: at most Count passes.
    while (rx.Count >= kMinFrame) {
      const std::uint8_t* p = rx.Data + rx.ReadPos;
      if (p[0] != k7v::kFrameStart) {
        ConsumeRx(rx, 1);
        continue;
      }
      const std::uint16_t length = static_cast<std::uint16_t>(p[2] | (p[3] << 8));
      // A frame longer than the buffer could never be completed; treating its
      // header as noise keeps the frames behind it reachable.
      if (length < kMinFrame || length > maxFrameLength || length > kBufferSize) {
        ConsumeRx(rx, 1);
        continue;
      }
      if (rx.Free + rx.Count < length) {
        // Make room behind the candidate and look at it again at once. The
        // waits sleep until new bytes arrive, so a frame that is already in
        // the buffer behind a header that only looked too long must be found
        // by this call, not left for a call that may never come.
        CompactRxBuffer(rx);
        continue;
      }
      if (!IsAcceptedCommand(p[1])) {
        ConsumeRx(rx, 1);
        continue;
      }
      if (rx.Count < length - 1) {
        incomplete = true;
        break;
      }
      if (Checksum8(p, static_cast<std::int16_t>(length - 2)) != p[length - 2]) {
        ConsumeRx(rx, 1);
        continue;
      }
      if (rx.Count < length) {
        incomplete = true;
        break;
      }
      if (p[length - 1] != k7v::kFrameEnd) {
        ConsumeRx(rx, 1);
        continue;
      }

      // Resetting instead of advancing leaves the frame's bytes where they are.
      rx.Count -= length;
      if (rx.Count == 0)
        ResetRxBuffer(rx);
      else
        rx.ReadPos += length;
      return TDeviceFrame{p, length};
    }

    // Each further round takes in at least one byte of the budget, or ends.
    const std::uint16_t taken = TakeIn(rx, src, budget);
    if (incomplete && taken == 0) return std::nullopt;
  }
}
