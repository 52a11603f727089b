#include "params/hex_text.h"

#include <algorithm>
#include <cstddef>

namespace {

// Value of a hexadecimal digit, or -1. Everything that is not a digit is a
// separator to HexToBytes; pasted text may hold letters beyond F or bytes
// above 0x7F, and treating them as separators keeps the parse predictable.
int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

} // namespace

// Returns an empty text for a null source, a count <= 0 or a capacity <= 1.
std::string BytesToHex(const std::uint8_t* bytes, int count, int capacity) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  if (bytes == nullptr || count <= 0 || capacity <= 1) return out;
  // The last character of the buffer always stays zero, so at most
  // capacity - 1 characters are written (43 whole bytes for 130).
  const std::size_t room = std::size_t(capacity) - 1;
  out.reserve(std::min(room, std::size_t(count) * 3));
  for (int i = 0; i < count && out.size() < room; ++i) {
    const char group[3] = {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 0x0F], ' '};
    for (char ch : group) {
      if (out.size() == room) break;
      out.push_back(ch);
    }
  }
  return out;
}

// Never fails; a length beyond the text is cut at the text's end, a negative
// one gives no bytes.
std::vector<std::uint8_t> HexToBytes(std::string_view text, int length) {
  std::vector<std::uint8_t> out;
  if (length <= 0) return out;
  const std::size_t n = std::min(text.size(), std::size_t(length));
  std::size_t i = 0;
  while (n - i >= 2) {
    const int high = HexValue(static_cast<unsigned char>(text[i]));
    if (high < 0) {
      ++i;
      continue;
    }
    // A digit is always taken as a pair with the character after it; a lone
    // digit before a separator is dropped together with that separator.
    const int low = HexValue(static_cast<unsigned char>(text[i + 1]));
    if (low >= 0) out.push_back(std::uint8_t((high << 4) | low));
    i += 2;
  }
  return out;
}
