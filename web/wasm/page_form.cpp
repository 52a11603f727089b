#include "web/wasm/page_form.h"

#include <algorithm>

#include "params/field_checks.h"
#include "params/field_model.h"
#include "params/hex_text.h"
#include "platform/code_page_936.h"
#include "platform/ipv4.h"

namespace {

constexpr int kHexTextCapacity = 130; // characters of the window's heartbeat text buffer

std::size_t Index(AppField f) { return std::size_t(f); }

bool HasControl(const FieldRow& row) { return !row.control.empty(); }

// The controls that are single-line edits in the window: what the check
// before a write walks, and what keeps device texts.
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

std::string HeartbeatText(const TAppParams& p, AppField bytesField) {
  // A count above the field's 24 bytes would show bytes of the next fields.
  const int count =
      int(std::min<std::size_t>(p.Get(ByteCountFieldOf(bytesField)), FieldInfo(bytesField).size));
  return BytesToHex(p.FieldBytes(bytesField).data(), count, kHexTextCapacity);
}

} // namespace

PageForm::Values PageForm::Show(const TAppParams& p, std::vector<AppField>& notShown) {
  Values values;
  for (const AppFieldInfo& info : kAppFields) {
    const FieldRow& row = FieldRowOf(info.id);
    if (!HasControl(row)) continue;
    const std::uint32_t value = p.Get(info.id);
    std::string& shown = values[Index(info.id)];
    switch (row.kind) {
    case FieldKind::List:
      if (value < row.words.size()) shown = std::to_string(value);
      break;
    case FieldKind::Number:
      if (row.values.empty() ||
          std::find(row.values.begin(), row.values.end(), value) != row.values.end())
        shown = std::to_string(value);
      break;
    case FieldKind::Ipv4:
      shown = Ipv4ToText(value);
      break;
    case FieldKind::Text:
      shown = cp936::ToUtf8(p.GetText(info.id)).utf8;
      break;
    case FieldKind::HexPacket:
      shown = HeartbeatText(p, info.id);
      break;
    case FieldKind::Check:
      shown = (row.onWhenNonZero ? value != 0 : value == 1) ? "1" : "0";
      break;
    }
    // A list without a selection, or a box for a value that is neither 0 nor 1.
    const bool isList = row.kind == FieldKind::List || !row.values.empty();
    if ((isList && shown.empty()) || (row.kind == FieldKind::Check && value > 1))
      notShown.push_back(info.id);
  }
  return values;
}

void PageForm::Remember(const Values& values, const TAppParams* record) {
  for (const FieldRow& row : kFieldRows) {
    if (!IsEdit(row)) continue;
    const std::size_t i = Index(row.field);
    if (record && FieldInfo(row.field).encoding == FieldEncoding::Text) {
      const auto bytes = record->FieldBytes(row.field);
      deviceBytes_[i] = std::string(bytes.begin(), bytes.end());
    } else if (Changed(row.field, values[i])) {
      // The factory set leaves the identifier alone: a text it did not
      // change keeps the bytes it came with; the others are its own now.
      deviceBytes_[i].reset();
    }
    filled_[i] = values[i];
  }
}

bool PageForm::Changed(AppField field, const std::string& text) const {
  const auto& filled = filled_[Index(field)];
  return !filled || *filled != text;
}

TAppParams PageForm::Selectors(const Values& values) {
  TAppParams state;
  for (const FieldRow& row : kFieldRows) {
    const std::string& v = values[Index(row.field)];
    if (row.kind == FieldKind::List)
      state.Set(row.field, v.empty() ? 0xFF : std::uint32_t(ParseInt32(v).value_or(0xFF)) & 0xFF);
    else if (row.kind == FieldKind::Check)
      state.Set(row.field, v == "1" ? 1 : 0);
  }
  return state;
}

std::optional<PageForm::Refusal> PageForm::Check(const Values& values) const {
  const TAppParams selectors = Selectors(values);
  for (const FieldRow& row : kFieldRows) {
    if (!IsEdit(row)) continue;
    const std::string& text = values[Index(row.field)];
    const bool changed = Changed(row.field, text);
    // An untouched text goes back with the bytes it came with.
    if (!changed && deviceBytes_[Index(row.field)]) continue;
    FieldCheck check = CheckStorable(row.field, text);
    // A text the technician changed leaves the unit its zero byte.
    if (check.accepted() && changed) check = CheckGivenText(row.field, text);
    // A field hidden or disabled in this mode is held only to what the
    // record can store: the unit ignores it there.
    if (check.accepted() && changed && HasExitRule(row.field) &&
        FieldReachable(row.field, selectors)) {
      const AppField other = row.zeroWhileZero;
      check = CheckExitRule(row.field, text,
                            other == AppField::Count ? std::string() : values[Index(other)]);
    }
    if (check.accepted() || check.outcome == FieldCheck::Outcome::NotANumber) continue;
    return Refusal{row.field, check.allowed};
  }
  return std::nullopt;
}

PageForm::Encoded PageForm::Encode(const Values& values) const {
  TAppParams record;
  // Record order: with several fields that are not numbers, the first one in
  // the record is the one reported.
  for (const AppFieldInfo& info : kAppFields) {
    const FieldRow& row = FieldRowOf(info.id);
    if (!HasControl(row)) continue; // stored from another field
    const std::string& text = values[Index(info.id)];
    switch (row.kind) {
    case FieldKind::List: // no selection: 0xFF
      record.Set(info.id, text.empty() ? 0xFF : std::uint32_t(ParseInt32(text).value_or(0xFF)));
      break;
    case FieldKind::Number: {
      const auto n = ParseInt32(text);
      if (!n) return {std::nullopt, info.id};
      record.Set(info.id, std::uint32_t(*n)); // low bits, as wide as the field
      break;
    }
    case FieldKind::Text:
      record.SetText(info.id, cp936::FromUtf8(text, info.size).bytes);
      break;
    case FieldKind::Ipv4:
      record.Set(info.id, Ipv4FromText(text));
      break;
    case FieldKind::Check:
      record.Set(info.id, text == "1" ? 1 : 0);
      break;
    case FieldKind::HexPacket: {
      const auto parsed = HexToBytes(text, int(text.size()));
      const std::size_t n = std::min<std::size_t>(parsed.size(), info.size);
      record.Set(ByteCountFieldOf(info.id), std::uint32_t(n));
      std::copy_n(parsed.begin(), n, record.FieldBytes(info.id).begin());
      break;
    }
    }
  }
  // What the pages show is not all the record holds: KTSP runs over UDP
  // whatever the transport lists show, a packet that is off is nothing.
  ApplyStoreRules(record);
  // A text nobody touched goes back byte for byte, even where its bytes are
  // not clean GBK and would not survive decoding and encoding again.
  for (const FieldRow& row : kFieldRows) {
    const auto& kept = deviceBytes_[Index(row.field)];
    if (!IsEdit(row) || !kept || Changed(row.field, values[Index(row.field)])) continue;
    const auto field = record.FieldBytes(row.field);
    if (kept->size() == field.size()) std::copy_n(kept->begin(), field.size(), field.begin());
  }
  return {record, AppField::Count};
}
