#include "params/field_checks.h"

#include <array>
#include <climits>

#include "link/link_constants.h"
#include "platform/code_page_936.h"
#include "platform/ipv4.h"

namespace {

using F = AppField;
using Outcome = FieldCheck::Outcome;

constexpr const char* kAddressForm = "a.b.c.d";
constexpr const char* kNoAddress = "0.0.0.0";
constexpr const char* kBroadcast = "255.255.255.255";

// A number rule refuses n < min, n > max, and n in [gapMin, gapMax]. The
// allowed texts name what both the rule and the record field let through.
struct NumberRule {
  ExitRule rule;
  std::int64_t min, max;
  std::int64_t gapMin, gapMax; // empty when gapMin > gapMax
  const char* allowed;
};

constexpr std::int64_t kNoMin = INT32_MIN;
constexpr std::int64_t kNoMax = INT32_MAX;

constexpr std::array kNumberRules{
    NumberRule{ExitRule::Port, kNoMin, 65535, 1, 0, "0~65535"},
    NumberRule{ExitRule::PacketLength, kNoMin, 1024, 0, 0, "1~1024"},
    NumberRule{ExitRule::Delay, 100, 1000, 1, 0, "100~1000"},
    NumberRule{ExitRule::Interval, 5, 65535, 1, 0, "5~65535"},
    NumberRule{ExitRule::StartInterval, kNoMin, kNoMax, 1, 9, "0, 10~65535"},
    NumberRule{ExitRule::InsertPosition, kNoMin, 24, 1, 0, "0~24"},
    NumberRule{ExitRule::PingInterval, kNoMin, 255, 1, 0, "0~255"},
    NumberRule{ExitRule::ManagementReconnect, kNoMin, 65535, 1, 0, "0~65535"},
};

struct GuardedField {
  AppField field;
  ExitRule rule;
};

constexpr std::array kGuardedFields{
    GuardedField{F::packet_len, ExitRule::PacketLength},
    GuardedField{F::delay, ExitRule::Delay},
    GuardedField{F::main_dns, ExitRule::NameServer},
    GuardedField{F::second_dns, ExitRule::SecondaryNameServer},
    GuardedField{F::ping_ip, ExitRule::NameServer},
    GuardedField{F::ping_interval, ExitRule::PingInterval},
    GuardedField{F::ip1, ExitRule::Address},
    GuardedField{F::port1, ExitRule::Port},
    GuardedField{F::ip2, ExitRule::Address},
    GuardedField{F::port2, ExitRule::Port},
    GuardedField{F::ip3, ExitRule::Address},
    GuardedField{F::port3, ExitRule::Port},
    GuardedField{F::heart_interval, ExitRule::Port},
    GuardedField{F::dtuinsertid_pos, ExitRule::InsertPosition},
    GuardedField{F::idle_interval, ExitRule::Interval},
    GuardedField{F::reconnect_interval, ExitRule::Interval},
    GuardedField{F::switch_cmd, ExitRule::SwitchCommand},
    GuardedField{F::auto_interval, ExitRule::StartInterval},
    GuardedField{F::master_ip, ExitRule::Address},
    GuardedField{F::master_port, ExitRule::Port},
    GuardedField{F::master_reconnect_interval, ExitRule::ManagementReconnect},
};

FieldCheck Result(bool accepted, std::string allowed) {
  return {accepted ? Outcome::Accepted : Outcome::Refused, std::move(allowed)};
}

// The platform conversion takes the text; 255.255.255.255 is its failure
// value as well, so it counts as refused here.
bool IsAddress(std::string_view text) { return Ipv4TextAccepted(std::string(text)); }

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

// nullopt for fields without an exit rule.
std::optional<ExitRule> ExitRuleOf(AppField field) {
  for (const GuardedField& g : kGuardedFields)
    if (g.field == field) return g.rule;
  return std::nullopt;
}

// NotANumber for a number rule given a text that is not a number.
FieldCheck CheckExitRule(ExitRule rule, std::string_view text, std::string_view primaryNameServer) {
  switch (rule) {
  case ExitRule::Address:
  case ExitRule::NameServer:
    return Result(IsAddress(text), kAddressForm);
  case ExitRule::SecondaryNameServer:
    // A secondary server without a primary one would never be asked.
    if (primaryNameServer == kNoAddress) return Result(text == kNoAddress, kNoAddress);
    return Result(IsAddress(text), kAddressForm);
  case ExitRule::SwitchCommand: {
    const std::string allowed = std::to_string(k7v::kSwitchCommandLength) + " bytes";
    return Result(cp936::ByteLength(text) == k7v::kSwitchCommandLength, allowed);
  }
  default:
    break;
  }
  for (const NumberRule& r : kNumberRules) {
    if (r.rule != rule) continue;
    const auto n = ParseInt32(text);
    if (!n) return {Outcome::NotANumber, r.allowed};
    const bool refused = *n < r.min || *n > r.max || (*n >= r.gapMin && *n <= r.gapMax);
    return Result(!refused, r.allowed);
  }
  return {Outcome::Refused, {}};
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
    return Result(IsAddress(text) || text == kBroadcast, kAddressForm);
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
