#pragma once
// TSysInfo: the product information block of the command 7 answer.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

inline constexpr std::size_t kSysInfoSnBytes = 16; // the longest serial number a unit reports

struct TSysInfo {
  std::string product_type;  // payload 0, 4 bytes
  std::string product_model; // payload 4, 12 bytes
  std::string serial_type;   // payload 16, 4 bytes
  std::string sn;            // payload 33, 16 bytes
};

// Reads the four texts from a command 7 payload. A field that the payload does
// not hold whole is left empty; nothing beyond payload is read.
TSysInfo ParseSysInfo(std::span<const std::uint8_t> payload);
