#pragma once
// Frames of the firmware download: the 0xE1 announcement and the 0xE2 chunk answers.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "link/device_frame.h"
#include "link/link_constants.h"

using DownloadStartFrame = std::array<std::uint8_t, k7v::kDownloadStartLength>;

// 34 bytes: AA E1 22 00, name (13, zero-padded, cut at 13), version (9, cut at 8),
// length u32, checksum u16, Checksum8 of bytes 0..31, BB.
DownloadStartFrame BuildDownloadStart(std::string_view name, std::string_view version,
                                      std::uint32_t length, std::uint16_t checksum);

struct ChunkRequest {
  std::uint32_t offset = 0;
  std::uint16_t count = 0;
};
// Reads offset and count from a 0xE2 request; nullopt-like false when the frame
// is too short to hold them.
bool ParseChunkRequest(const TDeviceFrame& frame, ChunkRequest& out);

// Count actually sent for a request against a body of length L: cut at the end
// of the body (0 at or beyond it) and at kMaxChunkData.
std::uint16_t ClipChunkCount(ChunkRequest req, std::int32_t bodyLength);

using ChunkAnswerBuffer = std::array<std::uint8_t, k7v::kChunkAnswerCapacity>;
// Builds the answer (AA E2 len offset count data Checksum8 BB) into out from
// image (the FirmwareImage buffer); returns the answer's length (count + 12).
std::size_t BuildChunkAnswer(ChunkRequest req, std::int32_t bodyLength,
                             std::span<const std::uint8_t> image, ChunkAnswerBuffer& out);
