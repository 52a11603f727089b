#include "firmware/firmware_image.h"

#include <algorithm>
#include <string_view>

#include "link/link_constants.h"

// Returns 0 for a null block.
std::uint16_t Sum16(const std::uint8_t* bytes, std::size_t n) {
  if (bytes == nullptr) return 0;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += bytes[i];
  return std::uint16_t(sum & 0xFFFF);
}

// Returns NoBody or TooLarge and leaves out untouched when the file cannot be
// downloaded.
ImageError DescribeImage(std::span<const std::uint8_t> file, ImageDescriptor& out) {
  if (file.size() <= k7v::kImageVersionSize) return ImageError::NoBody;
  const auto body = file.subspan(k7v::kImageVersionSize);
  if (body.size() > k7v::kFirmwareImageSize) return ImageError::TooLarge;

  const auto version = file.first(k7v::kImageVersionSize);
  const auto end = std::find(version.begin(), version.end(), std::uint8_t(0));
  out.version.assign(version.begin(), end);
  out.length = std::uint32_t(body.size());
  out.checksum = Sum16(body.data(), body.size());
  return ImageError::None;
}

// Never fails; an empty path gives an empty name.
std::string BareImageName(std::string_view path) {
  const auto slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name);
}
