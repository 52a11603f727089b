#include "params/sys_info.h"

#include <algorithm>
#include <cstddef>

namespace {

// Where the shown texts sit in the command 7 payload. Bytes 20..32 are not
// shown and not read.
struct SysInfoText {
  std::size_t offset;
  std::size_t size;
};
constexpr SysInfoText kProductType{0, 4};
constexpr SysInfoText kProductModel{4, 12};
constexpr SysInfoText kSerialType{16, 4};
constexpr SysInfoText kSerialNumber{33, kSysInfoSnBytes};

// Returns an empty text when the payload does not hold the whole field, so a
// short answer never makes us read past the received frame.
std::string ReadText(std::span<const std::uint8_t> payload, SysInfoText field) {
  if (payload.size() < field.offset + field.size) return {};
  const auto bytes = payload.subspan(field.offset, field.size);
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t(0));
  return std::string(bytes.begin(), end);
}

} // namespace

// Never fails; fields the payload does not hold whole are empty.
TSysInfo ParseSysInfo(std::span<const std::uint8_t> payload) {
  TSysInfo info;
  info.product_type = ReadText(payload, kProductType);
  info.product_model = ReadText(payload, kProductModel);
  info.serial_type = ReadText(payload, kSerialType);
  info.sn = ReadText(payload, kSerialNumber);
  return info;
}
