#include "platform/ipv4.h"

// nullopt for anything but the four-part dotted decimal form.
std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
  std::uint32_t address = 0;
  std::size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (at >= text.size() || text[at] != '.') return std::nullopt;
      ++at;
    }
    const std::size_t start = at;
    unsigned value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3)
      value = value * 10 + unsigned(text[at++] - '0');
    const std::size_t digits = at - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return std::nullopt;
    address = (address << 8) | value;
  }
  if (at != text.size()) return std::nullopt;
  return address;
}

std::uint32_t Ipv4FromText(std::string_view text) { return ParseIpv4(text).value_or(0xFFFFFFFFu); }

std::string Ipv4ToText(std::uint32_t hostOrder) {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (!out.empty()) out += '.';
    out += std::to_string((hostOrder >> shift) & 0xFFu);
  }
  return out;
}
