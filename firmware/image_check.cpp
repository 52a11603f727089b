#include "firmware/image_check.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>
#include <utility>

#include "link/link_constants.h"

namespace {

using Bytes = std::span<const std::uint8_t>;

// Share of printable characters from which a file counts as text. Firmware
// is machine code and tables: far below this, even with its message strings.
constexpr unsigned kTextPercent = 90;
// Bytes looked at to tell UTF-16 without a byte order mark: enough for the
// first lines of any profile or note.
constexpr std::size_t kUtf16Sample = 4096;
// In that sample, the share of character pairs whose high byte is zero from
// which the file is UTF-16 (ASCII text in UTF-16 has nearly all of them).
constexpr unsigned kUtf16ZeroPercent = 40;

std::string Grouped(std::uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string Hex2(std::uint8_t b) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", unsigned(b));
  return text;
}

bool StartsWith(Bytes file, std::initializer_list<std::uint8_t> magic, std::size_t at = 0) {
  if (file.size() < at + magic.size()) return false;
  return std::equal(magic.begin(), magic.end(), file.begin() + std::ptrdiff_t(at));
}

// The kind of archive or compressed file, by its magic number; empty for none.
std::string ArchiveKind(Bytes f) {
  if (StartsWith(f, {0x1F, 0x8B})) return "gzip";
  if (StartsWith(f, {'P', 'K', 3, 4}) || StartsWith(f, {'P', 'K', 5, 6}) ||
      StartsWith(f, {'P', 'K', 7, 8}))
    return "zip";
  if (StartsWith(f, {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C})) return "7z";
  if (StartsWith(f, {'R', 'a', 'r', '!', 0x1A, 0x07})) return "rar";
  if (StartsWith(f, {'B', 'Z', 'h'}) && f.size() > 3 && f[3] >= '1' && f[3] <= '9') return "bzip2";
  if (StartsWith(f, {0xFD, '7', 'z', 'X', 'Z', 0})) return "xz";
  if (StartsWith(f, {0x28, 0xB5, 0x2F, 0xFD})) return "zstd";
  if (StartsWith(f, {0x5D, 0, 0})) return "lzma";
  if (StartsWith(f, {'M', 'S', 'C', 'F'})) return "cab";
  if (StartsWith(f, {'u', 's', 't', 'a', 'r'}, 257)) return "tar";
  return {};
}

// A parameter record as a unit stores it, perhaps with a line end added by
// an editor or a copy through a terminal.
bool IsParameterRecord(Bytes f) {
  const std::size_t n = k7v::kAppParamsSize;
  if (f.size() == n) return true;
  if (f.size() == n + 1) return f[n] == '\n' || f[n] == '\r';
  return f.size() == n + 2 && f[n] == '\r' && f[n + 1] == '\n';
}

enum class TextForm {
  Eight,
  Utf16Le,
  Utf16Be
};

// How the file would be text: UTF-16 after a byte order mark or when most
// character pairs of its start have a zero high byte; else 8-bit.
TextForm GuessTextForm(Bytes f) {
  if (StartsWith(f, {0xFF, 0xFE})) return TextForm::Utf16Le;
  if (StartsWith(f, {0xFE, 0xFF})) return TextForm::Utf16Be;
  const std::size_t pairs = std::min(f.size(), kUtf16Sample) / 2;
  if (pairs == 0) return TextForm::Eight;
  std::size_t zeroEven = 0, zeroOdd = 0;
  for (std::size_t i = 0; i < pairs; ++i) {
    zeroEven += f[2 * i] == 0;
    zeroOdd += f[2 * i + 1] == 0;
  }
  const auto most = [&](std::size_t n) { return n * 100 >= pairs * kUtf16ZeroPercent; };
  const auto few = [&](std::size_t n) { return n * 100 < pairs * 5; };
  if (most(zeroOdd) && few(zeroEven)) return TextForm::Utf16Le;
  if (most(zeroEven) && few(zeroOdd)) return TextForm::Utf16Be;
  return TextForm::Eight;
}

bool Printable(char32_t c) {
  return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c < 0x7F) || c >= 0xA0;
}

// The file read as characters: how many in all, how many printable, and the
// text with every non-ASCII character as '?', to find a profile's header.
struct TextReading {
  std::size_t characters = 0;
  std::size_t printable = 0;
  bool zeroByte = false; // no 8-bit text holds one; every firmware does
  std::string ascii;
  void Add(char32_t c, bool valid) {
    ++characters;
    printable += valid && Printable(c);
    ascii += c < 0x80 ? char(c) : '?';
  }
};

TextReading ReadUtf16(Bytes f, bool littleEndian) {
  TextReading r;
  std::size_t i = StartsWith(f, {0xFF, 0xFE}) || StartsWith(f, {0xFE, 0xFF}) ? 2 : 0;
  const auto unit = [&](std::size_t at) {
    return littleEndian ? char32_t(f[at] | f[at + 1] << 8) : char32_t(f[at] << 8 | f[at + 1]);
  };
  for (; i + 1 < f.size(); i += 2) {
    const char32_t u = unit(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < f.size()) {
      const char32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        r.Add(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), true);
        i += 2;
        continue;
      }
    }
    r.Add(u, u < 0xD800 || u >= 0xE000);
  }
  if (f.size() % 2) r.Add(0, false);
  return r;
}

// Length of the UTF-8 sequence at i (2..4), or 0 when there is none.
std::size_t Utf8SequenceAt(Bytes f, std::size_t i) {
  const std::uint8_t c = f[i];
  const std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
  if (n == 0 || i + n > f.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((f[i + k] & 0xC0) != 0x80) return 0;
  return n;
}

// A GBK double-byte character at i: the tool reads profiles in the unit's
// code page too.
bool GbkPairAt(Bytes f, std::size_t i) {
  return i + 1 < f.size() && f[i] >= 0x81 && f[i] <= 0xFE && f[i + 1] >= 0x40 && f[i + 1] <= 0xFE &&
         f[i + 1] != 0x7F;
}

TextReading ReadEightBit(Bytes f) {
  TextReading r;
  std::size_t i = StartsWith(f, {0xEF, 0xBB, 0xBF}) ? 3 : 0;
  while (i < f.size()) {
    const std::uint8_t c = f[i];
    if (c < 0x80) {
      r.zeroByte |= c == 0;
      r.Add(c, c != 0);
      ++i;
    } else if (const std::size_t n = Utf8SequenceAt(f, i); n > 0) {
      r.Add(0xA0, true); // which character does not matter, only that it is one
      i += n;
    } else if (GbkPairAt(f, i)) {
      r.Add(0xA0, true);
      i += 2;
    } else {
      r.Add(c, false);
      ++i;
    }
  }
  return r;
}

// True when some line is the profile's section header.
bool HasProfileHeader(const std::string& ascii) {
  std::size_t start = 0;
  while (start <= ascii.size()) {
    std::size_t end = ascii.find('\n', start);
    if (end == std::string::npos) end = ascii.size();
    std::string_view line(ascii.data() + start, end - start);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
      line.remove_suffix(1);
    if (line.size() == 8) {
      std::string lower(line);
      for (char& ch : lower) ch = char(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
      if (lower == "[params]") return true;
    }
    start = end + 1;
  }
  return false;
}

// Printable single-byte characters, then only zero bytes.
bool VersionFieldIsText(Bytes field) {
  std::size_t i = 0;
  while (i < field.size() && field[i] >= 0x20 && field[i] < 0x7F) ++i;
  return std::all_of(field.begin() + std::ptrdiff_t(i), field.end(),
                     [](std::uint8_t b) { return b == 0; });
}

// The refusals in English, as caption-en.ini words them: what the command
// line prints, the window and the page showing the caption file's text.
constexpr std::pair<std::string_view, std::string_view> kEnglish[] = {
    {"bin_no_body", "no body: %1 bytes"},
    {"bin_too_large", "too large: %1 bytes, at most %2"},
    {"bin_param_record", "a parameter record (%1 bytes)"},
    {"bin_archive", "an archive (%1), not unpacked"},
    {"bin_profile", "a parameter profile"},
    {"bin_text", "text (%1 % printable characters)"},
    {"bin_version_field",
     "the first 8 bytes are not a version: printable characters, then zero bytes"},
    {"bin_one_byte", "the body is one byte repeated (%1)"},
};

void Refuse(ImageVerdict& v, std::string_view key, std::vector<std::string> args) {
  v.key = std::string(key);
  v.args = std::move(args);
  for (const auto& [name, text] : kEnglish)
    if (name == key) v.text = FillMessageArgs(std::string(text), v.args);
}

} // namespace

std::string FillMessageArgs(std::string text, const std::vector<std::string>& args) {
  // From the last, so "%1" never eats the start of "%10".
  for (std::size_t k = args.size(); k > 0; --k) {
    std::string mark = std::to_string(k);
    mark.insert(mark.begin(), '%');
    for (std::size_t at = text.find(mark); at != std::string::npos;
         at = text.find(mark, at + args[k - 1].size()))
      text.replace(at, mark.size(), args[k - 1]);
  }
  return text;
}

// Every refusal is a verdict; the checks run from the plainest fault to the
// subtlest, so the reason names what the file most likely is.
ImageVerdict CheckFirmwareImage(std::span<const std::uint8_t> file,
                                std::optional<std::uint64_t> wholeSize) {
  ImageVerdict v;
  const std::uint64_t size = wholeSize.value_or(file.size());
  const std::size_t head = k7v::kImageVersionSize;
  if (size <= head || file.size() <= head) {
    Refuse(v, "bin_no_body", {Grouped(size)});
    return v;
  }
  if (size - head > k7v::kFirmwareImageSize) {
    Refuse(v, "bin_too_large", {Grouped(size - head), Grouped(k7v::kFirmwareImageSize)});
    return v;
  }
  const bool versionText = VersionFieldIsText(file.first(head));
  if (versionText) DescribeImage(file, v.descriptor);

  if (IsParameterRecord(file)) {
    Refuse(v, "bin_param_record", {std::to_string(file.size())});
  } else if (const std::string archive = ArchiveKind(file); !archive.empty()) {
    Refuse(v, "bin_archive", {archive});
  } else {
    const TextForm form = GuessTextForm(file);
    const TextReading text =
        form == TextForm::Eight ? ReadEightBit(file) : ReadUtf16(file, form == TextForm::Utf16Le);
    const unsigned percent =
        text.characters && !text.zeroByte ? unsigned(text.printable * 100 / text.characters) : 0;
    const auto body = file.subspan(head);
    if (HasProfileHeader(text.ascii)) {
      Refuse(v, "bin_profile", {});
    } else if (percent >= kTextPercent) {
      Refuse(v, "bin_text", {std::to_string(percent)});
    } else if (std::all_of(body.begin(), body.end(),
                           [&](std::uint8_t b) { return b == body[0]; })) {
      Refuse(v, "bin_one_byte", {Hex2(body[0])});
    } else if (!versionText) {
      Refuse(v, "bin_version_field", {});
    }
  }
  v.forcible = !v.accepted() && versionText;
  return v;
}
