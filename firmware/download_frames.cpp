#include "firmware/download_frames.h"

#include <algorithm>

namespace {

constexpr std::size_t kNameOffset = 4;
constexpr std::size_t kVersionOffset = 17;
constexpr std::size_t kLengthOffset = 26;
constexpr std::size_t kChecksumOffset = 30;
constexpr std::size_t kStartChecksumAt = 32;

// Chunk request and answer share the offset/count header.
constexpr std::size_t kChunkOffsetAt = 4;
constexpr std::size_t kChunkCountAt = 8;
constexpr std::size_t kChunkDataAt = 10;
constexpr std::size_t kChunkOverhead = 12; // header 10, checksum, end byte

void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v & 0xFF);
  p[1] = std::uint8_t(v >> 8);
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t((v >> (8 * i)) & 0xFF);
}

// Copies at most size characters into the zero-filled field at p.
void PutText(std::uint8_t* p, std::size_t size, std::string_view text) {
  const std::size_t n = std::min(text.size(), size);
  for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(text[i]);
}

} // namespace

// Never fails: a name longer than 13 characters is cut to 13, a version to 8.
DownloadStartFrame BuildDownloadStart(std::string_view name, std::string_view version,
                                      std::uint32_t length, std::uint16_t checksum) {
  DownloadStartFrame f{};
  f[0] = k7v::kFrameStart;
  f[1] = k7v::kCmdDownloadStart;
  PutU16(&f[2], std::uint16_t(k7v::kDownloadStartLength));
  PutText(&f[kNameOffset], k7v::kDownloadNameSize, name);
  // One byte of the version field always stays zero.
  PutText(&f[kVersionOffset], k7v::kDownloadVersionSize - 1, version);
  PutU32(&f[kLengthOffset], length);
  PutU16(&f[kChecksumOffset], checksum);
  f[kStartChecksumAt] = Checksum8(f.data(), std::int16_t(kStartChecksumAt));
  f[kStartChecksumAt + 1] = k7v::kFrameEnd;
  return f;
}

// Returns false, leaving out untouched, when the frame is too short to hold
// offset and count.
bool ParseChunkRequest(const TDeviceFrame& frame, ChunkRequest& out) {
  if (frame.bytes == nullptr || frame.length < k7v::kChunkRequestLength) return false;
  const std::uint8_t* p = frame.bytes;
  out.offset = std::uint32_t(p[kChunkOffsetAt]) | std::uint32_t(p[kChunkOffsetAt + 1]) << 8 |
               std::uint32_t(p[kChunkOffsetAt + 2]) << 16 |
               std::uint32_t(p[kChunkOffsetAt + 3]) << 24;
  out.count = std::uint16_t(p[kChunkCountAt] | p[kChunkCountAt + 1] << 8);
  return true;
}

// Returns 0 for a request at or beyond the end of the body (or a negative body
// length), never more than kMaxChunkData.
std::uint16_t ClipChunkCount(ChunkRequest req, std::int32_t bodyLength) {
  std::int64_t count = req.count;
  const std::int64_t rest = std::int64_t(bodyLength) - std::int64_t(req.offset);
  if (count > rest) count = rest;
  // Beyond the end "rest" is negative; such a request gets an empty answer
  // rather than a negative count.
  if (count < 0) count = 0;
  count = std::min<std::int64_t>(count, std::int64_t(k7v::kMaxChunkData));
  return std::uint16_t(count);
}

// Never fails; returns the answer's length, count + 12. The count is further
// cut so that no byte outside image is read.
std::size_t BuildChunkAnswer(ChunkRequest req, std::int32_t bodyLength,
                             std::span<const std::uint8_t> image, ChunkAnswerBuffer& out) {
  std::size_t count = ClipChunkCount(req, bodyLength);
  const std::size_t available = req.offset < image.size() ? image.size() - req.offset : 0;
  count = std::min(count, available);

  const std::size_t total = count + kChunkOverhead;
  out[0] = k7v::kFrameStart;
  out[1] = k7v::kCmdChunk;
  PutU16(&out[2], std::uint16_t(total));
  PutU32(&out[kChunkOffsetAt], req.offset);
  PutU16(&out[kChunkCountAt], std::uint16_t(count));
  if (count > 0)
    std::copy_n(image.begin() + std::ptrdiff_t(req.offset), count, out.begin() + kChunkDataAt);
  out[kChunkDataAt + count] = Checksum8(out.data(), std::int16_t(kChunkDataAt + count));
  out[kChunkDataAt + count + 1] = k7v::kFrameEnd;
  return total;
}
