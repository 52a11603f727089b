// libFuzzer target for the receive parser. The input describes a byte stream
// (valid frames, damaged frames, oversize headers, noise) and how it trickles
// in; the frames ReadFrame finds must be exactly those a plain whole-stream
// scanner finds, and every call must come back with the buffer consistent.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "link/device_frame.h"
#include "link/link_constants.h"
#include "link/rx_buffer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kMaxStream = 16 * 1024; // bytes; keeps one run quick
constexpr std::size_t kBufferLimit = 1024;    // longest frame the buffer can hold

[[noreturn]] void Fail(const char* what, std::size_t a = 0, std::size_t b = 0) {
  std::fprintf(stderr, "fuzz_read_frame: %s (%zu, %zu)\n", what, a, b);
  std::abort();
}

// Reads the fuzzer's bytes in order; 0 once they are used up.
class Input {
public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t u16() { return std::uint16_t(byte() | (byte() << 8)); }

private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// splitmix64: bulk bytes (long payloads, arrival sizes) from a short seed.
class Rng {
public:
  explicit Rng(std::uint64_t seed) : s_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return n == 0 ? 0 : std::size_t(next() % n); }

private:
  std::uint64_t s_;
};

constexpr std::uint8_t kAccepted[] = {1, 2, 3, 4, 5, 6, 7, 8, 0xE1, 0xE2, 0xE3, 0xE4};
constexpr std::uint8_t kRefused[] = {0x00, 0x09, 0x10, 0x7F, 0xAA, 0xBB, 0xE0, 0xE5, 0xFF};

Bytes Payload(Input& in) {
  const std::uint8_t kind = in.byte();
  Bytes payload;
  if (kind < 128) { // short, straight from the input
    payload.resize(kind % 24);
    for (auto& b : payload) b = in.byte();
  } else { // up to the longest that fits, filled from a seed
    payload.resize(in.u16() % (kBufferLimit - 6 + 1));
    Rng rng(in.byte());
    for (auto& b : payload) b = std::uint8_t(rng.next());
  }
  return payload;
}

Bytes ValidFrame(Input& in) {
  const std::uint8_t command = kAccepted[in.byte() % sizeof kAccepted];
  const Bytes payload = Payload(in);
  Bytes out(payload.size() + 6);
  if (BuildFrame(command, payload, out) != out.size())
    Fail("BuildFrame refused a frame", payload.size());
  return out;
}

Bytes DamagedFrame(Input& in) {
  Bytes f = ValidFrame(in);
  const std::size_t L = f.size();
  switch (in.byte() % 7) {
  case 0:
    f[1] = kRefused[in.byte() % sizeof kRefused];
    break;
  case 1: {
    static const std::uint16_t lengths[] = {0, 5, 1501, 0xFFFF, 1025, 1500};
    const std::uint8_t k = in.byte() % 9;
    std::uint16_t v = k < 6    ? lengths[k]
                      : k == 6 ? std::uint16_t(L - 1)
                      : k == 7 ? std::uint16_t(L + 1)
                               : in.u16();
    f[2] = std::uint8_t(v & 0xFF);
    f[3] = std::uint8_t(v >> 8);
    break;
  }
  case 2:
    f[L - 2] = std::uint8_t(f[L - 2] + 1 + in.byte() % 255);
    break;
  case 3:
    f[L - 1] = std::uint8_t(0xBB ^ (1 + in.byte() % 255));
    break;
  case 4:
    f.resize(in.u16() % L);
    break;
  case 5:
    f[in.u16() % L] ^= std::uint8_t(1 + in.byte() % 255);
    break;
  default: { // a whole frame hidden inside another one's payload
    const Bytes inner = ValidFrame(in);
    Bytes outer(f.begin(), f.begin() + 4);
    outer.insert(outer.end(), inner.begin(), inner.end());
    outer.insert(outer.end(), f.begin() + 4, f.end());
    const std::size_t n = outer.size();
    outer[2] = std::uint8_t(n & 0xFF);
    outer[3] = std::uint8_t(n >> 8);
    if (in.byte() & 1) // leave the outer checksum wrong, or fix it
      outer[n - 2] = Checksum8(outer.data(), std::int16_t(n - 2));
    f = outer;
    break;
  }
  }
  return f;
}

// A header whose length can pass the range check but never fit the buffer.
Bytes OversizeHeader(Input& in) {
  const std::uint16_t L =
      std::uint16_t(kBufferLimit + 1 + in.u16() % (k7v::kMaxFrameLength - kBufferLimit));
  Bytes f = {0xAA, kAccepted[in.byte() % sizeof kAccepted], std::uint8_t(L & 0xFF),
             std::uint8_t(L >> 8)};
  Rng rng(in.byte());
  for (std::size_t k = in.byte() % 40; k > 0; --k) f.push_back(std::uint8_t(rng.next()));
  return f;
}

Bytes Noise(Input& in) {
  Bytes out(1 + in.byte() % 64);
  for (auto& b : out) b = in.byte();
  return out;
}

// The frames of a complete stream, found by looking at every position in turn.
std::vector<Bytes> ReferenceScan(const Bytes& s) {
  std::vector<Bytes> frames;
  std::size_t i = 0;
  while (s.size() - i >= 6) {
    const std::uint8_t* p = s.data() + i;
    const std::size_t left = s.size() - i;
    const std::size_t L = std::size_t(p[2]) + 256 * std::size_t(p[3]);
    const bool commandOk = (p[1] >= 1 && p[1] <= 8) || (p[1] >= 0xE1 && p[1] <= 0xE4);
    if (p[0] == 0xAA && L >= 6 && L <= kBufferLimit && commandOk) {
      if (left < L - 1) break; // waits for bytes that never come
      std::uint8_t sum = 0;
      for (std::size_t k = 0; k + 2 < L; ++k) sum = std::uint8_t(sum + p[k]);
      if (sum == p[L - 2]) {
        if (left < L) break;
        if (p[L - 1] == 0xBB) {
          frames.emplace_back(p, p + L);
          i += L;
          continue;
        }
      }
    }
    ++i;
  }
  return frames;
}

// Hands out the stream as far as it has "arrived", in take-ins of varying size.
class ScriptedRx : public RxSource {
public:
  ScriptedRx(const Bytes& s, Rng& rng, std::size_t maxCap, bool shortReads)
      : stream_(s), rng_(rng), maxCap_(maxCap), shortReads_(shortReads) {}

  std::size_t arrived = 0;
  std::size_t read = 0;
  std::size_t queries = 0;

  std::uint16_t RxBytesWaiting() override {
    ++queries;
    const std::size_t cap = 1 + rng_.below(maxCap_);
    std::size_t n = arrived - read;
    if (n > cap) n = cap;
    return std::uint16_t(n > 0xFFFF ? 0xFFFF : n);
  }
  std::uint16_t ReadPort(std::uint8_t* dest, std::uint16_t n) override {
    std::size_t k = n;
    if (k > arrived - read) k = arrived - read;
    if (shortReads_ && k > 1 && (rng_.next() & 3) == 0) k = 1 + rng_.below(k);
    for (std::size_t j = 0; j < k; ++j) dest[j] = stream_[read + j];
    read += k;
    return std::uint16_t(k);
  }

private:
  const Bytes& stream_;
  Rng& rng_;
  std::size_t maxCap_;
  bool shortReads_;
};

void CheckInvariants(const TRxBuffer& rx) {
  if (rx.ReadPos + rx.Count != rx.WritePos)
    Fail("ReadPos + Count != WritePos", rx.ReadPos + rx.Count, rx.WritePos);
  if (rx.WritePos + rx.Free != k7v::kRxBufferSize)
    Fail("WritePos + Free != buffer size", rx.WritePos, rx.Free);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);

  // How the stream trickles in: arrival pieces and take-in sizes.
  static const std::size_t kSizes[] = {1, 3, 8, 64, 700, 1024, 5000};
  const std::uint8_t mode = in.byte();
  const std::size_t maxPiece = kSizes[mode % 7];
  const std::size_t maxCap = kSizes[(mode / 7) % 7];
  const bool shortReads = (mode & 0x80) != 0;
  Rng rng(in.byte() | (std::uint64_t(in.byte()) << 8));

  Bytes stream;
  while (!in.empty() && stream.size() < kMaxStream) {
    Bytes part;
    switch (in.byte() % 8) {
    case 0:
    case 1:
    case 2:
      part = ValidFrame(in);
      break;
    case 3:
    case 4:
      part = DamagedFrame(in);
      break;
    case 5:
    case 6:
      part = Noise(in);
      break;
    default:
      part = OversizeHeader(in);
      break;
    }
    stream.insert(stream.end(), part.begin(), part.end());
  }

  const std::vector<Bytes> expected = ReferenceScan(stream);

  std::vector<Bytes> found;
  TRxBuffer rx;
  ScriptedRx src(stream, rng, maxCap, shortReads);
  // Each call yields a frame, takes in at least one byte, or follows an arrival.
  const std::size_t maxCalls = 3 * stream.size() + 16;
  for (std::size_t calls = 0;; ++calls) {
    if (calls > maxCalls) Fail("ReadFrame calls never end", calls, stream.size());
    const bool allArrived = src.arrived == stream.size();
    const std::size_t readBefore = src.read;
    const std::size_t queriesBefore = src.queries;

    const auto f = ReadFrame(rx, src);

    CheckInvariants(rx);
    if (src.read - readBefore > k7v::kMaxRxBytesPerRead)
      Fail("one call took in too much", src.read - readBefore);
    if (src.queries - queriesBefore > k7v::kMaxRxBytesPerRead + 2)
      Fail("one call queried the port too often", src.queries - queriesBefore);

    if (f) {
      if (f->length < 6 || f->length > kBufferLimit || f->bytes < rx.Data ||
          f->bytes + f->length > rx.Data + k7v::kRxBufferSize)
        Fail("frame outside the buffer", f->length);
      found.emplace_back(f->bytes, f->bytes + f->length);
    } else if (allArrived && readBefore == stream.size()) {
      break; // a call with nothing new to take in has scanned all it holds
    } else if (!allArrived) {
      const std::size_t piece = 1 + rng.below(maxPiece);
      src.arrived = stream.size() - src.arrived < piece ? stream.size() : src.arrived + piece;
    }
  }

  if (found.size() != expected.size())
    Fail("frame count differs from the reference", found.size(), expected.size());
  for (std::size_t k = 0; k < found.size(); ++k)
    if (found[k] != expected[k]) Fail("frame differs from the reference", k, found[k].size());
  return 0;
}
