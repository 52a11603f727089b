#pragma once
// IPv4 text conversion through the platform's inet_addr / inet_ntoa
// (Winsock on Windows, the C library elsewhere: both accept the same forms).

#include <cstdint>
#include <string>

// inet_addr semantics: the network-order result converted to host order.
// Returns 0xFFFFFFFF (INADDR_NONE) when the text is rejected; note that
// "255.255.255.255" gives the same value and counts as rejected too.
std::uint32_t Ipv4FromText(const std::string& text);
inline bool Ipv4TextAccepted(const std::string& text) { return Ipv4FromText(text) != 0xFFFFFFFFu; }

// "a.b.c.d" from a host-order number, first octet from the most significant byte.
std::string Ipv4ToText(std::uint32_t hostOrder);
