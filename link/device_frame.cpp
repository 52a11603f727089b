#include "link/device_frame.h"

#include "link/link_constants.h"

// Returns 0 for an empty or negative count.
std::uint8_t Checksum8(const std::uint8_t* bytes, std::int16_t n) {
  if (bytes == nullptr || n <= 0) return 0;
  unsigned sum = 0;
  for (std::int16_t i = 0; i < n; ++i) sum += bytes[i];
  return static_cast<std::uint8_t>(sum & 0xFFu);
}

// Returns false for every code outside 1..8 and 0xE1..0xE4.
bool IsAcceptedCommand(std::uint8_t command) {
  return (command >= 0x01 && command <= 0x08) || (command >= 0xE1 && command <= 0xE4);
}

// Returns 0 when out cannot hold the frame or its length does not fit 16 bits.
std::size_t BuildFrame(std::uint8_t command, std::span<const std::uint8_t> payload,
                       std::span<std::uint8_t> out) {
  const std::size_t length = payload.size() + k7v::kFrameOverhead;
  if (payload.size() > 0xFFFFu - k7v::kFrameOverhead || out.size() < length) return 0;

  out[0] = k7v::kFrameStart;
  out[1] = command;
  out[2] = static_cast<std::uint8_t>(length & 0xFFu);
  out[3] = static_cast<std::uint8_t>((length >> 8) & 0xFFu);
  for (std::size_t i = 0; i < payload.size(); ++i) out[k7v::kPayloadOffset + i] = payload[i];

  // Checksum8 takes a signed 16-bit count, too small for the longest frames
  // this can build; sum here so those still carry a correct checksum.
  unsigned sum = 0;
  for (std::size_t i = 0; i < length - 2; ++i) sum += out[i];
  out[length - 2] = static_cast<std::uint8_t>(sum & 0xFFu);
  out[length - 1] = k7v::kFrameEnd;
  return length;
}
