#include "params/field_checks.h"

#include <climits>

#include "params/field_model.h"
#include "platform/code_page_936.h"
#include "platform/ipv4.h"

namespace {

using Outcome = FieldCheck::Outcome;

constexpr std::string_view kNoAddress = "0.0.0.0";
constexpr std::uint32_t kBroadcast = 0xFFFFFFFFu;

FieldCheck Result(bool accepted, std::string allowed) {
  return {accepted ? Outcome::Accepted : Outcome::Refused, std::move(allowed)};
}

std::string BytesUpTo(std::size_t width) { return "0~" + std::to_string(width) + " bytes"; }

} // namespace

// nullopt for anything but an optional sign and 1+ digits within int32.
std::optional<std::int32_t> ParseInt32(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > std::int64_t(INT32_MAX) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return std::int32_t(value);
}

// NotANumber for a number rule given a text that is not a number.
FieldCheck CheckExitRule(AppField field, std::string_view text,
                         std::string_view zeroWhileZeroText) {
  if (!HasExitRule(field)) return {Outcome::Accepted, AllowedText(field)};
  const FieldRow& row = FieldRowOf(field);
  switch (row.kind) {
  case FieldKind::Ipv4: {
    // A secondary server without a primary one would never be asked.
    if (row.zeroWhileZero != AppField::Count && zeroWhileZeroText == kNoAddress)
      return Result(text == kNoAddress, std::string(kNoAddress) + " while " +
                                            FieldInfo(row.zeroWhileZero).name + " is " +
                                            std::string(kNoAddress));
    // The old conversion's failure value stands for no address at all.
    const auto address = ParseIpv4(text);
    return Result(address && *address != kBroadcast, AllowedText(field));
  }
  case FieldKind::Text:
    // Counted in device bytes: a Chinese character takes two.
    return Result(cp936::ByteLength(text) == row.maxBytes, AllowedText(field));
  default:
    break;
  }
  const auto n = ParseInt32(text);
  if (!n) return {Outcome::NotANumber, AllowedText(field)};
  const NumberRange& r = row.range;
  const bool refused = (r.exitChecksMin && *n < r.min) || (r.exitChecksMax && *n > r.max) ||
                       (*n >= r.gapMin && *n <= r.gapMax);
  return Result(!refused, AllowedText(field));
}

FieldCheck CheckGivenText(AppField field, std::string_view text) {
  const FieldRow& row = FieldRowOf(field);
  if (row.kind != FieldKind::Text || row.exactBytes) return {Outcome::Accepted, {}};
  return Result(cp936::ByteLength(text) <= row.maxBytes, AllowedText(field));
}

// 0 for Text, Bytes and values outside the table.
std::uint32_t FieldMaximum(AppField field) {
  const AppFieldInfo& info = FieldInfo(field);
  if (info.encoding == FieldEncoding::Text || info.encoding == FieldEncoding::Bytes ||
      info.size == 0)
    return 0;
  return info.size >= 4 ? 0xFFFFFFFFu : (std::uint32_t(1) << (8 * info.size)) - 1;
}

// Refused with an empty `allowed` for a field outside the table.
FieldCheck CheckStorable(AppField field, std::string_view text) {
  const AppFieldInfo& info = FieldInfo(field);
  if (info.size == 0) return {Outcome::Refused, {}};
  switch (info.encoding) {
  case FieldEncoding::Ipv4:
    return Result(ParseIpv4(text).has_value(), std::string(kIpv4Form));
  case FieldEncoding::Text: {
    const cp936::Encoded e = cp936::FromUtf8(text, info.size);
    return Result(e.clean && !e.cut, BytesUpTo(info.size));
  }
  case FieldEncoding::Bytes:
    return {Outcome::Accepted, BytesUpTo(info.size)};
  default: {
    const std::uint32_t max = FieldMaximum(field);
    std::string allowed = "0~" + std::to_string(max);
    const auto n = ParseInt32(text);
    if (!n) return {Outcome::NotANumber, std::move(allowed)};
    return Result(*n >= 0 && std::uint32_t(*n) <= max, std::move(allowed));
  }
  }
}
