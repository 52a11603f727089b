#include "platform/profile_ini.h"

#include <climits>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/code_page_936.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\v\f";

// One line of the content: text in [begin, end), its terminator in [end, next).
struct Line {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t next = 0;
};

// Where the lines start: a UTF-8 byte order mark is not part of the first line.
std::size_t BodyStart(const std::string& s) {
  return std::string_view(s).starts_with(kUtf8Bom) ? kUtf8Bom.size() : 0;
}

// The line starting at pos (pos < s.size()); CR LF, LF and a lone CR all end a line.
Line LineAt(const std::string& s, std::size_t pos) {
  Line ln;
  ln.begin = pos;
  std::size_t e = pos;
  while (e < s.size() && s[e] != '\n' && s[e] != '\r') ++e;
  ln.end = e;
  if (e < s.size()) {
    e += (s[e] == '\r' && e + 1 < s.size() && s[e + 1] == '\n') ? 2 : 1;
  }
  ln.next = e;
  return ln;
}

std::string_view Text(const std::string& s, const Line& ln) {
  return std::string_view(s).substr(ln.begin, ln.end - ln.begin);
}

std::string_view Trim(std::string_view v) {
  const auto first = v.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = v.find_last_not_of(kBlanks);
  return v.substr(first, last - first + 1);
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Drops one pair of enclosing quotes of the same kind; a lone or unmatched quote stays.
std::string_view StripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

struct ParsedLine {
  enum class Kind {
    Other,
    Section,
    Key
  };
  Kind kind = Kind::Other;
  std::string_view name;  // trimmed section or key name
  std::string_view value; // trimmed value, quotes still on
};

// A line starting with '[' and holding a ']' opens a section named up to its
// last ']', whatever follows; a line with '=' is a key; anything else, comments
// and a '[' line without ']' included, is neither.
ParsedLine Parse(std::string_view text) {
  ParsedLine p;
  const std::string_view t = Trim(text);
  if (!t.empty() && t.front() == '[') {
    const auto close = t.rfind(']');
    if (close == std::string_view::npos) return p;
    p.kind = ParsedLine::Kind::Section;
    p.name = Trim(t.substr(1, close - 1));
    return p;
  }
  const auto eq = t.find('=');
  if (eq == std::string_view::npos) return p;
  p.kind = ParsedLine::Kind::Key;
  p.name = Trim(t.substr(0, eq));
  p.value = Trim(t.substr(eq + 1));
  return p;
}

struct Lookup {
  bool sectionFound = false;
  bool keyFound = false;
  Line keyLine;             // the first matching key's line
  std::string_view keyName; // its name as written, for rewriting the line
  std::string_view value;   // its trimmed value, quotes still on
  Line lastFilled;          // last non-blank line of the section (its header at least)
};

// Only the first section of the name is searched, as the Windows functions do:
// keys of a repeated section are never seen.
Lookup Locate(const std::string& s, std::string_view section, std::string_view key) {
  section = Trim(section);
  key = Trim(key);
  Lookup r;
  bool inSection = false;
  for (std::size_t pos = BodyStart(s); pos < s.size();) {
    const Line ln = LineAt(s, pos);
    pos = ln.next;
    const std::string_view text = Text(s, ln);
    const ParsedLine p = Parse(text);
    if (p.kind == ParsedLine::Kind::Section) {
      if (inSection) break;
      if (EqualNoCase(p.name, section)) {
        inSection = true;
        r.sectionFound = true;
        r.lastFilled = ln;
      }
      continue;
    }
    if (!inSection) continue;
    if (!Trim(text).empty()) r.lastFilled = ln;
    if (p.kind == ParsedLine::Kind::Key && EqualNoCase(p.name, key)) {
      r.keyFound = true;
      r.keyLine = ln;
      r.keyName = p.name;
      r.value = p.value;
      break;
    }
  }
  return r;
}

// The file's own line ending (its first one); CR LF for a file without any.
std::string LineEnding(const std::string& s) {
  const auto e = s.find_first_of("\r\n");
  if (e == std::string::npos) return "\r\n";
  if (s[e] == '\n') return "\n";
  return (e + 1 < s.size() && s[e + 1] == '\n') ? "\r\n" : "\r";
}

bool HasLineBreak(std::string_view v) { return v.find_first_of("\r\n") != std::string_view::npos; }

fs::path PathFromUtf8(const std::string& path) {
  return fs::path(std::u8string(path.begin(), path.end()));
}

// Writes the whole content in one go. The new content goes to a side file that
// then replaces the old one, so a failed write never leaves half a file; when
// the directory allows no side file, the file is rewritten in place.
// False when the file cannot be written.
bool WriteWholeFile(const fs::path& p, const std::string& content, bool exists) {
  if (exists) {
    // A read-only file stays untouched, even where the directory would let a
    // side file replace it.
    std::fstream probe(p, std::ios::binary | std::ios::in | std::ios::out);
    if (!probe.is_open()) return false;
  }
  std::error_code ec;
  fs::path side = p;
  side += ".k7v-new";
  {
    std::ofstream out(side, std::ios::binary | std::ios::trunc);
    if (out.is_open()) {
      out.write(content.data(), static_cast<std::streamsize>(content.size()));
      out.close();
      if (out) {
        if (exists) {
          const fs::perms perms = fs::status(p, ec).permissions();
          if (!ec && perms != fs::perms::unknown) fs::permissions(side, perms, ec);
        }
        fs::rename(side, p, ec);
        if (!ec) return true;
      }
      fs::remove(side, ec);
    }
  }
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) return false;
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  return static_cast<bool>(out);
}

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one UTF-8 sequence at s[i]; advances i. nullopt (i past the bad
// lead byte) when the sequence is not well-formed.
std::optional<char32_t> NextUtf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i++]);
  if (b0 < 0x80) return b0;
  int extra = 0;
  char32_t c = 0;
  char32_t least = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1;
    c = b0 & 0x1F;
    least = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2;
    c = b0 & 0x0F;
    least = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3;
    c = b0 & 0x07;
    least = 0x10000;
  } else {
    return std::nullopt;
  }
  if (i + static_cast<std::size_t>(extra) > s.size()) return std::nullopt;
  for (int k = 0; k < extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
  i += static_cast<std::size_t>(extra);
  return c;
}

bool HasHighByte(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

// UTF-16 code units after the byte order mark, as UTF-8.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string out;
  out.reserve(bytes.size());
  auto unit = [&](std::size_t i) {
    const auto a = static_cast<unsigned char>(bytes[i]);
    const auto b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char32_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  };
  std::size_t i = 0;
  while (i + 1 < bytes.size()) {
    const char32_t u = unit(i);
    i += 2;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < bytes.size()) {
      const char32_t low = unit(i);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        i += 2;
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
  }
  if (i < bytes.size()) AppendUtf8(out, kReplacement);
  return out;
}

std::string Utf8ToUtf16(std::string_view text, bool bigEndian) {
  std::string out;
  out.reserve(text.size() * 2 + 2);
  auto put = [&](char32_t u) {
    const char hi = static_cast<char>((u >> 8) & 0xFF);
    const char lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  };
  put(0xFEFF);
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = NextUtf8(text, i).value_or(kReplacement);
    if (c >= 0x10000) {
      put(0xD800 + ((c - 0x10000) >> 10));
      put(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

// How the lines that hold more than ASCII read: as UTF-8 or not.
struct LineVotes {
  bool bom = false;
  std::size_t valid = 0;
  std::size_t invalid = 0;
};

LineVotes CountLineVotes(std::string_view bytes) {
  LineVotes votes;
  votes.bom = bytes.starts_with(kUtf8Bom);
  if (votes.bom) bytes.remove_prefix(kUtf8Bom.size());
  for (std::size_t pos = 0; pos < bytes.size();) {
    auto end = bytes.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = bytes.size();
    const std::string_view line = bytes.substr(pos, end - pos);
    pos = end + 1;
    if (!HasHighByte(line)) continue;
    bool ok = true;
    for (std::size_t i = 0; ok && i < line.size();) ok = NextUtf8(line, i).has_value();
    ++(ok ? votes.valid : votes.invalid);
  }
  return votes;
}

// Text in the file's encoding for UTF-8 text: GBK for an ANSI file, UTF-8
// otherwise. nullopt when GBK lacks a character of it.
std::optional<std::string> EncodeFor(IniEncoding enc, std::string_view utf8) {
  if (enc != IniEncoding::Ansi) return std::string(utf8);
  const cp936::Encoded gbk = cp936::FromUtf8(utf8);
  if (!gbk.clean) return std::nullopt;
  return gbk.bytes;
}

// Marks an ANSI file as such for the next reader: GBK that UTF-8 cannot read
// ("此文件为 GBK 编码", this file is in GBK). A comment: no section, no key.
std::string GbkMarkLine() { return "; " + cp936::FromUtf8("此文件为 GBK 编码").bytes; }

} // namespace

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    if (!NextUtf8(bytes, i)) return false;
  }
  return true;
}

IniEncoding JudgeEightBitEncoding(std::string_view bytes) {
  const LineVotes votes = CountLineVotes(bytes);
  if (votes.invalid == 0) return IniEncoding::Utf8;
  // A tie goes to the code page: Chinese GBK text is often valid UTF-8 by
  // chance on a short line, while real UTF-8 is seldom anything else.
  return (votes.bom || votes.valid > votes.invalid) ? IniEncoding::Utf8WithAnsiLines
                                                    : IniEncoding::Ansi;
}

ProfileIni ProfileIni::FromFileBytes(std::string bytes) {
  const std::string_view b(bytes);
  const bool le = b.starts_with("\xFF\xFE");
  const bool be = b.starts_with("\xFE\xFF");
  if (!le && !be) return ProfileIni(std::move(bytes));
  ProfileIni ini;
  ini.content_ = Utf16ToUtf8(b.substr(2), be);
  ini.encoding_ = be ? IniEncoding::Utf16Be : IniEncoding::Utf16Le;
  return ini;
}

std::string ProfileIni::FileBytes() const {
  if (encoding_ == IniEncoding::Utf16Le) return Utf8ToUtf16(content_, false);
  if (encoding_ == IniEncoding::Utf16Be) return Utf8ToUtf16(content_, true);
  return content_;
}

bool ProfileIni::Load(const std::string& path) {
  *this = ProfileIni();
  const fs::path p = PathFromUtf8(path);
  std::error_code ec;
  // A directory opens like a file on some systems and then reads as empty.
  if (fs::is_directory(p, ec)) return false;
  std::ifstream in(p, std::ios::binary);
  if (!in.is_open()) return false;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  *this = FromFileBytes(std::move(data));
  return true;
}

std::optional<std::string> ProfileIni::Find(std::string_view section, std::string_view key) const {
  const Lookup r = Locate(content_, section, key);
  if (!r.keyFound) return std::nullopt;
  return std::string(StripQuotes(r.value));
}

std::string ProfileIni::GetString(std::string_view section, std::string_view key,
                                  std::string_view def) const {
  auto v = Find(section, key);
  return v ? std::move(*v) : std::string(def);
}

int ProfileIni::GetInt(std::string_view section, std::string_view key, int def) const {
  const auto v = Find(section, key);
  if (!v) return def;
  const std::string_view t = Trim(*v);
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  if (i >= t.size() || t[i] < '0' || t[i] > '9') return def;
  // Saturates instead of wrapping, so a long digit run cannot overflow.
  std::int64_t n = 0;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
    if (n <= INT_MAX) n = n * 10 + (t[i] - '0');
  }
  if (negative) n = -n;
  if (n > INT_MAX) return INT_MAX;
  if (n < INT_MIN) return INT_MIN;
  return static_cast<int>(n);
}

std::optional<int> ProfileIni::ParseInt(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size()) return std::nullopt;
  std::int64_t n = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    n = n * 10 + (text[i] - '0');
    if (n > static_cast<std::int64_t>(INT_MAX) + 1) return std::nullopt;
  }
  if (negative) n = -n;
  if (n > INT_MAX || n < INT_MIN) return std::nullopt;
  return static_cast<int>(n);
}

std::optional<int> ProfileIni::FindInt(std::string_view section, std::string_view key) const {
  const auto v = Find(section, key);
  if (!v) return std::nullopt;
  return ParseInt(*v);
}

std::optional<std::string> ProfileIni::FindText(std::string_view section,
                                                std::string_view key) const {
  const auto s = EncodeFor(encoding_, section);
  const auto k = EncodeFor(encoding_, key);
  if (!s || !k) return std::nullopt; // names the file cannot hold are not in it
  const Lookup r = Locate(content_, *s, *k);
  if (!r.keyFound) return std::nullopt;
  const std::string_view value = StripQuotes(r.value);
  const bool gbk = encoding_ == IniEncoding::Ansi || (encoding_ == IniEncoding::Utf8WithAnsiLines &&
                                                      !IsValidUtf8(Text(content_, r.keyLine)));
  return gbk ? cp936::ToUtf8(value).utf8 : std::string(value);
}

ProfileIni::SetTextResult ProfileIni::SetText(std::string_view section, std::string_view key,
                                              std::string_view value) {
  if (FindText(section, key) == value) return SetTextResult::Unchanged;
  const auto s = EncodeFor(encoding_, section);
  const auto k = EncodeFor(encoding_, key);
  const auto v = EncodeFor(encoding_, value);
  if (!s || !k || !v) return SetTextResult::NotEncodable;
  if (!SetString(*s, *k, *v)) return SetTextResult::NotOneLine;

  // The lines that were not written read as before only while the next
  // reader judges the file as this one did. Lines of ASCII alone read alike
  // either way, and so do GBK lines that UTF-8 cannot read.
  if (encoding_ == IniEncoding::Utf16Le || encoding_ == IniEncoding::Utf16Be)
    return SetTextResult::Written;
  const bool readAsAnsi = encoding_ == IniEncoding::Ansi;
  const auto tipped = [&] {
    const LineVotes votes = CountLineVotes(content_);
    const bool nextAnsi = JudgeEightBitEncoding(content_) == IniEncoding::Ansi;
    return votes.valid > 0 && nextAnsi != readAsAnsi;
  };
  if (!readAsAnsi && tipped()) {
    content_.insert(0, kUtf8Bom); // with it every UTF-8 line reads as UTF-8
  } else if (readAsAnsi) {
    // Each mark line is one more vote for GBK; the content holds fewer UTF-8
    // lines than that bound, so the loop ends.
    const std::string eol = LineEnding(content_);
    for (std::size_t guard = CountLineVotes(content_).valid + 1; tipped() && guard > 0; --guard) {
      if (!content_.empty() && content_.back() != '\n' && content_.back() != '\r') content_ += eol;
      content_ += GbkMarkLine() + eol;
    }
  }
  return SetTextResult::Written;
}

bool ProfileIni::SetString(std::string_view section, std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  if (section.empty() || key.empty()) return false;
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return false;
  if (section.find(']') != std::string_view::npos) return false;
  if (key.find('=') != std::string_view::npos || key.front() == '[') return false;

  const Lookup r = Locate(content_, section, key);
  const std::string eol = LineEnding(content_);

  if (r.keyFound) {
    // Keep the indentation and the key's own spelling; only the value changes.
    const std::size_t nameEnd =
        static_cast<std::size_t>(r.keyName.data() - content_.data()) + r.keyName.size();
    std::string line = content_.substr(r.keyLine.begin, nameEnd - r.keyLine.begin);
    line += '=';
    line += value;
    content_.replace(r.keyLine.begin, r.keyLine.end - r.keyLine.begin, line);
    return true;
  }

  std::string line(key);
  line += '=';
  line += value;

  if (r.sectionFound) {
    const Line& at = r.lastFilled;
    if (at.next > at.end) {
      content_.insert(at.next, line + eol);
    } else {
      content_.insert(at.end, eol + line); // the section's last line ends the file unterminated
    }
    return true;
  }

  std::string add;
  const std::size_t body = BodyStart(content_);
  if (content_.size() > body) {
    const char last = content_.back();
    if (last != '\n' && last != '\r') add += eol;
    // A blank line between sections, unless the file already ends with one.
    std::size_t lastStart = body;
    for (std::size_t pos = body; pos < content_.size();) {
      const Line ln = LineAt(content_, pos);
      lastStart = ln.begin;
      pos = ln.next;
    }
    if (!Trim(Text(content_, LineAt(content_, lastStart))).empty()) add += eol;
  }
  add += '[';
  add += section;
  add += ']';
  add += eol;
  add += line;
  add += eol;
  content_ += add;
  return true;
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view def) {
  ProfileIni ini;
  ini.Load(path);
  return ini.GetString(section, key, def);
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  const fs::path p = PathFromUtf8(path);
  std::error_code ec;
  const bool exists = fs::exists(p, ec);
  if (ec) return false;
  ProfileIni ini;
  // An existing file that cannot be read is never overwritten with a fresh one.
  if (exists && !ini.Load(path)) return false;
  if (!ini.SetString(section, key, value)) return false;
  return WriteWholeFile(p, ini.FileBytes(), exists);
}
