#include "params/edited_config.h"

#include <algorithm>

#include "params/factory_set.h"
#include "params/field_checks.h"
#include "params/field_model.h"
#include "params/hex_text.h"
#include "platform/code_page_936.h"
#include "platform/ipv4.h"
#include "platform/profile_ini.h"

namespace {

using F = AppField;

constexpr int kHexTextCapacity = 130; // characters of the window's heartbeat text buffer

std::size_t Index(F f) { return std::size_t(f); }

bool HasControl(const FieldRow& row) { return !row.control.empty(); }

// The controls that are single-line edits: what the check before a write
// walks, and what keeps a record's text bytes.
bool IsEdit(const FieldRow& row) {
  if (!HasControl(row)) return false;
  switch (row.kind) {
  case FieldKind::Number:
    return row.values.empty();
  case FieldKind::Text:
  case FieldKind::Ipv4:
    return true;
  default:
    return false;
  }
}

// The field whose control shows f: its own, or its packet's for a byte count.
F ShownBy(F f) { return HasControl(FieldRowOf(f)) ? f : PacketCountedBy(f); }

bool SameBytes(const TAppParams& a, const TAppParams& b, F f) {
  const auto x = a.FieldBytes(f), y = b.FieldBytes(f);
  return std::equal(x.begin(), x.end(), y.begin(), y.end());
}

void CopyField(TAppParams& to, const TAppParams& from, F f) {
  const auto src = from.FieldBytes(f);
  std::copy(src.begin(), src.end(), to.FieldBytes(f).begin());
}

std::string ShownValue(const TAppParams& p, F f) {
  const FieldRow& row = FieldRowOf(f);
  const std::uint32_t value = p.Get(f);
  switch (row.kind) {
  case FieldKind::List:
    return value < row.words.size() ? std::to_string(value) : std::string();
  case FieldKind::Number:
    if (row.values.empty() ||
        std::find(row.values.begin(), row.values.end(), value) != row.values.end())
      return std::to_string(value);
    return {};
  case FieldKind::Ipv4:
    return Ipv4ToText(value);
  case FieldKind::Text:
    return cp936::ToUtf8(p.GetText(f)).utf8;
  case FieldKind::HexPacket: {
    // A count above the field's 24 bytes would show bytes of the next fields.
    const int count = int(std::min<std::size_t>(p.Get(ByteCountFieldOf(f)), FieldInfo(f).size));
    return BytesToHex(p.FieldBytes(f).data(), count, kHexTextCapacity);
  }
  case FieldKind::Check:
    return (row.onWhenNonZero ? value != 0 : value == 1) ? "1" : "0";
  }
  return {};
}

// Stores a control's value into its field (a packet with its byte count);
// false for a number field that holds no number.
bool StoreValue(TAppParams& record, F f, const std::string& text) {
  const FieldRow& row = FieldRowOf(f);
  const AppFieldInfo& info = FieldInfo(f);
  switch (row.kind) {
  case FieldKind::List: // no selection: 0xFF
    record.Set(f, text.empty() ? 0xFF : std::uint32_t(ParseInt32(text).value_or(0xFF)));
    return true;
  case FieldKind::Number: {
    const auto n = ParseInt32(text);
    if (!n) return false;
    record.Set(f, std::uint32_t(*n)); // low bits, as wide as the field
    return true;
  }
  case FieldKind::Text:
    record.SetText(f, cp936::FromUtf8(text, info.size).bytes);
    return true;
  case FieldKind::Ipv4:
    record.Set(f, Ipv4FromText(text));
    return true;
  case FieldKind::Check:
    record.Set(f, text == "1" ? 1 : 0);
    return true;
  case FieldKind::HexPacket: {
    const auto parsed = HexToBytes(text, int(text.size()));
    const std::size_t n = std::min<std::size_t>(parsed.size(), info.size);
    record.SetText(f, {});
    record.Set(ByteCountFieldOf(f), std::uint32_t(n));
    std::copy_n(parsed.begin(), n, record.FieldBytes(f).begin());
    return true;
  }
  }
  return true;
}

// A text from a file that leaves the unit no zero byte to find its end by.
bool FillsItsField(const TAppParams& record, F f) {
  const FieldRow& row = FieldRowOf(f);
  if (row.kind != FieldKind::Text || row.exactBytes) return false;
  const auto bytes = record.FieldBytes(f);
  return std::find(bytes.begin(), bytes.end(), std::uint8_t(0)) == bytes.end();
}

// Why the record a unit receives holds otherwise than what was given.
std::string WhyStored(F f, const TAppParams& stored) {
  for (const StoreRule& rule : kStoreRules)
    if (rule.field == f && rule.when.Holds(stored)) return StoredText(f);
  const FieldRow& row = FieldRowOf(f);
  if (row.kind == FieldKind::Check) return "the box stores " + AllowedText(f);
  if (row.kind == FieldKind::List || !row.values.empty())
    return "outside the list, which stores no selection";
  return "as the pages hold it";
}

// A value as a note shows it: "" for none, so that it can be seen.
std::string Spelled(std::string value) { return value.empty() ? "\"\"" : value; }

// A profile's text: a [params] section or a line naming a field, and
// nothing that is not text. A raw record has zero bytes in it.
bool ReadsAsProfile(std::string_view text) {
  if (text.find('\0') != std::string_view::npos || !IsValidUtf8(text)) return false;
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
      line.remove_suffix(1);
    if (line.size() >= 8 && line.front() == '[' && line.back() == ']') {
      std::string section(line.substr(1, line.size() - 2));
      for (char& c : section) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      if (section == "params") return true;
    }
    if (const std::size_t eq = line.find('='); eq != std::string_view::npos) {
      std::string_view name = line.substr(0, eq);
      while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
      if (FieldByName(name) != F::Count) return true;
    }
  }
  return false;
}

} // namespace

EditedConfig::Values ShownValues(const TAppParams& record) {
  EditedConfig::Values values;
  for (const FieldRow& row : kFieldRows)
    if (HasControl(row)) values[Index(row.field)] = ShownValue(record, row.field);
  return values;
}

EditedConfig::EditedConfig() { Load(FactoryParams(), LoadedFrom::Factory); }

EditedConfig::Loaded EditedConfig::Load(const TAppParams& record, LoadedFrom from) {
  Loaded out;
  const bool keepId = from == LoadedFrom::Factory && filled_[Index(F::dtu_id)].has_value();
  for (const AppFieldInfo& info : kAppFields) {
    if (keepId && info.id == F::dtu_id) continue;
    CopyField(loaded_, record, info.id);
  }
  for (const FieldRow& row : kFieldRows) {
    const F f = row.field;
    if (!HasControl(row) || (keepId && f == F::dtu_id)) continue;
    Remember(f, record, from != LoadedFrom::Factory);
    const std::uint32_t value = record.Get(f);
    const bool isList = row.kind == FieldKind::List || !row.values.empty();
    if ((isList && values_[Index(f)].empty()) ||
        (row.kind == FieldKind::Check && value > 1 && !row.onWhenNonZero))
      out.notShown.push_back(f);
    if (from == LoadedFrom::File && FillsItsField(record, f)) out.fullTexts.push_back(f);
  }
  return out;
}

void EditedConfig::Remember(F f, const TAppParams& record, bool keepBytes) {
  const std::size_t i = Index(f);
  values_[i] = ShownValue(record, f);
  filled_[i] = values_[i];
  if (keepBytes && FieldInfo(f).encoding == FieldEncoding::Text) {
    const auto bytes = record.FieldBytes(f);
    deviceBytes_[i] = std::string(bytes.begin(), bytes.end());
  } else {
    deviceBytes_[i].reset();
  }
}

void EditedConfig::SetValue(F f, std::string text) {
  if (Index(f) < values_.size() && HasControl(FieldRowOf(f))) values_[Index(f)] = std::move(text);
}

void EditedConfig::SetValues(const Values& values) {
  for (const FieldRow& row : kFieldRows) SetValue(row.field, values[Index(row.field)]);
}

bool EditedConfig::Changed(F f) const {
  const auto& filled = filled_[Index(f)];
  return !filled || *filled != values_[Index(f)];
}

bool EditedConfig::Untouched(F f) const { return !Changed(ShownBy(f)); }

TAppParams EditedConfig::Selectors() const {
  TAppParams state;
  for (const FieldRow& row : kFieldRows) {
    const std::string& v = values_[Index(row.field)];
    if (row.kind == FieldKind::List)
      state.Set(row.field, v.empty() ? 0xFF : std::uint32_t(ParseInt32(v).value_or(0xFF)) & 0xFF);
    else if (row.kind == FieldKind::Check)
      state.Set(row.field, v == "1" ? 1 : 0);
  }
  return state;
}

bool EditedConfig::Shown(F f) const { return FieldShown(f, Selectors()); }
bool EditedConfig::Enabled(F f) const { return FieldReachable(f, Selectors()); }
bool EditedConfig::Holds(const FieldCondition& condition) const {
  return condition.Holds(Selectors());
}

std::optional<EditedConfig::Verdict> EditedConfig::Leave(F f) const {
  const FieldRow& row = FieldRowOf(f);
  const std::string& text = value(f);
  // A text typed in a character the unit's code page lacks would reach it as '?'.
  if (row.kind == FieldKind::Text && Changed(f) && !cp936::FromUtf8(text).clean)
    return Verdict{false, {f, "par_error", AllowedText(f), "not in code page 936"}};
  if (!HasExitRule(f)) return std::nullopt;
  const F other = row.zeroWhileZero;
  const FieldCheck check = CheckExitRule(f, text, other == F::Count ? std::string() : value(other));
  if (check.accepted()) return std::nullopt;
  return Verdict{check.outcome == FieldCheck::Outcome::NotANumber,
                 {f, "par_error", check.allowed, {}}};
}

std::vector<F> EditedConfig::Choose(F selector, std::string value) {
  std::vector<F> changed;
  if (value != this->value(selector)) changed.push_back(selector);
  SetValue(selector, std::move(value));
  for (const ChangeRule& rule : kChangeRules) {
    if (rule.when.field != selector) continue;
    const bool holds = rule.when.Holds(Selectors());
    if (!holds && !rule.otherwiseSet) continue;
    const std::string box = (holds ? rule.then : rule.otherwise) ? "1" : "0";
    if (box == this->value(rule.field)) continue;
    // A box set runs its own rules, as a click on it would.
    for (F f : Choose(rule.field, box)) changed.push_back(f);
  }
  return changed;
}

bool EditedConfig::ChecksWhenLeft(F f) {
  const FieldRow& row = FieldRowOf(f);
  return HasExitRule(f) || (HasControl(row) && row.kind == FieldKind::Text);
}

std::vector<ConfigRefusal> EditedConfig::Check() const {
  std::vector<ConfigRefusal> out;
  const TAppParams selectors = Selectors();
  for (const FieldRow& row : kFieldRows) {
    if (!IsEdit(row)) continue;
    const F f = row.field;
    const std::string& text = value(f);
    const bool changed = Changed(f);
    // An untouched text goes back with the bytes it came with.
    if (!changed && deviceBytes_[Index(f)]) continue;
    if (row.kind == FieldKind::Text && changed) {
      // A technician's text: the unit's code page, and room for its zero byte.
      if (!cp936::FromUtf8(text).clean) {
        out.push_back({f, "par_error", AllowedText(f), "not in code page 936"});
        continue;
      }
      if (const FieldCheck given = CheckGivenText(f, text); !given.accepted()) {
        out.push_back({f, "par_error", given.allowed, {}});
        continue;
      }
    }
    FieldCheck check = CheckStorable(f, text);
    // A field hidden or disabled in this mode is held only to what the
    // record can store: the unit ignores it there.
    if (check.accepted() && changed && HasExitRule(f) && FieldReachable(f, selectors)) {
      const F other = row.zeroWhileZero;
      check = CheckExitRule(f, text, other == F::Count ? std::string() : value(other));
    }
    // A number that is no number is Encode's to report.
    if (check.accepted() || check.outcome == FieldCheck::Outcome::NotANumber) continue;
    out.push_back({f, "par_error", check.allowed, {}});
  }
  return out;
}

TAppParams EditedConfig::Given(F* notANumber) const {
  TAppParams record = loaded_;
  for (const AppFieldInfo& info : kAppFields) {
    const FieldRow& row = FieldRowOf(info.id);
    if (!HasControl(row) || !Changed(info.id)) continue;
    if (!StoreValue(record, info.id, value(info.id)) && notANumber && *notANumber == F::Count)
      *notANumber = info.id;
  }
  return record;
}

EditedConfig::Encoded EditedConfig::Encode() const {
  TAppParams record;
  // Record order: with several fields that are not numbers, the first one in
  // the record is the one reported.
  for (const AppFieldInfo& info : kAppFields) {
    if (!HasControl(FieldRowOf(info.id))) continue; // stored from another field
    if (!StoreValue(record, info.id, value(info.id))) return {std::nullopt, info.id, {}};
  }
  // What the pages show is not all the record holds: KTSP runs over UDP
  // whatever the transport lists show, a packet that is off is nothing.
  ApplyStoreRules(record);
  // A text nobody touched goes back byte for byte, even where its bytes are
  // not clean GBK, or fill the field, and would not survive a round trip.
  for (const FieldRow& row : kFieldRows) {
    const auto& kept = deviceBytes_[Index(row.field)];
    if (!IsEdit(row) || !kept || Changed(row.field)) continue;
    const auto field = record.FieldBytes(row.field);
    if (kept->size() == field.size()) std::copy_n(kept->begin(), field.size(), field.begin());
  }
  Encoded out{record, F::Count, {}};
  const TAppParams given = Given(nullptr);
  for (const AppFieldInfo& info : kAppFields)
    if (!SameBytes(given, record, info.id))
      out.notes.push_back({info.id, Spelled(ProfileValueText(given, info.id)),
                           Spelled(ProfileValueText(record, info.id)), WhyStored(info.id, record)});
  return out;
}

EditedConfig::Taken EditedConfig::ApplyProfile(std::span<const ProfileSource> sources,
                                               ProfileChecks checks) {
  Taken out;
  out.kind = Taken::Kind::Profile;
  const TAppParams base = Given(nullptr);
  ProfileResult result = ApplyProfiles(base, sources, checks);
  if (!result.ok()) {
    out.errors = std::move(result.errors);
    return out;
  }
  for (const AppFieldInfo& info : kAppFields) {
    const F f = info.id;
    const bool differs = !SameBytes(base, result.record, f);
    if (!differs && !result.named[Index(f)]) continue;
    out.changed += differs ? 1 : 0;
    CopyField(loaded_, result.record, f);
    if (const F shown = ShownBy(f); shown != F::Count) {
      // A packet is shown with its count: both as the profile left them.
      if (shown != f) CopyField(loaded_, result.record, shown);
      if (const F count = ByteCountFieldOf(shown); count != F::Count)
        CopyField(loaded_, result.record, count);
      Remember(shown, loaded_, true);
    }
    if (FillsItsField(result.record, f)) out.loaded.fullTexts.push_back(f);
  }
  return out;
}

EditedConfig::Taken EditedConfig::TakeFile(std::string_view bytes, const std::string& name) {
  const std::string text = ProfileTextFromFileBytes(std::string(bytes));
  if (FileReadsAsProfile(bytes, name)) {
    const ProfileSource source{name, text, false};
    return ApplyProfile(std::span(&source, 1), ProfileChecks::RecordOnly);
  }
  Taken out;
  out.fileBytes = bytes.size();
  if (bytes.size() < TAppParams::kSize) {
    out.refusalKey = "param_file_short";
    return out;
  }
  // Text that reads as no profile would fill the pages with letters.
  if (text.find('\0') == std::string::npos && IsValidUtf8(text)) {
    out.refusalKey = "file_not_params";
    return out;
  }
  const TAppParams before = Given(nullptr);
  const TAppParams record = TAppParams::FromBytes(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), TAppParams::kSize));
  out.kind = Taken::Kind::Record;
  out.changed = int(CompareRecords(before, record).size());
  out.extraBytes = bytes.size() - TAppParams::kSize;
  out.loaded = Load(record, LoadedFrom::File);
  return out;
}

std::vector<StoredNote> StoreNotesFor(const TAppParams& record) {
  EditedConfig config;
  config.Load(record, LoadedFrom::File);
  return config.Encode().notes;
}

bool FileReadsAsProfile(std::string_view bytes, std::string_view name) {
  const std::string text = ProfileTextFromFileBytes(std::string(bytes));
  if (ReadsAsProfile(text)) return true;
  std::string suffix(name.substr(std::min(name.size(), name.rfind('.') + 1)));
  if (name.rfind('.') == std::string_view::npos) suffix.clear();
  for (char& c : suffix) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return (suffix == "ini" || suffix == "txt") && text.find('\0') == std::string::npos &&
         IsValidUtf8(text);
}

std::string NoteText(const StoredNote& note) {
  return std::string(FieldInfo(note.field).name) + ": " + note.from + " → " + note.to + " (" +
         note.why + ")";
}

UnitWrite PrepareUnitWrite(const TAppParams& unit, std::span<const ProfileSource> sources,
                           ProfileChecks checks) {
  UnitWrite out;
  EditedConfig config;
  config.Load(unit, LoadedFrom::Unit);
  const EditedConfig::Taken taken = config.ApplyProfile(sources, checks);
  if (!taken.ok()) {
    out.refusal = FormatIssue(taken.errors.front());
    return out;
  }
  const EditedConfig::Encoded encoded = config.Encode();
  if (!encoded.record) {
    // A list of numbers (a speed) that holds none of them has no selection to send.
    out.refusal = std::string(FieldInfo(encoded.notANumber).name) + ": " +
                  std::to_string(config.loaded().Get(encoded.notANumber)) + ": allowed " +
                  AllowedText(encoded.notANumber);
    return out;
  }
  for (AppField f : taken.loaded.fullTexts)
    out.notes.push_back(std::string(FieldInfo(f).name) +
                        ": fills its field, the unit finds no zero byte after it");
  for (const StoredNote& note : encoded.notes) out.notes.push_back(NoteText(note));
  out.record = encoded.record;
  out.changed = int(CompareRecords(unit, *out.record).size());
  return out;
}
