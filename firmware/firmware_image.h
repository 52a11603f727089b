#pragma once
// Firmware image files: 8 bytes of version text, then the body the DTU downloads.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Sum of the first n bytes as unsigned values, modulo 65536.
std::uint16_t Sum16(const std::uint8_t* bytes, std::size_t n);

enum class ImageError {
  None,
  NoBody,
  TooLarge
};

struct ImageDescriptor {
  std::string version;        // first 8 bytes up to the first zero
  std::uint32_t length = 0;   // body length: file size - 8
  std::uint16_t checksum = 0; // Sum16 of the body
};

// Describes a whole image file. NoBody for files of 8 bytes or fewer,
// TooLarge for bodies over kFirmwareImageSize.
ImageError DescribeImage(std::span<const std::uint8_t> file, ImageDescriptor& out);

// "dtu.new.bin" -> "dtu.new"; a name without a dot stays whole. Directory removed
// ('/' and '\\' both count as separators).
std::string BareImageName(std::string_view path);
