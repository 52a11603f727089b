#pragma once
// TAppParams: the DTU's 693-byte application parameter record. Payload of
// commands 3 and 4, and the whole content of a parameter file. Fields are read
// and written at their fixed offsets, little-endian; the struct is never cast.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "link/link_constants.h"

enum class FieldEncoding : std::uint8_t {
  U8,    // unsigned byte
  U16,   // unsigned 16-bit little-endian
  U32,   // unsigned 32-bit little-endian
  Ipv4,  // 32-bit number, first octet in the most significant byte, stored little-endian
  Text,  // bytes up to the first zero, zero-padded, no terminator when full
  Flag,  // 1 = on
  List,  // position in a fixed list
  Bytes, // raw bytes, a companion length field says how many are valid
};

// In record order.
enum class AppField : std::uint8_t {
  baudrate,
  databit,
  stopbit,
  paritybit,
  com_ptcl,
  packet_len,
  delay,
  debug,
  apn,
  ppp_username,
  ppp_pw,
  main_dns,
  second_dns,
  ping_ip,
  ping_host,
  ping_interval,
  ip1,
  hostname1,
  port1,
  connection_type1,
  ip2,
  hostname2,
  port2,
  connection_type2,
  ip3,
  hostname3,
  port3,
  connection_type3,
  heart_interval,
  dtu_id,
  select_ptcl,
  dtuinsertid,
  dtuinsertid_pos,
  custom_heart_packet_en,
  custom_heart_packet_len,
  custom_heart_packet,
  custom_heart_packet_ack_en,
  custom_heart_packet_ack_len,
  custom_heart_packet_ack,
  run_mode,
  idle_interval,
  reconnect_interval,
  drop_wakeup_data,
  phone_number,
  recv_sms_en,
  switch_cmd,
  auto_interval,
  master_ip,
  master_host,
  master_port,
  pin_code,
  run_type,
  master_reconnect_interval,
  Count
};

struct AppFieldInfo {
  AppField id;
  const char* name;
  std::uint16_t offset;
  std::uint16_t size;
  FieldEncoding encoding;
};

// The field table, in record order. Defined in app_params.cpp; checked there at
// compile time to cover offsets 0 to 692 exactly.
extern const std::array<AppFieldInfo, std::size_t(AppField::Count)> kAppFields;
const AppFieldInfo& FieldInfo(AppField f);

class TAppParams {
public:
  static constexpr std::size_t kSize = k7v::kAppParamsSize;

  TAppParams() = default; // all zero
  // Copies the first 693 bytes of src; missing bytes stay zero.
  static TAppParams FromBytes(std::span<const std::uint8_t> src);

  // Numeric fields (U8, U16, U32, Ipv4, Flag, List). For Ipv4 the value is
  // the host-order number (192.168.1.2 is 0xC0A80102). Returns 0 for Text/Bytes.
  std::uint32_t Get(AppField f) const;
  // Stores the low bits that fit the field's width. Ignored for Text/Bytes.
  void Set(AppField f, std::uint32_t value);

  // Text and Bytes fields: the raw bytes. GetText stops at the first zero byte.
  std::string GetText(AppField f) const;
  // Copies at most the field's width, zero-fills the rest.
  void SetText(AppField f, std::string_view bytes);
  std::span<const std::uint8_t> FieldBytes(AppField f) const;
  std::span<std::uint8_t> FieldBytes(AppField f);

  const std::array<std::uint8_t, kSize>& bytes() const { return bytes_; }
  std::array<std::uint8_t, kSize>& bytes() { return bytes_; }

  friend bool operator==(const TAppParams&, const TAppParams&) = default;

private:
  std::array<std::uint8_t, kSize> bytes_{};
};
