#include "platform/ipv4.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

namespace {

#ifdef _WIN32
// Winsock wants WSAStartup before its calls; done once, kept for the process.
void EnsureWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  (void)started;
}
#else
void EnsureWinsock() {}
#endif

} // namespace

std::uint32_t Ipv4FromText(const std::string& text) {
  EnsureWinsock();
  return ntohl(static_cast<std::uint32_t>(inet_addr(text.c_str())));
}

std::string Ipv4ToText(std::uint32_t hostOrder) {
  EnsureWinsock();
  in_addr addr{};
  addr.s_addr = htonl(hostOrder);
  const char* text = inet_ntoa(addr);
  return text ? std::string(text) : std::string();
}
