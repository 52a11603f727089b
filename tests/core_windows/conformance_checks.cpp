// The conformance table's image and switch command cases (tests/conformance,
// see its README) as rows of the plain C++ core checks, so the table also
// holds for the core built for Windows (under Wine: code page 936 through the
// system's functions) and for WebAssembly (under Node). The table is read
// with a JSON reader just large enough for it.

#include <algorithm>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core_checks.h"
#include "firmware/image_check.h"
#include "link/link_settings.h"
#include "params/factory_set.h"
#include "platform/code_page_936.h"

namespace {

struct Json {
  enum Type {
    Null,
    Bool,
    Number,
    String,
    Array,
    Object
  } type = Null;
  bool boolean = false;
  double number = 0;
  std::string text; // UTF-8
  std::vector<Json> items;
  std::map<std::string, Json> fields;
  const Json& operator[](const std::string& key) const {
    static const Json none;
    const auto it = fields.find(key);
    return it == fields.end() ? none : it->second;
  }
  bool has(const std::string& key) const { return fields.count(key) > 0; }
};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | c >> 6);
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | c >> 12);
    out += char(0x80 | (c >> 6 & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | c >> 18);
    out += char(0x80 | (c >> 12 & 0x3F));
    out += char(0x80 | (c >> 6 & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

// Throws std::runtime_error at the first thing it cannot read.
class JsonReader {
public:
  explicit JsonReader(std::string text) : s_(std::move(text)) {}
  Json Read() {
    Json v = Value();
    Blanks();
    if (at_ != s_.size()) Fail();
    return v;
  }

private:
  [[noreturn]] void Fail() {
    throw std::runtime_error("JSON: unreadable at " + std::to_string(at_));
  }
  void Blanks() {
    while (at_ < s_.size() &&
           (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t'))
      ++at_;
  }
  bool Take(char c) {
    Blanks();
    if (at_ < s_.size() && s_[at_] == c) return ++at_, true;
    return false;
  }
  bool Word(const char* w) {
    const std::string word(w);
    if (s_.compare(at_, word.size(), word) != 0) return false;
    at_ += word.size();
    return true;
  }
  unsigned Hex4() {
    if (at_ + 4 > s_.size()) Fail();
    const unsigned v = unsigned(std::stoul(s_.substr(at_, 4), nullptr, 16));
    at_ += 4;
    return v;
  }
  std::string Str() {
    std::string out;
    for (;;) {
      if (at_ >= s_.size()) Fail();
      const char c = s_[at_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= s_.size()) Fail();
      const char e = s_[at_++];
      const char* plain = "\"\\/bfnrt";
      const char* meant = "\"\\/\b\f\n\r\t";
      if (const char* p = std::char_traits<char>::find(plain, 8, e)) {
        out += meant[p - plain];
      } else if (e == 'u') {
        char32_t u = Hex4();
        if (u >= 0xD800 && u < 0xDC00 && Word("\\u"))
          u = 0x10000 + ((u - 0xD800) << 10) + (Hex4() - 0xDC00);
        AppendUtf8(out, u);
      } else {
        Fail();
      }
    }
  }
  Json Value() {
    Json v;
    Blanks();
    if (Take('{')) {
      v.type = Json::Object;
      if (Take('}')) return v;
      do {
        if (!Take('"')) Fail();
        const std::string key = Str();
        if (!Take(':')) Fail();
        v.fields[key] = Value();
      } while (Take(','));
      if (!Take('}')) Fail();
    } else if (Take('[')) {
      v.type = Json::Array;
      if (Take(']')) return v;
      do v.items.push_back(Value());
      while (Take(','));
      if (!Take(']')) Fail();
    } else if (Take('"')) {
      v.type = Json::String;
      v.text = Str();
    } else if (Word("true") || Word("false")) {
      v.type = Json::Bool;
      v.boolean = s_[at_ - 1] == 'e' && s_[at_ - 2] == 'u';
    } else if (Word("null")) {
    } else {
      std::size_t used = 0;
      v.type = Json::Number;
      v.number = std::stod(s_.substr(at_, 32), &used);
      at_ += used;
    }
    return v;
  }
  std::string s_;
  std::size_t at_ = 0;
};

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

Bytes FromHex(const std::string& hex) {
  Bytes out;
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    out.push_back(std::uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

// UTF-8 text as UTF-16 in the given byte order, its BOM first when asked.
Bytes Utf16(const std::string& utf8, bool little, bool bom) {
  std::vector<char32_t> units;
  if (bom) units.push_back(0xFEFF);
  for (std::size_t i = 0; i < utf8.size();) {
    const std::uint8_t c = std::uint8_t(utf8[i]);
    const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (int k = 1; k < n && i + std::size_t(k) < utf8.size(); ++k)
      cp = cp << 6 | (utf8[i + std::size_t(k)] & 0x3F);
    i += std::size_t(n);
    if (cp >= 0x10000) {
      units.push_back(0xD800 + ((cp - 0x10000) >> 10));
      units.push_back(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      units.push_back(cp);
    }
  }
  Bytes out;
  for (char32_t u : units) {
    out.push_back(std::uint8_t(little ? u & 0xFF : u >> 8));
    out.push_back(std::uint8_t(little ? u >> 8 : u & 0xFF));
  }
  return out;
}

// The bytes a case gives, as the README describes the pieces. Throws for a
// piece this program does not build (a file of the table's folder).
Bytes Build(const Json& given) {
  Bytes out;
  if (given.type == Json::Array) {
    for (const Json& piece : given.items) {
      const Bytes b = Build(piece);
      out.insert(out.end(), b.begin(), b.end());
    }
    return out;
  }
  if (given.type == Json::String) return Bytes(given.text.begin(), given.text.end());
  const std::string encoding = given["encoding"].text;
  if (given.has("text")) {
    const std::string& t = given["text"].text;
    const bool bom = given["bom"].boolean;
    if (encoding == "gbk") {
      const std::string g = cp936::FromUtf8(t).bytes;
      out.assign(g.begin(), g.end());
    } else if (encoding == "utf-16le" || encoding == "utf-16be") {
      out = Utf16(t, encoding == "utf-16le", bom);
    } else {
      const std::string u = (bom ? "\xEF\xBB\xBF" : "") + t;
      out.assign(u.begin(), u.end());
    }
  } else if (given.has("hex")) {
    out = FromHex(given["hex"].text);
  } else if (given.has("zeros")) {
    out.assign(std::size_t(given["zeros"].number), 0);
  } else if (given.has("repeat")) {
    const Bytes unit = FromHex(given["repeat"].text);
    for (int i = 0; i < int(given["count"].number); ++i)
      out.insert(out.end(), unit.begin(), unit.end());
  } else if (given.has("pattern")) {
    for (std::size_t i = 0; i < std::size_t(given["pattern"].number); ++i)
      out.push_back(std::uint8_t((7 * i + i / 256) & 0xFF));
  } else if (given.has("factory_record")) {
    const TAppParams record = FactoryParams();
    out.assign(record.bytes().begin(), record.bytes().end());
  } else {
    throw std::runtime_error("a piece the core checks do not build");
  }
  for (const Json& patch : given["patch"].items) {
    const std::size_t at = std::size_t(patch.items.at(0).number);
    const Bytes over = FromHex(patch.items.at(1).text);
    if (at + over.size() > out.size()) throw std::runtime_error("patch outside the piece");
    std::copy(over.begin(), over.end(), out.begin() + std::ptrdiff_t(at));
  }
  return out;
}

// Buildable by this program: no file of the table's folder anywhere in it.
bool Buildable(const Json& given) {
  if (given.has("file")) return false;
  for (const Json& item : given.items)
    if (!Buildable(item)) return false;
  return true;
}

bool RunsHere(const Json& c) {
  const Json& only = c["front_ends"];
  if (only.type != Json::Array) return true;
  for (const Json& f : only.items)
    if (f.text == "core") return true;
  return false;
}

bool ImageCase(const Json& c) {
  const Bytes file = Build(c["file"]);
  const ImageVerdict v = CheckFirmwareImage(file);
  const Json& expect = c["expect"];
  if (v.key != expect["refused"].text) return false;
  if (!v.accepted()) return v.forcible == expect["forcible"].boolean;
  unsigned sum = 0;
  for (std::size_t i = 8; i < file.size(); ++i) sum += file[i];
  return v.descriptor.version == expect["version"].text && v.descriptor.length == file.size() - 8 &&
         v.descriptor.checksum == (sum & 0xFFFF);
}

bool SwitchCommandCase(const Json& c) {
  const std::string& command = c["switch_command"].text;
  const SwitchCommandCheck check = CheckSwitchCommand(command);
  const Json& expect = c["expect"];
  if (check.key != expect["refused"].text) return false;
  if (!check.key.empty()) return true;
  Bytes sent(check.bytes.begin(), check.bytes.end());
  sent.resize(6, 0);
  return sent == FromHex(expect["sent"].text);
}

} // namespace

std::vector<Row> ConformanceRows() {
  static std::deque<std::string> names; // Row holds a plain pointer
  std::vector<Row> rows;
  const std::pair<const char*, bool (*)(const Json&)> tables[] = {
      {"images", ImageCase}, {"switch_commands", SwitchCommandCase}};
  for (const auto& entry : tables) {
    const char* table = entry.first;
    bool (*run)(const Json&) = entry.second;
    Json cases;
    try {
      cases = JsonReader(ReadWhole(std::string(K7V_CONFORMANCE_DIR "/") + table + ".json"))
                  .Read()["cases"];
    } catch (const std::exception& e) {
      names.push_back(std::string("conformance table ") + table + ": " + e.what());
      rows.push_back({names.back().c_str(), [] { return false; }});
      continue;
    }
    for (const Json& c : cases.items) {
      if (!RunsHere(c) || !Buildable(c["file"])) continue;
      names.push_back(std::string("conformance ") + table + "/" + c["name"].text);
      rows.push_back({names.back().c_str(), [c, run] { return run(c); }});
    }
  }
  return rows;
}
