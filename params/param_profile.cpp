#include "params/param_profile.h"

#include <algorithm>
#include <array>
#include <optional>

#include "params/edited_config.h"
#include "params/field_checks.h"
#include "params/field_model.h"
#include "platform/code_page_936.h"
#include "platform/ipv4.h"
#include "platform/profile_ini.h"

namespace {

using F = AppField;
using Kind = FieldKind;

// Issues carry at most this many characters of a value or line, and a run
// reports at most this many issues: a file of nonsense gives a few readable
// lines, not a copy of itself.
constexpr std::size_t kShownCharacters = 200;
constexpr std::size_t kMaxIssues = 50;

std::span<const FieldWord> WordsOf(F f) { return FieldRowOf(f).words; }

// The field that says how many bytes of a heartbeat packet are valid.
F LengthOf(F packet) { return ByteCountFieldOf(packet); }

// ---------------------------------------------------------------- text helpers

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Never fails.
std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// ASCII letters only are folded.
bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

// The value freed of one pair of enclosing quotes, as the profile INI rules read it.
std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

enum class DecimalError : std::uint8_t {
  NotANumber, // anything but digits
  TooLarge,   // digits beyond 32 bits
};
struct Decimal {
  std::uint32_t value = 0;
  std::optional<DecimalError> error;
};
// Decimal digits only, within 32 bits; the error says which rule failed.
Decimal ParseDecimal(std::string_view s) {
  if (s.empty()) return {0, DecimalError::NotANumber};
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return {0, DecimalError::NotANumber};
    if (v <= 0xFFFFFFFFull) v = v * 10 + std::uint64_t(c - '0');
  }
  if (v > 0xFFFFFFFFull) return {0, DecimalError::TooLarge};
  return {std::uint32_t(v), std::nullopt};
}

// -1 for a character that is no hex digit.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex pairs, blanks allowed between pairs; nullopt for an odd digit or a
// character that is neither a hex digit nor a blank.
std::optional<std::string> ParseHexBytes(std::string_view s) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    if (IsBlank(s[i])) {
      ++i;
      continue;
    }
    if (i + 1 >= s.size()) return std::nullopt;
    const int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(char((hi << 4) | lo));
    i += 2;
  }
  return out;
}

// Upper-case pairs; empty for no bytes.
std::string HexPairs(std::span<const std::uint8_t> bytes, bool spaced) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (spaced && i > 0) out.push_back(' ');
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return out;
}

// The field's bytes without the zero padding at its end.
std::span<const std::uint8_t> WithoutPadding(std::span<const std::uint8_t> field) {
  std::size_t n = field.size();
  while (n > 0 && field[n - 1] == 0) --n;
  return field.first(n);
}

// "0~max" of the field's width; never fails.
std::string RecordRange(F f) { return "0~" + std::to_string(FieldMaximum(f)); }

// ---------------------------------------------------------------- device texts

// GBK bytes as UTF-8 text; nullopt when they are not clean GBK.
std::optional<std::string> DeviceTextToUtf8(const std::string& gbk) {
  cp936::Decoded d = cp936::ToUtf8(gbk);
  if (!d.clean) return std::nullopt;
  return std::move(d.utf8);
}

// UTF-8 text as GBK bytes; nullopt when a character has no GBK form.
std::optional<std::string> DeviceTextFromUtf8Checked(std::string_view utf8) {
  cp936::Encoded e = cp936::FromUtf8(utf8);
  if (!e.clean) return std::nullopt;
  return std::move(e.bytes);
}

// Up to kShownCharacters characters of text, on one line and readable:
// control characters and bytes that are not UTF-8 become \xNN, and a longer
// text ends in "…". Never fails.
std::string Shown(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++characters) {
    if (characters == kShownCharacters) return out + "…";
    const auto c = std::uint8_t(text[i]);
    std::size_t length = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (c >= 0x80 && (i + length > text.size() || !IsValidUtf8(text.substr(i, length))))
      length = 0; // not a character of its own
    if (length == 0 || c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kDigits[c >> 4];
      out += kDigits[c & 0x0F];
      ++i;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

// ---------------------------------------------------------------- writing

// A text field's value as a person reads it, or nullopt when its bytes are
// not a clean GBK text followed by zero padding.
std::optional<std::string> CleanText(std::span<const std::uint8_t> field) {
  const auto zero = std::find(field.begin(), field.end(), std::uint8_t(0));
  if (std::any_of(zero, field.end(), [](std::uint8_t b) { return b != 0; })) return std::nullopt;
  const std::string bytes(zero == field.begin() ? std::string() : std::string(field.begin(), zero));
  if (std::any_of(bytes.begin(), bytes.end(),
                  [](char c) { return std::uint8_t(c) < 0x20 || c == 0x7F; }))
    return std::nullopt;
  auto text = DeviceTextToUtf8(bytes);
  // Kept only when it turns back into the very same bytes.
  if (!text || DeviceTextFromUtf8Checked(*text) != bytes) return std::nullopt;
  // A clean text that looks like the hex form would be read as hex.
  if (text->size() >= 4 && SameWord(std::string_view(*text).substr(0, 4), "hex:"))
    return std::nullopt;
  return text;
}

struct WrittenValue {
  std::string text;
  const char* note = nullptr; // why the value is not in its usual form
};

// Never fails: any bytes have a spelling.
WrittenValue ValueOf(const TAppParams& record, F f) {
  const Kind kind = FieldRowOf(f).kind;
  const auto words = WordsOf(f);
  switch (kind) {
  case Kind::Number:
    return {std::to_string(record.Get(f))};
  case Kind::Ipv4:
    return {Ipv4ToText(record.Get(f))};
  case Kind::List:
  case Kind::Check: {
    const std::uint32_t v = record.Get(f);
    if (v < words.size()) return {std::string(words[v].word)};
    return {std::to_string(v), kind == Kind::List ? "outside the list, written as a number"
                                                  : "neither on nor off, written as a number"};
  }
  case Kind::HexPacket: {
    // As many bytes as its length field says, and any non-zero bytes beyond:
    // a packet may end in zero bytes of its own.
    const auto field = record.FieldBytes(f);
    const std::size_t valid = std::min<std::size_t>(record.Get(LengthOf(f)), field.size());
    return {HexPairs(field.first(std::max(valid, WithoutPadding(field).size())), true)};
  }
  case Kind::Text: {
    const auto field = record.FieldBytes(f);
    if (auto clean = CleanText(field)) return {*clean};
    return {"hex:" + HexPairs(WithoutPadding(field), false), "not clean GBK text, written as hex"};
  }
  }
  return {};
}

// Quotes a text the INI rules would otherwise change: blanks at either end, or
// quotes that would be taken for enclosing ones.
std::string Quoted(const std::string& v) {
  if (v.empty()) return v;
  const bool needs = IsBlank(v.front()) || IsBlank(v.back()) || v.front() == '"' ||
                     v.front() == '\'' || v.back() == '"' || v.back() == '\'';
  return needs ? '"' + v + '"' : v;
}

// The comment above a field: where the window shows it, what it takes, when
// it is shown and what the window stores into it.
std::string FieldComment(F f) {
  std::string out = WhereText(f) + " · " + AllowedText(f);
  if (const std::string shown = ShownText(f); !shown.empty()) out += " · " + shown;
  if (const std::string stored = StoredText(f); !stored.empty()) out += " · stored as " + stored;
  return out;
}

// The whole profile; stored[i], when not empty, is what the window stores
// for field i's value on the way to a unit.
std::string WriteProfileText(const TAppParams& record, std::span<const std::string> stored) {
  std::string out =
      "; K7v DTU parameter profile (UTF-8). Lines are `name = value`; lines starting with ';' are\n"
      "; comments. A profile may name only some fields: the others keep the unit's values.\n"
      "[params]\n";
  for (const AppFieldInfo& info : kAppFields) {
    const WrittenValue v = ValueOf(record, info.id);
    out += "\n; " + FieldComment(info.id) + '\n';
    if (v.note) out += std::string("; ") + v.note + '\n';
    if (std::size_t(info.id) < stored.size() && !stored[std::size_t(info.id)].empty())
      out += "; the window stores " + stored[std::size_t(info.id)] + '\n';
    out += info.name;
    out += " = ";
    out += Quoted(v.text);
    out += '\n';
  }
  return out;
}

// ---------------------------------------------------------------- reading

class Applier {
public:
  Applier(const TAppParams& base, std::span<const ProfileSource> sources, ProfileChecks checks)
      : sources_(sources), checks_(checks), base_(base) {
    result_.record = base;
  }

  void Apply(const ProfileSource& src) {
    std::array<int, std::size_t(F::Count)> firstLine{};
    bool inParams = src.assignment;
    bool sectionReported = false;
    int lineNo = 0;
    std::string_view rest = src.text;
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    while (!rest.empty() || lineNo == 0) {
      ++lineNo;
      const std::size_t nl = rest.find('\n');
      std::string_view line = rest.substr(0, nl);
      rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      const int shownLine = src.assignment || src.fromRecord ? 0 : lineNo;
      line = Trim(line);
      if (line.empty() || line.front() == ';') {
        if (rest.empty()) break;
        continue;
      }
      if (!IsValidUtf8(line)) {
        Error(src, shownLine, "", std::string(line),
              "not UTF-8 text, and the file is not GBK or UTF-16 throughout");
      } else if (!src.assignment && line.front() == '[') {
        const std::string_view section = Trim(line.substr(1, line.find(']') - 1));
        inParams = line.back() == ']' && SameWord(section, "params");
        if (!inParams)
          Error(src, shownLine, "", std::string(line),
                "unknown section: a profile has only [params]");
        sectionReported = true;
      } else if (const std::size_t eq = line.find('='); eq == std::string_view::npos) {
        Error(src, shownLine, "", std::string(line), "not a name = value line");
      } else {
        const std::string_view name = Trim(line.substr(0, eq));
        const std::string_view value = Unquote(Trim(line.substr(eq + 1)));
        const F f = FieldByName(name);
        if (!inParams) {
          if (!sectionReported)
            Error(src, shownLine, std::string(name), std::string(value), "outside [params]");
        } else if (f == F::Count) {
          Error(src, shownLine, std::string(name), std::string(value), "unknown name");
        } else if (firstLine[std::size_t(f)] != 0) {
          Error(src, shownLine, std::string(name), std::string(value),
                "duplicate: already set " + Place(src, firstLine[std::size_t(f)]));
        } else {
          firstLine[std::size_t(f)] = lineNo;
          Set(src, shownLine, f, std::string(name), value);
        }
      }
      if (rest.empty()) break;
    }
  }

  ProfileResult Finish() {
    // A packet given without its length gets the length of what it gives,
    // as the window counts the bytes of its hex text.
    for (const FieldRow& row : kFieldRows) {
      if (row.kind != Kind::HexPacket) continue;
      const std::size_t p = std::size_t(row.field), len = std::size_t(LengthOf(row.field));
      if (result_.named[p] && !failed_[p] && !result_.named[len])
        result_.record.Set(LengthOf(row.field), std::uint32_t(givenBytes_[p]));
    }
    if (checks_ == ProfileChecks::FieldRules) {
      // What the window stores from a named selector follows it into the
      // fields the profile leaves alone (KTSP makes the transports UDP).
      for (const StoreRule& rule : kStoreRules)
        if (!rule.when.always() && result_.named[std::size_t(rule.when.field)] &&
            !result_.named[std::size_t(rule.field)] && rule.when.Holds(result_.record))
          ApplyStoreRule(rule, result_.record);
      // Rules run once everything is in place: some look at other fields.
      finishing_ = true;
      for (std::size_t i = 0; i < std::size_t(F::Count); ++i) {
        if (!result_.named[i] || failed_[i]) continue;
        // A value the base already holds (a unit's own, read and written
        // back) is the unit's, not a technician's: it goes as the window
        // would store it, never refused.
        const auto given = result_.record.FieldBytes(F(i)), had = base_.FieldBytes(F(i));
        if (std::equal(given.begin(), given.end(), had.begin(), had.end())) continue;
        if (auto problem = RuleProblem(F(i))) {
          const Where& w = where_[i];
          Error(*w.src, w.line, w.name, w.value, *problem);
        }
      }
    }
    // Source by source, line by line, as a technician goes through the files.
    std::vector<std::size_t> order(result_.errors.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return std::pair(sourceOf_[a], result_.errors[a].line) <
             std::pair(sourceOf_[b], result_.errors[b].line);
    });
    std::vector<ProfileIssue> sorted;
    for (std::size_t k : order) sorted.push_back(std::move(result_.errors[k]));
    std::size_t more = dropped_;
    if (sorted.size() > kMaxIssues) {
      more += sorted.size() - kMaxIssues;
      sorted.resize(kMaxIssues);
    }
    if (more > 0) sorted.push_back({{}, 0, {}, {}, "… and " + std::to_string(more) + " more"});
    result_.errors = std::move(sorted);
    return std::move(result_);
  }

private:
  struct Where {
    const ProfileSource* src = nullptr;
    int line = 0;
    std::string name, value;
  };

  // "on line 4", "with --set", or nothing for a text written from a record.
  static std::string Place(const ProfileSource& src, int line) {
    if (src.fromRecord) return {};
    if (src.assignment) return "with " + src.name;
    return "on line " + std::to_string(line);
  }

  // Why the window would not let this value through; nullopt when it would.
  std::optional<std::string> RuleProblem(F f) const {
    const TAppParams& r = result_.record;
    const FieldRow& row = FieldRowOf(f);
    if (!row.values.empty()) {
      if (std::find(row.values.begin(), row.values.end(), r.Get(f)) != row.values.end())
        return std::nullopt;
      return "allowed " + AllowedText(f);
    }
    if (const F packet = PacketCountedBy(f); packet != F::Count) {
      const std::size_t p = std::size_t(packet);
      if (r.Get(f) > FieldRowOf(packet).maxBytes) return "allowed " + AllowedText(f);
      if (result_.named[p] && r.Get(f) != givenBytes_[p]) {
        const std::string place = Place(*where_[p].src, where_[p].line);
        return "the packet" + (place.empty() ? "" : " given " + place) + " has " +
               std::to_string(givenBytes_[p]) + " bytes";
      }
      return std::nullopt;
    }
    if (rawText_[std::size_t(f)])
      return std::nullopt; // hex: is the raw escape, held to the width only
    if ((row.kind == Kind::List || row.kind == Kind::Check) && r.Get(f) >= row.words.size())
      return "allowed " + AllowedText(f);
    // A field the window hides or disables in this mode is not checked by
    // its rule: the unit ignores it there and the technician cannot reach it.
    if (!HasExitRule(f) || !Reachable(f)) return std::nullopt;
    const F other = row.zeroWhileZero;
    if (other != F::Count && checks_ == ProfileChecks::FieldRulesNamedOnly &&
        !result_.named[std::size_t(other)])
      return std::nullopt;
    const std::string otherText = other == F::Count ? std::string() : ProfileValueText(r, other);
    const FieldCheck c = CheckExitRule(f, ProfileValueText(r, f), otherText);
    if (c.accepted()) return std::nullopt;
    return "allowed " + c.allowed;
  }

  // Shown and enabled by the selectors; one the profile does not name counts
  // as reaching the field until the unit's record is known.
  bool Reachable(F f) const {
    const FieldRow& row = FieldRowOf(f);
    for (const FieldCondition& c : {GroupOf(row).shownWhen, row.shownWhen, row.enabledWhen}) {
      if (c.always()) continue;
      const bool known =
          checks_ != ProfileChecks::FieldRulesNamedOnly || result_.named[std::size_t(c.field)];
      if (known && !c.Holds(result_.record)) return false;
    }
    return true;
  }

  void Error(const ProfileSource& src, int line, std::string name, std::string value,
             std::string reason) {
    // Issues of the reading come in order: past the limit, a later one could
    // never be among the first shown, so only their number is kept.
    if (!finishing_ && ++readingErrors_ > kMaxIssues) {
      ++dropped_;
      return;
    }
    result_.errors.push_back({src.name, line, Shown(name), Shown(value), std::move(reason)});
    sourceOf_.push_back(&src - sources_.data());
  }

  void Set(const ProfileSource& src, int line, F f, const std::string& name,
           std::string_view value) {
    const std::size_t i = std::size_t(f);
    where_[i] = {&src, line, name, std::string(value)};
    result_.named.set(i);
    failed_.reset(i);
    if (auto problem = Store(f, value)) {
      failed_.set(i);
      Error(src, line, name, std::string(value), *problem);
    }
  }

  // Stores value into the field; the reason when it cannot.
  std::optional<std::string> Store(F f, std::string_view value) {
    const Kind kind = FieldRowOf(f).kind;
    const auto words = WordsOf(f);
    const AppFieldInfo& info = FieldInfo(f);
    const bool rules = checks_ != ProfileChecks::RecordOnly;
    switch (kind) {
    case Kind::Number: {
      const Decimal v = ParseDecimal(value);
      if (v.error == DecimalError::NotANumber)
        return "not a whole number: allowed " + AllowedText(f);
      if (v.error || (info.size < 4 && v.value >> (8 * info.size)))
        return "too large for the record: allowed " + RecordRange(f);
      result_.record.Set(f, v.value);
      return std::nullopt;
    }
    case Kind::List:
    case Kind::Check: {
      for (std::size_t k = 0; k < words.size(); ++k)
        if (SameWord(value, words[k].word)) {
          result_.record.Set(f, std::uint32_t(k));
          return std::nullopt;
        }
      // A number outside the words is held to the rules once the base is
      // known: it may be the unit's own.
      const Decimal v = ParseDecimal(value);
      if (v.error == DecimalError::NotANumber) return "allowed " + AllowedText(f);
      if (v.error || v.value > 0xFF)
        return "too large for the record: allowed " + AllowedText(f) + " or 0~255";
      result_.record.Set(f, v.value);
      return std::nullopt;
    }
    case Kind::Ipv4: {
      const FieldCheck c = CheckStorable(f, value);
      if (!c.accepted()) return "not an IPv4 address: allowed " + c.allowed;
      result_.record.Set(f, Ipv4FromText(value));
      return std::nullopt;
    }
    case Kind::HexPacket: {
      const auto bytes = ParseHexBytes(value);
      if (!bytes) return "not hex bytes (pairs of 0-9 A-F, blanks between)";
      if (bytes->size() > info.size)
        return std::to_string(bytes->size()) + " bytes: the packet holds at most " +
               std::to_string(info.size);
      result_.record.SetText(f, *bytes);
      givenBytes_[std::size_t(f)] = bytes->size();
      return std::nullopt;
    }
    case Kind::Text: {
      std::string bytes;
      rawText_.reset(std::size_t(f));
      if (value.size() >= 4 && SameWord(value.substr(0, 4), "hex:")) {
        const auto parsed = ParseHexBytes(value.substr(4));
        if (!parsed) return "not hex bytes after hex:";
        bytes = *parsed;
        rawText_.set(std::size_t(f));
      } else {
        const auto converted = DeviceTextFromUtf8Checked(value);
        if (!converted) return "has characters GBK cannot hold";
        bytes = *converted;
      }
      // The unit reads a text up to its zero byte: a typed one (--set)
      // leaves room for it, as a page's does; a file's may fill the field.
      const bool typed = rules && where_[std::size_t(f)].src->assignment &&
                         !rawText_[std::size_t(f)] && !FieldRowOf(f).exactBytes;
      if (bytes.size() > (typed ? FieldRowOf(f).maxBytes : info.size))
        return "too long: " + std::to_string(bytes.size()) + " GBK bytes, allowed " +
               (typed ? AllowedText(f) : CheckStorable(f, {}).allowed);
      result_.record.SetText(f, bytes);
      return std::nullopt;
    }
    }
    return std::nullopt;
  }

  std::span<const ProfileSource> sources_;
  ProfileChecks checks_;
  TAppParams base_;
  ProfileResult result_;
  std::vector<std::ptrdiff_t> sourceOf_; // per error: index of its source
  std::size_t readingErrors_ = 0;        // issues found while reading the lines
  std::size_t dropped_ = 0;              // of those, the ones past the limit
  bool finishing_ = false;               // the field rules run, after the reading
  NamedFields failed_;
  NamedFields rawText_;                                         // texts given as hex:
  std::array<std::size_t, std::size_t(F::Count)> givenBytes_{}; // packets: bytes given
  std::array<Where, std::size_t(F::Count)> where_{};
};

} // namespace

// Never fails.
std::string FormatIssue(const ProfileIssue& issue) {
  if (issue.source.empty() && issue.name.empty() && issue.value.empty()) return issue.reason;
  std::string out = issue.source;
  if (issue.line > 0) out += ':' + std::to_string(issue.line);
  if (!issue.name.empty()) out += ": " + issue.name;
  if (!issue.value.empty() || !issue.name.empty()) out += ": " + issue.value;
  out += ": " + issue.reason;
  return out;
}

// AppField::Count for an unknown name.
AppField FieldByName(std::string_view name) {
  for (const AppFieldInfo& info : kAppFields)
    if (SameWord(name, info.name)) return info.id;
  return AppField::Count;
}

ProfileResult ApplyProfiles(const TAppParams& base, std::span<const ProfileSource> sources,
                            ProfileChecks checks) {
  Applier applier(base, sources, checks);
  for (const ProfileSource& src : sources) applier.Apply(src);
  return applier.Finish();
}

// Never fails.
std::string ProfileTextFromFileBytes(std::string bytes) {
  const bool utf16 = bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                           (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
  if (utf16) return ProfileIni::FromFileBytes(std::move(bytes)).content();
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  if (IsValidUtf8(bytes)) return bytes;
  // Not UTF-8 anywhere it matters: a Chinese Windows editor's ANSI file, as
  // a whole, or else nothing this reader guesses at.
  cp936::Decoded gbk = cp936::ToUtf8(bytes);
  return gbk.clean ? std::move(gbk.utf8) : bytes;
}

// Empty for a value outside the enum.
std::string ProfileValueText(const TAppParams& record, AppField field) {
  if (std::size_t(field) >= std::size_t(AppField::Count)) return {};
  return ValueOf(record, field).text;
}

// Never fails.
std::string WriteProfile(const TAppParams& record) {
  // What the window would store instead of a value, found by the pages'
  // own encoding, so that a write-back's notes come as no surprise.
  std::array<std::string, std::size_t(F::Count)> stored;
  for (const StoredNote& note : StoreNotesFor(record))
    stored[std::size_t(note.field)] = note.to + " (" + note.why + ")";
  return WriteProfileText(record, stored);
}

// Empty when the records are byte for byte the same.
std::vector<FieldDifference> CompareRecords(const TAppParams& a, const TAppParams& b) {
  std::vector<FieldDifference> out;
  for (const AppFieldInfo& info : kAppFields) {
    const auto fa = a.FieldBytes(info.id), fb = b.FieldBytes(info.id);
    if (!std::equal(fa.begin(), fa.end(), fb.begin(), fb.end()))
      out.push_back({info.id, ProfileValueText(a, info.id), ProfileValueText(b, info.id)});
  }
  return out;
}
