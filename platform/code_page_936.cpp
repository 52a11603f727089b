#include "platform/code_page_936.h"

#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#elif defined(K7V_CP936_TABLE)
#include <algorithm>
#include <array>
#include <vector>
#else
#include <iconv.h>
#endif

namespace {

#ifdef _WIN32
constexpr unsigned kCodePage = 936; // for the Windows code page functions
#endif
constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD in UTF-8
// Windows maps the byte 0xFF of code page 936 to U+F8F5, a private-use
// character, and back; iconv knows no such byte. Done here for both.
constexpr std::uint8_t kLastByte = 0xFF;
constexpr char kLastByteUtf8[] = "\xEF\xA3\xB5"; // U+F8F5

bool IsLeadByte(std::uint8_t b) { return b >= 0x81 && b <= 0xFE; }

// Length of the UTF-8 sequence at s[i]; 0 when it is not well formed
// (stray continuation byte, overlong form, surrogate, cut off, above U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
  const auto at = [&](std::size_t k) { return std::uint8_t(s[k]); };
  const std::uint8_t b = at(i);
  std::size_t n = 0;
  std::uint32_t cp = 0;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
    cp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    cp = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    cp = b & 0x07;
  } else
    return 0;
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((at(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (at(i + k) & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

#ifdef _WIN32

// One GBK character (1 or 2 bytes) to UTF-8; empty when it is not one.
std::string DecodeOne(std::string_view gbk) {
  wchar_t wide[2];
  const int n =
      MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, gbk.data(), int(gbk.size()), wide, 2);
  if (n <= 0) return {};
  char out[8];
  const int m = WideCharToMultiByte(CP_UTF8, 0, wide, n, out, int(sizeof out), nullptr, nullptr);
  return m > 0 ? std::string(out, std::size_t(m)) : std::string();
}

// One well-formed UTF-8 character to GBK; empty when GBK lacks it.
std::string EncodeOne(std::string_view utf8) {
  wchar_t wide[2];
  const int n =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), wide, 2);
  if (n <= 0) return {};
  char out[4];
  BOOL usedDefault = FALSE;
  const int m = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide, n, out, int(sizeof out),
                                    nullptr, &usedDefault);
  return (m > 0 && !usedDefault) ? std::string(out, std::size_t(m)) : std::string();
}

#elif defined(K7V_CP936_TABLE)

// WebAssembly: the C library there has no GBK, so the build compiles in a
// table made from the build machine's iconv (cmake/code_page_936_table.cpp),
// which behaves as iconv does on Linux.
#include "code_page_936_table.inc"

std::string Utf8Of(std::uint32_t cp) {
  std::string s;
  if (cp < 0x800) {
    s += char(0xC0 | (cp >> 6));
  } else {
    s += char(0xE0 | (cp >> 12));
    s += char(0x80 | ((cp >> 6) & 0x3F));
  }
  s += char(0x80 | (cp & 0x3F));
  return s;
}

std::string DecodeOne(std::string_view gbk) {
  using namespace cp936_table;
  std::uint32_t cp = 0;
  if (gbk.size() == 1 && std::uint8_t(gbk[0]) == 0x80) {
    cp = kSingle80;
  } else if (gbk.size() == 2) {
    const unsigned lead = std::uint8_t(gbk[0]), trail = std::uint8_t(gbk[1]);
    if (lead >= kLeadFirst && lead <= kLeadLast && trail >= kTrailFirst && trail <= kTrailLast)
      cp = kPairs[(lead - kLeadFirst) * (kTrailLast - kTrailFirst + 1) + (trail - kTrailFirst)];
  }
  return cp ? Utf8Of(cp) : std::string();
}

// Code points with their code (0x80, or lead << 8 | trail), sorted; made
// once from the decoding table; where several codes decode to one character
// the single byte, else the lowest pair, is the one iconv encodes to.
const std::vector<std::pair<std::uint16_t, std::uint16_t>>& EncodingIndex() {
  static const auto index = [] {
    using namespace cp936_table;
    constexpr unsigned trails = kTrailLast - kTrailFirst + 1;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> v;
    // The single byte first, then the pairs in rising order: the stable sort
    // keeps the first of several codes of one character in front.
    if (kSingle80) v.emplace_back(kSingle80, std::uint16_t(0x80));
    for (std::size_t i = 0; i < std::size(kPairs); ++i)
      if (kPairs[i])
        v.emplace_back(kPairs[i], std::uint16_t(((kLeadFirst + i / trails) << 8) |
                                                (kTrailFirst + i % trails)));
    std::stable_sort(v.begin(), v.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return v;
  }();
  return index;
}

std::string EncodeOne(std::string_view utf8) {
  using namespace cp936_table;
  const auto b = [&](std::size_t i) { return std::uint32_t(std::uint8_t(utf8[i])); };
  std::uint32_t cp = 0;
  if (utf8.size() == 2) cp = ((b(0) & 0x1F) << 6) | (b(1) & 0x3F);
  if (utf8.size() == 3) cp = ((b(0) & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
  if (cp == 0) return {}; // beyond the BMP: not in the code page
  std::uint16_t code = 0;
  const auto exception = std::find_if(kEncodeExceptions.begin(), kEncodeExceptions.end(),
                                      [&](const EncodeException& e) { return e.codePoint == cp; });
  if (exception != kEncodeExceptions.end()) {
    code = exception->code;
  } else {
    const auto& index = EncodingIndex();
    const auto it = std::lower_bound(index.begin(), index.end(), cp,
                                     [](const auto& e, std::uint32_t c) { return e.first < c; });
    if (it != index.end() && it->first == cp) code = it->second;
  }
  if (code == 0) return {};
  if (code == 0x80) return std::string(1, char(0x80));
  return std::string{char(code >> 8), char(code & 0xFF)};
}

#else

// One direction of iconv, opened once per thread: the functions keep no
// state shared between threads, and a keystroke's check stays cheap.
class Converter {
public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != iconv_t(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // One character; empty when the target lacks it or iconv has no such pair.
  std::string Convert(std::string_view in) {
    if (cd_ == iconv_t(-1)) return {};
    iconv(cd_, nullptr, nullptr, nullptr, nullptr); // back to the initial state
    char out[8];
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char* outPtr = out;
    std::size_t outLeft = sizeof out;
    const std::size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
    if (rc == std::size_t(-1) || inLeft != 0) return {};
    return std::string(out, sizeof out - outLeft);
  }

private:
  iconv_t cd_;
};

std::string DecodeOne(std::string_view gbk) {
  thread_local Converter toUtf8("UTF-8", "CP936");
  return toUtf8.Convert(gbk);
}
std::string EncodeOne(std::string_view utf8) {
  thread_local Converter toGbk("CP936", "UTF-8");
  return toGbk.Convert(utf8);
}

#endif

} // namespace

namespace cp936 {

Decoded ToUtf8(std::string_view gbk) {
  Decoded d;
  for (std::size_t i = 0; i < gbk.size();) {
    const auto b = std::uint8_t(gbk[i]);
    if (b < 0x80 || b == kLastByte) {
      if (b < 0x80)
        d.utf8.push_back(char(b));
      else
        d.utf8 += kLastByteUtf8;
      ++i;
      continue;
    }
    // 0x80 is a single-byte character of the code page (the euro sign);
    // 0x81..0xFE start a pair.
    const std::size_t n = IsLeadByte(b) ? 2 : 1;
    if (i + n > gbk.size()) {
      // A lead byte at the very end is half a character: dropped, as the
      // window's codec drops it, and reported.
      d.clean = false;
      break;
    }
    std::string one = DecodeOne(gbk.substr(i, n));
    if (one.empty() || one == kReplacement) {
      d.utf8 += kReplacement;
      d.clean = false;
      ++i; // the byte after a bad lead byte may start a character of its own
      continue;
    }
    d.utf8 += one;
    i += n;
  }
  return d;
}

Encoded FromUtf8(std::string_view utf8, std::size_t maxBytes) {
  Encoded e;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t n = Utf8SequenceLength(utf8, i);
    const std::string_view character = utf8.substr(i, n);
    std::string one;
    if (n == 1)
      one.push_back(character[0]);
    else if (character == kLastByteUtf8)
      one.push_back(char(kLastByte));
    else if (n > 1)
      one = EncodeOne(character);
    const bool lacking = one.empty();
    if (lacking) one.push_back('?');
    if (e.bytes.size() + one.size() > maxBytes) {
      e.cut = true;
      break;
    }
    e.clean = e.clean && !lacking;
    e.bytes += one;
    i += n == 0 ? 1 : n;
  }
  return e;
}

std::size_t ByteLength(std::string_view utf8) { return FromUtf8(utf8).bytes.size(); }

} // namespace cp936
