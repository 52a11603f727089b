#pragma once
// Code page 936 (GBK), the encoding of the texts inside device records, as
// plain C++: iconv on POSIX systems, the Windows code page functions there,
// and in WebAssembly, whose C library has no GBK, a table made at build time
// from the build machine's iconv.
// Both directions work one character at a time, so a cut never falls inside
// a double-byte character and every unclean spot is reported.

#include <cstddef>
#include <string>
#include <string_view>

namespace cp936 {

struct Decoded {
  std::string utf8;  // the text; each byte sequence that is not GBK became U+FFFD
  bool clean = true; // false when any replacement was made
};

// GBK bytes to UTF-8, as the window's Qt codec decodes them. A lead byte
// whose second byte does not make a character becomes one U+FFFD (the second
// byte is read again on its own); a lead byte at the very end is dropped.
// Either makes the result unclean. 0xFF is U+F8F5, as on Windows. Never fails.
Decoded ToUtf8(std::string_view gbk);

struct Encoded {
  std::string bytes; // GBK; characters GBK lacks and bad UTF-8 became '?'
  bool clean = true; // false when any '?' was put in
  bool cut = false;  // true when maxBytes stopped the text before its end
};

// UTF-8 to GBK, at most maxBytes, never ending in half a character. Never fails.
Encoded FromUtf8(std::string_view utf8, std::size_t maxBytes = std::string::npos);

// Bytes the text takes in GBK (a character GBK lacks counts one, its '?').
std::size_t ByteLength(std::string_view utf8);

} // namespace cp936
