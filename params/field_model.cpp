#include "params/field_model.h"

#include "platform/ipv4.h"

namespace {

using F = AppField;

// Every record field has exactly one row; groups and pages exist and come in
// page order; lists and boxes have words, nothing else has.
constexpr bool TableIsSound() {
  std::array<int, std::size_t(F::Count)> rows{};
  std::uint8_t lastPage = 0;
  for (const FieldRow& row : kFieldRows) {
    if (std::size_t(row.field) >= rows.size() || row.group >= kFieldGroups.size()) return false;
    ++rows[std::size_t(row.field)];
    const std::uint8_t page = kFieldGroups[row.group].page;
    if (page >= kFieldPages.size() || page < lastPage) return false;
    lastPage = page;
    const bool hasWords = row.kind == FieldKind::List || row.kind == FieldKind::Check;
    if (hasWords == row.words.empty()) return false;
  }
  for (int n : rows)
    if (n != 1) return false;
  return true;
}
static_assert(TableIsSound(), "one row per record field, pages in order, words for lists");

std::string Join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (const std::string& p : parts) {
    if (p.empty()) continue;
    if (!out.empty()) out += separator;
    out += p;
  }
  return out;
}

// "1~1024", "0, 10~65535"; a gap outside the range is left out.
std::string RangeText(const NumberRange& r) {
  auto span = [](std::int64_t lo, std::int64_t hi) {
    return lo == hi ? std::to_string(lo) : std::to_string(lo) + "~" + std::to_string(hi);
  };
  if (r.gapMin > r.gapMax || r.gapMax < r.min || r.gapMin > r.max) return span(r.min, r.max);
  std::vector<std::string> parts;
  if (r.gapMin > r.min) parts.push_back(span(r.min, r.gapMin - 1));
  if (r.gapMax < r.max) parts.push_back(span(std::int64_t(r.gapMax) + 1, r.max));
  return Join(parts, ", ");
}

// The value as its word where the field has words, else as a number.
std::string ValueText(AppField field, std::uint32_t value) {
  const std::string_view word = WordOf(field, value);
  return word.empty() ? std::to_string(value) : std::string(word);
}

} // namespace

// Every field has a row; never fails.
bool FieldShown(AppField field, const TAppParams& record) {
  const FieldRow& row = FieldRowOf(field);
  return GroupOf(row).shownWhen.Holds(record) && row.shownWhen.Holds(record);
}

bool FieldReachable(AppField field, const TAppParams& record) {
  return FieldShown(field, record) && FieldRowOf(field).enabledWhen.Holds(record);
}

int TypingLimit(AppField field) {
  const FieldRow& row = FieldRowOf(field);
  if (row.control.empty()) return 0;
  switch (row.kind) {
  case FieldKind::Text:
    return row.maxBytes;
  case FieldKind::Ipv4:
    return int(std::string_view("255.255.255.255").size());
  case FieldKind::HexPacket:
    return 2 * row.maxBytes;
  case FieldKind::Number:
    return row.values.empty() ? int(std::to_string(row.range.max).size()) : 0;
  default:
    return 0;
  }
}

bool TypedCharacterPasses(FieldTyping typing, std::uint32_t c) {
  auto in = [c](std::uint32_t lo, std::uint32_t hi) { return c >= lo && c <= hi; };
  const bool digit = in('0', '9');
  switch (typing) {
  case FieldTyping::Digits:
    return !(in(32, 47) || in(58, 126));
  case FieldTyping::Address:
    return !(in(32, 45) || c == 47 || in(58, 126));
  case FieldTyping::Phone:
    return c == 8 || c == '+' || digit;
  case FieldTyping::Hex:
    return c == 8 || c == ' ' || digit || in('A', 'F') || in('a', 'f');
  case FieldTyping::Picked:
  case FieldTyping::Any:
    break;
  }
  return true;
}

bool HasExitRule(AppField field) {
  const FieldRow& row = FieldRowOf(field);
  if (row.control.empty()) return false;
  switch (row.kind) {
  case FieldKind::Number:
    return row.values.empty();
  case FieldKind::Ipv4:
    return true;
  case FieldKind::Text:
    return row.exactBytes;
  default:
    return false;
  }
}

AppField ByteCountFieldOf(AppField packet) {
  for (const StoreRule& rule : kStoreRules)
    if (rule.effect == StoreEffect::ByteCountOf && rule.source == packet) return rule.field;
  return AppField::Count;
}

AppField PacketCountedBy(AppField count) {
  for (const StoreRule& rule : kStoreRules)
    if (rule.effect == StoreEffect::ByteCountOf && rule.field == count) return rule.source;
  return AppField::Count;
}

// ByteCountOf is left alone.
void ApplyStoreRule(const StoreRule& rule, TAppParams& record) {
  const FieldEncoding encoding = FieldInfo(rule.field).encoding;
  switch (rule.effect) {
  case StoreEffect::Set:
    if (encoding == FieldEncoding::Bytes || encoding == FieldEncoding::Text)
      record.SetText(rule.field, {});
    else
      record.Set(rule.field, rule.value);
    break;
  case StoreEffect::AtMost:
    if (record.Get(rule.field) > rule.value) record.Set(rule.field, rule.value);
    break;
  case StoreEffect::ByteCountOf:
    break;
  }
}

// Never fails.
void ApplyStoreRules(TAppParams& record) {
  for (const StoreRule& rule : kStoreRules)
    if (rule.when.Holds(record)) ApplyStoreRule(rule, record);
}

// Empty when the field is as its rules store it.
std::vector<const StoreRule*> StoreRulesChanging(AppField field, const TAppParams& record) {
  std::vector<const StoreRule*> out;
  for (const StoreRule& rule : kStoreRules) {
    if (rule.field != field || !rule.when.Holds(record)) continue;
    TAppParams stored = record;
    ApplyStoreRule(rule, stored);
    if (!(stored == record)) out.push_back(&rule);
  }
  return out;
}

// ---------------------------------------------------------------- in words

std::string WhereText(AppField field) {
  const FieldRow& row = FieldRowOf(field);
  return std::string(PageOf(row).navigation.text) + " / " + std::string(row.label.text);
}

std::string AllowedText(AppField field) {
  const FieldRow& row = FieldRowOf(field);
  std::vector<std::string> parts;
  switch (row.kind) {
  case FieldKind::List:
  case FieldKind::Check:
    for (const FieldWord& w : row.words) parts.emplace_back(w.word);
    return Join(parts, " | ");
  case FieldKind::Number:
    if (row.values.empty()) return RangeText(row.range);
    for (std::uint32_t v : row.values) parts.push_back(std::to_string(v));
    return Join(parts, " | ");
  case FieldKind::Ipv4:
    // The address the old conversion gave for a failure is no address here either.
    return std::string(kIpv4Form) + (HasExitRule(field) ? ", not 255.255.255.255" : "");
  case FieldKind::Text:
    if (row.exactBytes) return std::to_string(row.maxBytes) + " bytes (GBK)";
    return "0~" + std::to_string(row.maxBytes) + " bytes (GBK)";
  case FieldKind::HexPacket:
    return "hex bytes, at most " + std::to_string(row.maxBytes);
  }
  return {};
}

std::string_view KindName(FieldKind kind) {
  switch (kind) {
  case FieldKind::Number:
    return "number";
  case FieldKind::Text:
    return "text";
  case FieldKind::Ipv4:
    return "ipv4";
  case FieldKind::List:
    return "list";
  case FieldKind::Check:
    return "check";
  case FieldKind::HexPacket:
    return "hex_packet";
  }
  return {};
}

std::string_view TypingName(FieldTyping typing) {
  switch (typing) {
  case FieldTyping::Picked:
    return "picked";
  case FieldTyping::Digits:
    return "digits";
  case FieldTyping::Address:
    return "address";
  case FieldTyping::Phone:
    return "phone";
  case FieldTyping::Hex:
    return "hex";
  case FieldTyping::Any:
    return "any";
  }
  return {};
}

std::string_view WordOf(AppField field, std::uint32_t value) {
  const auto words = FieldRowOf(field).words;
  return value < words.size() ? words[value].word : std::string_view();
}

std::string ConditionText(const FieldCondition& condition) {
  if (condition.always()) return {};
  return std::string(FieldInfo(condition.field).name) + " is " +
         ValueText(condition.field, condition.is);
}

std::string ShownText(AppField field) {
  const FieldRow& row = FieldRowOf(field);
  const std::string shown =
      Join({ConditionText(GroupOf(row).shownWhen), ConditionText(row.shownWhen)}, " and ");
  const std::string enabled = ConditionText(row.enabledWhen);
  return Join({shown.empty() ? "" : "shown when " + shown,
               enabled.empty() ? "" : "enabled when " + enabled},
              "; ");
}

std::string StoredText(AppField field) {
  std::vector<std::string> parts;
  const bool bytes = FieldInfo(field).encoding == FieldEncoding::Bytes;
  for (const StoreRule& rule : kStoreRules) {
    if (rule.field != field) continue;
    std::string what;
    switch (rule.effect) {
    case StoreEffect::Set:
      what = bytes ? "no bytes" : ValueText(field, rule.value);
      break;
    case StoreEffect::AtMost:
      what = "at most " + std::to_string(rule.value);
      break;
    case StoreEffect::ByteCountOf:
      what = std::string("the byte count of ") + FieldInfo(rule.source).name;
      break;
    }
    const std::string when = ConditionText(rule.when);
    parts.push_back(when.empty() ? what : what + " while " + when);
  }
  return Join(parts, "; ");
}
