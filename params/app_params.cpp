#include "params/app_params.h"

#include <algorithm>

namespace {

using E = FieldEncoding;
using F = AppField;

constexpr std::size_t kFieldCount = std::size_t(AppField::Count);

// The one place the record layout is written down. Every offset is the sum of
// the sizes before it; IsSoundLayout below keeps it that way at compile time.
constexpr std::array<AppFieldInfo, kFieldCount> kLayout{{
    {F::baudrate, "baudrate", 0, 4, E::U32},
    {F::databit, "databit", 4, 1, E::U8},
    {F::stopbit, "stopbit", 5, 1, E::U8},
    {F::paritybit, "paritybit", 6, 1, E::List},
    {F::com_ptcl, "com_ptcl", 7, 1, E::List},
    {F::packet_len, "packet_len", 8, 2, E::U16},
    {F::delay, "delay", 10, 2, E::U16},
    {F::debug, "debug", 12, 1, E::List},
    {F::apn, "apn", 13, 64, E::Text},
    {F::ppp_username, "ppp_username", 77, 64, E::Text},
    {F::ppp_pw, "ppp_pw", 141, 64, E::Text},
    {F::main_dns, "main_dns", 205, 4, E::Ipv4},
    {F::second_dns, "second_dns", 209, 4, E::Ipv4},
    {F::ping_ip, "ping_ip", 213, 4, E::Ipv4},
    {F::ping_host, "ping_host", 217, 64, E::Text},
    {F::ping_interval, "ping_interval", 281, 1, E::U8},
    {F::ip1, "ip1", 282, 4, E::Ipv4},
    {F::hostname1, "hostname1", 286, 64, E::Text},
    {F::port1, "port1", 350, 2, E::U16},
    {F::connection_type1, "connection_type1", 352, 1, E::List},
    {F::ip2, "ip2", 353, 4, E::Ipv4},
    {F::hostname2, "hostname2", 357, 64, E::Text},
    {F::port2, "port2", 421, 2, E::U16},
    {F::connection_type2, "connection_type2", 423, 1, E::List},
    {F::ip3, "ip3", 424, 4, E::Ipv4},
    {F::hostname3, "hostname3", 428, 64, E::Text},
    {F::port3, "port3", 492, 2, E::U16},
    {F::connection_type3, "connection_type3", 494, 1, E::List},
    {F::heart_interval, "heart_interval", 495, 2, E::U16},
    {F::dtu_id, "dtu_id", 497, 16, E::Text},
    {F::select_ptcl, "select_ptcl", 513, 1, E::List},
    {F::dtuinsertid, "dtuinsertid", 514, 1, E::Flag},
    {F::dtuinsertid_pos, "dtuinsertid_pos", 515, 1, E::U8},
    {F::custom_heart_packet_en, "custom_heart_packet_en", 516, 1, E::Flag},
    {F::custom_heart_packet_len, "custom_heart_packet_len", 517, 1, E::U8},
    {F::custom_heart_packet, "custom_heart_packet", 518, 24, E::Bytes},
    {F::custom_heart_packet_ack_en, "custom_heart_packet_ack_en", 542, 1, E::Flag},
    {F::custom_heart_packet_ack_len, "custom_heart_packet_ack_len", 543, 1, E::U8},
    {F::custom_heart_packet_ack, "custom_heart_packet_ack", 544, 24, E::Bytes},
    {F::run_mode, "run_mode", 568, 1, E::List},
    {F::idle_interval, "idle_interval", 569, 2, E::U16},
    {F::reconnect_interval, "reconnect_interval", 571, 2, E::U16},
    {F::drop_wakeup_data, "drop_wakeup_data", 573, 1, E::Flag},
    {F::phone_number, "phone_number", 574, 32, E::Text},
    {F::recv_sms_en, "recv_sms_en", 606, 1, E::Flag},
    {F::switch_cmd, "switch_cmd", 607, 6, E::Text},
    {F::auto_interval, "auto_interval", 613, 2, E::U16},
    {F::master_ip, "master_ip", 615, 4, E::Ipv4},
    {F::master_host, "master_host", 619, 64, E::Text},
    {F::master_port, "master_port", 683, 2, E::U16},
    {F::pin_code, "pin_code", 685, 5, E::Text},
    {F::run_type, "run_type", 690, 1, E::List},
    {F::master_reconnect_interval, "master_reconnect_interval", 691, 2, E::U16},
}};

constexpr bool IsNumeric(FieldEncoding e) { return e != E::Text && e != E::Bytes; }

// Width a numeric encoding must have; 0 for the variable-width ones.
constexpr std::uint16_t NumericWidth(FieldEncoding e) {
  switch (e) {
  case E::U8:
  case E::Flag:
  case E::List:
    return 1;
  case E::U16:
    return 2;
  case E::U32:
  case E::Ipv4:
    return 4;
  case E::Text:
  case E::Bytes:
    return 0;
  }
  return 0;
}

// True when the table is in enum order, gap-free, and ends exactly at the
// record size, with every numeric field as wide as its encoding.
constexpr bool IsSoundLayout(const std::array<AppFieldInfo, kFieldCount>& table) {
  std::size_t next = 0;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const AppFieldInfo& f = table[i];
    if (std::size_t(f.id) != i) return false;
    if (f.offset != next || f.size == 0) return false;
    if (IsNumeric(f.encoding) && f.size != NumericWidth(f.encoding)) return false;
    if (f.name == nullptr || f.name[0] == '\0') return false;
    next += f.size;
  }
  return next == TAppParams::kSize;
}

static_assert(kFieldCount == 53, "the record has 53 fields");
static_assert(IsSoundLayout(kLayout), "field table must be ordered, contiguous and cover 0..692");

// Returned for an AppField value outside the table: zero width, so every
// access through it touches no byte.
constexpr AppFieldInfo kNoField{AppField::Count, "", 0, 0, E::Bytes};

} // namespace

const std::array<AppFieldInfo, kFieldCount> kAppFields = kLayout;

// Returns a zero-width entry for a value outside the enum.
const AppFieldInfo& FieldInfo(AppField f) {
  const auto i = std::size_t(f);
  return i < kAppFields.size() ? kAppFields[i] : kNoField;
}

// Copies at most kSize bytes; a short source leaves the rest zero.
TAppParams TAppParams::FromBytes(std::span<const std::uint8_t> src) {
  TAppParams p;
  const std::size_t n = std::min(src.size(), kSize);
  std::copy_n(src.begin(), n, p.bytes_.begin());
  return p;
}

// Returns 0 for Text/Bytes fields and for values outside the enum.
std::uint32_t TAppParams::Get(AppField f) const {
  const AppFieldInfo& info = FieldInfo(f);
  if (!IsNumeric(info.encoding) || info.size == 0 || std::size_t(info.offset) + info.size > kSize)
    return 0;
  // Little-endian at any width; Ipv4 is stored as the host-order number, so
  // it reads exactly like U32.
  std::uint32_t v = 0;
  for (std::size_t i = info.size; i-- > 0;) v = (v << 8) | bytes_[info.offset + i];
  return v;
}

// Ignores Text/Bytes fields and values outside the enum.
void TAppParams::Set(AppField f, std::uint32_t value) {
  const AppFieldInfo& info = FieldInfo(f);
  if (!IsNumeric(info.encoding) || info.size == 0 || std::size_t(info.offset) + info.size > kSize)
    return;
  for (std::size_t i = 0; i < info.size; ++i) {
    bytes_[info.offset + i] = std::uint8_t(value & 0xFF);
    value >>= 8;
  }
}

// Returns an empty text for numeric fields and values outside the enum.
std::string TAppParams::GetText(AppField f) const {
  const AppFieldInfo& info = FieldInfo(f);
  if (IsNumeric(info.encoding)) return {};
  const auto field = FieldBytes(f);
  const auto end = std::find(field.begin(), field.end(), std::uint8_t(0));
  return std::string(field.begin(), end);
}

// Ignores numeric fields and values outside the enum.
void TAppParams::SetText(AppField f, std::string_view text) {
  const AppFieldInfo& info = FieldInfo(f);
  if (IsNumeric(info.encoding)) return;
  const auto field = FieldBytes(f);
  std::fill(field.begin(), field.end(), std::uint8_t(0));
  const std::size_t n = std::min(text.size(), field.size());
  for (std::size_t i = 0; i < n; ++i) field[i] = static_cast<std::uint8_t>(text[i]);
}

// Returns an empty span for values outside the enum.
std::span<const std::uint8_t> TAppParams::FieldBytes(AppField f) const {
  const AppFieldInfo& info = FieldInfo(f);
  if (info.size == 0 || std::size_t(info.offset) + info.size > kSize) return {};
  return std::span<const std::uint8_t>(bytes_).subspan(info.offset, info.size);
}

// Returns an empty span for values outside the enum.
std::span<std::uint8_t> TAppParams::FieldBytes(AppField f) {
  const AppFieldInfo& info = FieldInfo(f);
  if (info.size == 0 || std::size_t(info.offset) + info.size > kSize) return {};
  return std::span<std::uint8_t>(bytes_).subspan(info.offset, info.size);
}
