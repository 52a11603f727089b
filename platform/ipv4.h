#pragma once
// IPv4 addresses as technicians write them: exactly four decimal parts of
// 0 to 255, a.b.c.d. The lenient forms of the old socket functions are not
// taken: a part with a leading zero would be read as octal there
// (192.168.001.010 became 192.168.1.8), a shortened one filled in (10.1 was
// 10.0.0.1), hex read (0x7f.1) and trailing text dropped ("8.8.8.8 junk").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The form an address must have, for messages that refuse one.
inline constexpr std::string_view kIpv4Form = "192.168.1.10, four numbers 0–255";

// The host-order number (first part in the most significant byte); nullopt
// for anything but four decimal parts 0 to 255 without leading zeros ("0"
// itself is a part), with nothing before, between or after them.
std::optional<std::uint32_t> ParseIpv4(std::string_view text);

// ParseIpv4, with 0xFFFFFFFF for a text that is no address: what a record
// built from such a text holds (it reads back as 255.255.255.255).
std::uint32_t Ipv4FromText(std::string_view text);

// "a.b.c.d" from a host-order number, first part from the most significant
// byte: an address as a unit stores it. Never fails.
std::string Ipv4ToText(std::uint32_t hostOrder);
