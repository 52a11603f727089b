#pragma once
// The DTU frame: AA, command, 16-bit little-endian total length L, payload,
// Checksum8 of the first L-2 bytes, BB.

#include <cstddef>
#include <cstdint>
#include <span>

// Sum of the first n bytes modulo 256; 0 when n <= 0.
std::uint8_t Checksum8(const std::uint8_t* bytes, std::int16_t n);

// True for the command codes the receive parser accepts: 1..8 and 0xE1..0xE4.
bool IsAcceptedCommand(std::uint8_t command);

// A received frame, held in place inside the receive buffer. Valid until the
// next ReadFrame on the same buffer.
struct TDeviceFrame {
  const std::uint8_t* bytes = nullptr;
  std::uint16_t length = 0; // total length L, start and end byte included

  std::uint8_t command() const { return bytes[1]; }
  std::span<const std::uint8_t> payload() const { return {bytes + 4, std::size_t(length) - 6}; }
  std::span<const std::uint8_t> whole() const { return {bytes, length}; }
};

// Writes a frame with the given command and payload into out.
// Returns the total length, or 0 when out is too small or the frame would be
// longer than 65535 bytes (nothing useful is written then).
std::size_t BuildFrame(std::uint8_t command, std::span<const std::uint8_t> payload,
                       std::span<std::uint8_t> out);
