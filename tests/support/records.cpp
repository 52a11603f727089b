#include "support/records.h"

#include <QStringList>
#include <algorithm>
#include <string>
#include <utility>

#include "params/factory_set.h"
#include "support/bytes.h"

using F = AppField;

TAppParams DistinctRecord() {
  TAppParams p;
  const std::pair<F, std::uint32_t> numbers[] = {
      {F::baudrate, 9600},
      {F::databit, 7},
      {F::stopbit, 2},
      {F::paritybit, 2},
      {F::com_ptcl, 1},
      {F::packet_len, 777},
      {F::delay, 450},
      {F::debug, 3},
      {F::main_dns, 0x08080808},
      {F::second_dns, 0x08080404},
      {F::ping_ip, 0x01020304},
      {F::ping_interval, 17},
      {F::ip1, 0xC0A80102},
      {F::port1, 40009},
      {F::connection_type1, 1},
      {F::ip2, 0x0A000001},
      {F::port2, 1},
      {F::connection_type2, 0},
      {F::ip3, 0xFFFFFFFE},
      {F::port3, 65535},
      {F::connection_type3, 1},
      {F::heart_interval, 61},
      {F::select_ptcl, 2},
      {F::dtuinsertid, 1},
      {F::dtuinsertid_pos, 12},
      {F::custom_heart_packet_en, 1},
      {F::custom_heart_packet_len, 5},
      {F::custom_heart_packet_ack_en, 1},
      {F::custom_heart_packet_ack_len, 24},
      {F::run_mode, 1},
      {F::idle_interval, 301},
      {F::reconnect_interval, 31},
      {F::drop_wakeup_data, 1},
      {F::recv_sms_en, 1},
      {F::auto_interval, 1441},
      {F::master_ip, 0x0A141E28},
      {F::master_port, 51011},
      {F::run_type, 1},
      {F::master_reconnect_interval, 299},
  };
  for (auto [f, v] : numbers) p.Set(f, v);
  const std::pair<F, std::string> texts[] = {
      {F::apn, "cmnet"},
      {F::ppp_username, "user"},
      {F::ppp_pw, "Pa55\xC3\xDC\xC2\xEB"}, // GBK for 密码
      {F::ping_host, "ping.example.com"},
      {F::hostname1, "one.example"},
      {F::hostname2, std::string(63, 'h')},
      {F::hostname3, std::string(64, 'x')}, // full, no terminator
      {F::dtu_id, "DTU-000000000001"},
      {F::phone_number, "+8613800000000"},
      {F::switch_cmd, "$k7v$#"},
      {F::master_host, "mgr.example"},
      {F::pin_code, "12345"},
  };
  for (const auto& [f, t] : texts) p.SetText(f, t);
  const std::uint8_t heart[] = {0x01, 0xAB, 0x00, 0xFF, 0x7E};
  std::copy(std::begin(heart), std::end(heart), p.FieldBytes(F::custom_heart_packet).begin());
  auto ack = p.FieldBytes(F::custom_heart_packet_ack);
  for (std::size_t i = 0; i < ack.size(); ++i) ack[i] = std::uint8_t(0xC0 + i);
  return p;
}

TAppParams FactoryRecord(const char* dtuId) {
  TAppParams p;
  const std::pair<F, std::uint32_t> numbers[] = {
      {F::baudrate, 57600},
      {F::databit, 8},
      {F::stopbit, 1},
      {F::paritybit, 0},
      {F::com_ptcl, 0},
      {F::packet_len, 1024},
      {F::delay, 300},
      {F::debug, 2},
      {F::main_dns, 0},
      {F::second_dns, 0},
      {F::ping_ip, 0},
      {F::ping_interval, 0},
      {F::ip1, 0},
      {F::port1, 51001},
      {F::connection_type1, 1},
      {F::ip2, 0},
      {F::port2, 40002},
      {F::connection_type2, 0},
      {F::ip3, 0},
      {F::port3, 40003},
      {F::connection_type3, 0},
      {F::heart_interval, 0},
      {F::select_ptcl, 0},
      {F::dtuinsertid, 0},
      {F::dtuinsertid_pos, 0},
      {F::custom_heart_packet_en, 0},
      {F::custom_heart_packet_len, 0},
      {F::custom_heart_packet_ack_en, 0},
      {F::custom_heart_packet_ack_len, 0},
      {F::run_mode, 0},
      {F::idle_interval, 300},
      {F::reconnect_interval, 10},
      {F::drop_wakeup_data, 0},
      {F::recv_sms_en, 0},
      {F::auto_interval, 1440},
      {F::master_ip, 0},
      {F::master_port, 6000},
      {F::run_type, 1},
      {F::master_reconnect_interval, 300},
  };
  for (auto [f, v] : numbers) p.Set(f, v);
  p.SetText(F::apn, "cmnet");
  p.SetText(F::hostname1, kFactoryHostname1);
  p.SetText(F::switch_cmd, "######");
  p.SetText(F::master_host, kFactoryMasterHost);
  p.SetText(F::dtu_id, dtuId);
  return p; // every other text and both heartbeat packets: all zero
}

QByteArray RecordBytes(const TAppParams& record) { return ToBytes(record.bytes()); }

TAppParams RecordFrom(const QByteArray& bytes) {
  return TAppParams::FromBytes(
      {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())});
}

QString RecordDifferences(const TAppParams& actual, const TAppParams& expected) {
  QStringList out;
  for (const AppFieldInfo& info : kAppFields) {
    const QByteArray a = ToBytes(actual.FieldBytes(info.id)),
                     e = ToBytes(expected.FieldBytes(info.id));
    if (a != e)
      out << QStringLiteral("%1: %2 instead of %3").arg(info.name, a.toHex(' '), e.toHex(' '));
  }
  return out.join(u'\n');
}
