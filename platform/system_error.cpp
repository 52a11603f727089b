#include "platform/system_error.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Returns 0 when the thread has no recorded error.
int LastSystemError() { return static_cast<int>(::GetLastError()); }

// Never fails.
int InvalidParameterError() { return ERROR_INVALID_PARAMETER; }

// "error N" when the system has no text for the code.
std::string SystemErrorText(int code) {
  wchar_t* buffer = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (n > 0 && buffer != nullptr) {
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), nullptr, 0,
                                            nullptr, nullptr);
    text.resize(bytes > 0 ? static_cast<std::size_t>(bytes) : 0);
    if (bytes > 0)
      ::WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(n), text.data(), bytes, nullptr,
                            nullptr);
  }
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text.empty() ? "error " + std::to_string(code) : text;
}

// Never fails.
bool IsPermissionError(int code) { return code == ERROR_ACCESS_DENIED; }

// Windows grants serial ports to every user: no group.
std::string SerialAccessGroup() { return {}; }

#else
#include <cerrno>
#include <cstring>

// Returns 0 when errno holds no error.
int LastSystemError() { return errno; }

// Never fails.
int InvalidParameterError() { return EINVAL; }

// "error N" when the system has no text for the code.
std::string SystemErrorText(int code) {
  char buffer[256] = {};
  // The XSI strerror_r fills the buffer; the GNU one may return a static text.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  const char* text = ::strerror_r(code, buffer, sizeof buffer);
#else
  const char* text = ::strerror_r(code, buffer, sizeof buffer) == 0 ? buffer : nullptr;
#endif
  if (text == nullptr || *text == '\0') return "error " + std::to_string(code);
  return text;
}

// Never fails.
bool IsPermissionError(int code) { return code == EACCES || code == EPERM; }

// Never fails.
std::string SerialAccessGroup() {
#ifdef __linux__
  return "dialout";
#else
  return {};
#endif
}
#endif
