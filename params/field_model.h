#pragma once
// The parameter pages as data: one row per record field, saying where the
// window shows it (page, group, control, label with its caption key), what it
// takes (kind, list words, range, byte limit), when it is shown or enabled,
// and which fields are stored from others. The window's rules, the command
// line's profiles and `k7vconf-cli fields` read these facts from here and
// from nowhere else. The built-in texts are the caption.ini defaults of the
// keys named beside them (UTF-8); the window's caption table takes them from
// here.
//
// Plain data for any front end: enums, string_views of literals (each is
// zero-terminated, so data() may be passed on as a C string) and spans.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "params/app_params.h"

enum class FieldKind : std::uint8_t {
  Number,    // decimal; from a list of numbers when `values` is not empty
  Text,      // GBK text in the record
  Ipv4,      // dotted address
  List,      // one of `words`, stored as its position
  Check,     // a check box: 0 off, 1 on
  HexPacket, // bytes as hex pairs; a companion field holds their count
};

// What the window lets a technician type into the field.
enum class FieldTyping : std::uint8_t {
  Picked,  // a list or a check box: nothing is typed
  Digits,  // digits; control keys and characters above 127 pass
  Address, // digits and the point; control keys and characters above 127 pass
  Phone,   // digits and "+" only
  Hex,     // hex digits and blanks only
  Any,
};

// A caption key of the page's caption section with its built-in text.
struct Caption {
  std::string_view key; // empty: the text has no key
  std::string_view text;
};

// One position of a list, or one state of a check box.
struct FieldWord {
  std::string_view word; // the profile's English word
  Caption caption;       // the list item's key and text; no key for fixed items
};

// Holds when `field` has the value `is`: a list position, 1 for a ticked box.
struct FieldCondition {
  AppField field = AppField::Count; // Count: holds always
  std::uint8_t is = 0;

  constexpr bool always() const { return field == AppField::Count; }
  // Reads the selector from a record; a box is ticked only at exactly 1.
  bool Holds(const TAppParams& record) const { return always() || record.Get(field) == is; }
};

// The numbers a number field takes: min to max, without gapMin to gapMax.
struct NumberRange {
  std::int32_t min = 0, max = 0;
  std::int32_t gapMin = 1, gapMax = 0; // no gap when gapMin > gapMax
  // The window's exit rule compares the signed number and leaves an end open
  // where the page states no bound of its own: a pasted negative number passes
  // a rule without a lower bound, a number above 65535 the start interval's.
  // What the record cannot hold is refused before a write all the same.
  bool exitChecksMin = true, exitChecksMax = true;
};

struct FieldRow {
  AppField field = AppField::Count;
  std::uint8_t group = 0;   // index into kFieldGroups
  std::string_view control; // the window's control; empty: stored from another field
  Caption label;            // the label left of it; a check box's own text
  Caption unit;             // the range or unit right of it
  FieldKind kind = FieldKind::Number;
  FieldTyping typing = FieldTyping::Picked;
  std::span<const FieldWord> words;      // List and Check: one per value, from 0
  std::span<const std::uint32_t> values; // Number from a list of numbers
  NumberRange range;                     // Number
  // Text: the most bytes a technician or a profile may give, one short of the
  // record field so that the unit finds its zero byte; exactly this many when
  // exactBytes. HexPacket: the most bytes.
  std::uint8_t maxBytes = 0;
  bool exactBytes = false;
  // Ipv4: only 0.0.0.0 is taken while this field holds 0.0.0.0.
  AppField zeroWhileZero = AppField::Count;
  bool onWhenNonZero = false; // Check: any non-zero value reads as ticked
  FieldCondition shownWhen;   // the row's own; its group may add one
  FieldCondition enabledWhen;
};

struct FieldGroup {
  std::uint8_t page = 0; // index into kFieldPages
  Caption heading;
  FieldCondition shownWhen; // the heading and every row of the group
};

struct FieldPage {
  std::string_view section; // caption section of the page's texts
  std::string_view control; // the window's page
  Caption navigation;       // its button, in caption section "menu"
};

// A field the window stores from another when it builds a record.
enum class StoreEffect : std::uint8_t {
  Set,         // the field is `value`
  AtMost,      // the field is at most `value`
  ByteCountOf, // the field is the number of bytes `source` was given
};
struct StoreRule {
  AppField field;
  FieldCondition when;
  StoreEffect effect;
  std::uint32_t value = 0;
  AppField source = AppField::Count;
};

// What choosing or ticking a selector does to another box in the window
// (reading a record sets the box from the record afterwards).
struct ChangeRule {
  FieldCondition when; // the selector and the value it was given
  AppField field;      // the box set
  std::uint8_t then;   // its value when the condition holds
  bool otherwiseSet;   // else it is set to otherwise; left as it is when false
  std::uint8_t otherwise = 0;
};

// ---------------------------------------------------------------- the table

// A row names what it has; designated initializers leave the rest at the
// defaults above, which GCC would otherwise report member by member.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif

namespace field_model_data {

using F = AppField;
using K = FieldKind;
using T = FieldTyping;

inline constexpr std::array<std::uint32_t, 10> kBaudRates{115200, 57600, 38400, 19200, 9600,
                                                          4800,   2400,  1200,  600,   300};
inline constexpr std::array<std::uint32_t, 2> kDataBits{8, 7};
inline constexpr std::array<std::uint32_t, 2> kStopBits{1, 2};

inline constexpr FieldWord kOffOn[] = {{"off", {}}, {"on", {}}};
inline constexpr FieldWord kParity[] = {
    {"none", {"paritybit1", "无"}}, {"odd", {"paritybit2", "奇"}}, {"even", {"paritybit3", "偶"}}};
inline constexpr FieldWord kSerialMode[] = {{"transparent", {"com_ptcl1", "透明"}},
                                            {"command", {"com_ptcl2", "命令模式"}}};
inline constexpr FieldWord kTransport[] = {{"tcp", {{}, "TCP"}}, {"udp", {{}, "UDP"}}};
inline constexpr FieldWord kProtocol[] = {
    {"transparent", {"select_ptcl1", "透明传输"}},
    {"ktsp", {"select_ptcl2", "KTSP"}},
    {"hd-ddp", {"select_ptcl3", "HD-DDP"}},
    {"modbus-tcp-client", {"select_ptcl4", "Modbus-tcp 2 rtu TCP-CLIENT"}},
    {"modbus-tcp-server", {"select_ptcl5", "Modbus-tcp 2 rtu TCP-SERVER"}}};
inline constexpr FieldWord kRunMode[] = {{"online", {"run_mode1", "在线模式"}},
                                         {"wakeup", {"run_mode2", "唤醒模式"}},
                                         {"sms", {"run_mode3", "短信模式"}}};
inline constexpr FieldWord kDebug[] = {{"off", {"debug1", "无"}},
                                       {"status", {"debug2", "状态报告"}},
                                       {"debug", {"debug3", "调试信息"}},
                                       {"at", {"debug4", "AT"}}};
inline constexpr FieldWord kRunType[] = {{"online", {"run_type1", "在线模式"}},
                                         {"timed", {"run_type2", "定时模式"}}};

// List positions and box states the rules below name.
inline constexpr std::uint8_t kOff = 0, kOn = 1;
inline constexpr std::uint8_t kTransparent = 0;                   // com_ptcl, select_ptcl
inline constexpr std::uint8_t kKtsp = 1;                          // select_ptcl
inline constexpr std::uint8_t kUdp = 1;                           // connection_type1..3
inline constexpr std::uint8_t kOnline = 0, kWakeup = 1, kSms = 2; // run_mode
inline constexpr std::uint8_t kTimed = 1;                         // run_type (online: 0)
inline constexpr std::uint32_t kKtspMaxPacket = 992;              // bytes a KTSP packet carries

inline constexpr NumberRange kUpTo(std::int32_t max) {
  return {.min = 0, .max = max, .exitChecksMin = false};
}

inline constexpr FieldPage kPages[] = {
    {"serial", "pSerial", {"serial", "串口设置"}},
    {"dial", "sbDial", {"dial", "拨号设置"}},
    {"channel", "pConnection", {"channel", "数据中心"}},
    {"ptcl", "sbPtcl", {"ptcl", "通讯协议"}},
    {"work_mode", "pWorkmode", {"workmode", "工作模式"}},
    {"remote", "pRemote", {"remote", "远程管理"}},
};

enum Group : std::uint8_t {
  kComSetup,
  kDialUp,
  kPing,
  kDns,
  kPin,
  kCentre,
  kDtuId,
  kProtocolGroup,
  kHeartBeat,
  kCustomHeart,
  kWorkMode,
  kSmsGroup,
  kElse,
  kRemote,
};

inline constexpr FieldGroup kGroups[] = {
    {0, {"group_com_setup", "通讯参数"}, {}},
    {1, {"group_dial", "拨号参数"}, {}},
    {1, {"group_ping", "PING设置"}, {}},
    {1, {"group_dns", "DNS设置"}, {}},
    {1, {"group_pin", "PIN设置"}, {}},
    {2, {"group_center", "连接设置"}, {}},
    {3, {"group_dtu_id", "自定义设备ID"}, {}},
    {3, {"group_ptcl", "通讯协议"}, {}},
    {3, {"group_heart_beat", "心跳间隔设置"}, {}},
    {3, {"group_custom_heart", "自定义心跳包设置"}, {F::select_ptcl, kTransparent}},
    {4, {"group_work_mode", "工作模式设置"}, {}},
    {4, {"group_sms", "短信设置"}, {}},
    {4, {"group_else", "其他设置"}, {}},
    {5, {"group_remote", "远程管理中心设置"}, {}},
};

// Page by page, each in the order the keyboard focus visits the controls.
// A few lines a row, read as a table (clang-format would give each member a line).
// clang-format off
inline constexpr FieldRow kRows[] = {
    // 串口设置
    {.field = F::baudrate, .group = kComSetup, .control = "cb_baudrate",
     .label = {"baudrate", "波特率"}, .values = kBaudRates},
    {.field = F::databit, .group = kComSetup, .control = "cb_databit", .label = {"databit", "数据位"},
     .values = kDataBits},
    {.field = F::stopbit, .group = kComSetup, .control = "cb_stopbit", .label = {"stopbit", "停止位"},
     .values = kStopBits},
    {.field = F::paritybit, .group = kComSetup, .control = "cb_paritybit",
     .label = {"paritybit", "校验位"}, .kind = K::List, .words = kParity},
    {.field = F::com_ptcl, .group = kComSetup, .control = "cbdtuserialptcl",
     .label = {"com_ptcl", "通讯协议"}, .kind = K::List, .words = kSerialMode},
    {.field = F::packet_len, .group = kComSetup, .control = "ed_packet_length",
     .label = {"packet_len", "最大包长"}, .unit = {"packet_len_range", "1~1024字节"}, .typing = T::Digits,
     .range = {.min = 1, .max = 1024, .gapMin = 0, .gapMax = 0, .exitChecksMin = false},
     .shownWhen = {F::com_ptcl, kTransparent}},
    {.field = F::delay, .group = kComSetup, .control = "ed_delay", .label = {"delay", "数据包间隔"},
     .unit = {"delay_range", "100~1000毫秒"}, .typing = T::Digits, .range = {.min = 100, .max = 1000},
     .shownWhen = {F::com_ptcl, kTransparent}},
    // 拨号设置
    {.field = F::apn, .group = kDialUp, .control = "ed_apn", .label = {"apn", "接入点"},
     .kind = K::Text, .typing = T::Any, .maxBytes = 63},
    {.field = F::ppp_username, .group = kDialUp, .control = "ed_pppname",
     .label = {"ppp_username", "用户名"}, .kind = K::Text, .typing = T::Any, .maxBytes = 63},
    {.field = F::ppp_pw, .group = kDialUp, .control = "ed_pw", .label = {"ppp_pw", "密码"},
     .kind = K::Text, .typing = T::Any, .maxBytes = 63},
    {.field = F::ping_ip, .group = kPing, .control = "edPingIP", .label = {"ping_ip", "地址"},
     .kind = K::Ipv4, .typing = T::Address},
    {.field = F::ping_host, .group = kPing, .control = "edPinghost", .label = {"ping_host", "域名"},
     .kind = K::Text, .typing = T::Any, .maxBytes = 63},
    {.field = F::ping_interval, .group = kPing, .control = "edPingIvl",
     .label = {"ping_interval", "间隔"}, .unit = {"ping_interval_range", "0~255分钟"},
     .typing = T::Digits, .range = kUpTo(255)},
    {.field = F::main_dns, .group = kDns, .control = "edprimaryDNS", .label = {"main_dns", "主DNS"},
     .kind = K::Ipv4, .typing = T::Address},
    {.field = F::second_dns, .group = kDns, .control = "edSecondaryDNS",
     .label = {"second_dns", "备DNS"}, .kind = K::Ipv4, .typing = T::Address,
     .zeroWhileZero = F::main_dns},
    {.field = F::pin_code, .group = kPin, .control = "edPincode", .label = {"pin_code", "SIM PIN"},
     .kind = K::Text, .typing = T::Phone, .maxBytes = 4},
    // 数据中心: address, port, transport and host name, centre by centre
    {.field = F::ip1, .group = kCentre, .control = "ed_ip1", .label = {"ip1", "IP1"},
     .kind = K::Ipv4, .typing = T::Address},
    {.field = F::port1, .group = kCentre, .control = "ed_port1", .label = {"port1", "端口1"},
     .typing = T::Digits, .range = kUpTo(65535)},
    {.field = F::connection_type1, .group = kCentre, .control = "cb_connecttype1",
     .label = {"connection_type1", "连接类型1"}, .kind = K::List, .words = kTransport},
    {.field = F::hostname1, .group = kCentre, .control = "ed_hostname1",
     .label = {"hostname1", "域名1"}, .kind = K::Text, .typing = T::Any, .maxBytes = 63},
    {.field = F::ip2, .group = kCentre, .control = "ed_ip2", .label = {"ip2", "IP2"},
     .kind = K::Ipv4, .typing = T::Address},
    {.field = F::port2, .group = kCentre, .control = "ed_port2", .label = {"port2", "端口2"},
     .typing = T::Digits, .range = kUpTo(65535)},
    {.field = F::connection_type2, .group = kCentre, .control = "cb_connecttype2",
     .label = {"connection_type2", "连接类型2"}, .kind = K::List, .words = kTransport},
    {.field = F::hostname2, .group = kCentre, .control = "ed_hostname2",
     .label = {"hostname2", "域名2"}, .kind = K::Text, .typing = T::Any, .maxBytes = 63},
    {.field = F::ip3, .group = kCentre, .control = "ed_ip3", .label = {"ip3", "IP3"},
     .kind = K::Ipv4, .typing = T::Address},
    {.field = F::port3, .group = kCentre, .control = "ed_port3", .label = {"port3", "端口3"},
     .typing = T::Digits, .range = kUpTo(65535)},
    {.field = F::connection_type3, .group = kCentre, .control = "cb_connecttype3",
     .label = {"connection_type3", "连接类型3"}, .kind = K::List, .words = kTransport},
    {.field = F::hostname3, .group = kCentre, .control = "ed_hostname3",
     .label = {"hostname3", "域名3"}, .kind = K::Text, .typing = T::Any, .maxBytes = 63},
    // 通讯协议
    {.field = F::dtu_id, .group = kDtuId, .control = "ed_dtuid", .label = {"dtu_id", "设备 ID"},
     .kind = K::Text, .typing = T::Any, .maxBytes = 15},
    {.field = F::select_ptcl, .group = kProtocolGroup, .control = "cbPtcl_select",
     .label = {"select_ptcl", "选择协议"}, .kind = K::List, .words = kProtocol},
    {.field = F::heart_interval, .group = kHeartBeat, .control = "ed_heart",
     .label = {"heart_interval", "心跳间隔"}, .unit = {"heart_interval_range", "0~65535秒"},
     .typing = T::Digits, .range = kUpTo(65535)},
    {.field = F::custom_heart_packet_en, .group = kCustomHeart, .control = "ck_enable_heart",
     .label = {"custom_heart_packet_en", "启用自定义心跳包"}, .kind = K::Check, .words = kOffOn},
    {.field = F::custom_heart_packet, .group = kCustomHeart, .control = "m_heart",
     .label = {"custom_heart_packet", "自定义心跳包"}, .kind = K::HexPacket, .typing = T::Hex,
     .maxBytes = 24, .enabledWhen = {F::custom_heart_packet_en, kOn}},
    {.field = F::custom_heart_packet_len, .group = kCustomHeart,
     .label = {"custom_heart_packet", "自定义心跳包"}, .range = {.min = 0, .max = 24}},
    {.field = F::custom_heart_packet_ack_en, .group = kCustomHeart,
     .control = "ck_enable_heart_ack", .label = {"custom_heart_packet_ack_en", "启用自定义心跳应答包"},
     .kind = K::Check, .words = kOffOn, .enabledWhen = {F::custom_heart_packet_en, kOn}},
    {.field = F::custom_heart_packet_ack, .group = kCustomHeart, .control = "m_heart_ack",
     .label = {"custom_heart_packet_ack", "自定义心跳应答包"}, .kind = K::HexPacket, .typing = T::Hex,
     .maxBytes = 24, .enabledWhen = {F::custom_heart_packet_ack_en, kOn}},
    {.field = F::custom_heart_packet_ack_len, .group = kCustomHeart,
     .label = {"custom_heart_packet_ack", "自定义心跳应答包"}, .range = {.min = 0, .max = 24}},
    {.field = F::dtuinsertid, .group = kCustomHeart, .control = "cb_insert_enable",
     .label = {"dtuinsertid", "插入ID"}, .kind = K::Check, .words = kOffOn,
     .enabledWhen = {F::custom_heart_packet_en, kOn}},
    {.field = F::dtuinsertid_pos, .group = kCustomHeart, .control = "ed_insert_pos",
     .label = {"dtuinsertid_pos", "ID插入位置"}, .unit = {"dtuinsertid_pos_range", "0~24"},
     .typing = T::Digits, .range = kUpTo(24), .enabledWhen = {F::dtuinsertid, kOn}},
    // 工作模式
    {.field = F::run_mode, .group = kWorkMode, .control = "cb_workmode",
     .label = {"run_mode", "运行方式"}, .kind = K::List, .words = kRunMode},
    {.field = F::reconnect_interval, .group = kWorkMode, .control = "ed_reconnecttime",
     .label = {"reconnect_interval", "重连接间隔"}, .unit = {"reconnect_interval_unit", "秒"},
     .typing = T::Digits, .range = {.min = 5, .max = 65535}, .shownWhen = {F::run_mode, kOnline}},
    {.field = F::idle_interval, .group = kWorkMode, .control = "ed_idletime",
     .label = {"idle_interval", "空闲间隔"}, .unit = {"idle_interval_unit", "秒"}, .typing = T::Digits,
     .range = {.min = 5, .max = 65535}, .shownWhen = {F::run_mode, kWakeup}},
    {.field = F::drop_wakeup_data, .group = kWorkMode, .control = "ckbDropWakedata",
     .label = {"drop_wakeup_data", "丢弃唤醒数据包"}, .kind = K::Check, .words = kOffOn,
     .shownWhen = {F::run_mode, kWakeup}},
    {.field = F::phone_number, .group = kSmsGroup, .control = "ed_phone",
     .label = {"phone_number", "短信号码"}, .kind = K::Text, .typing = T::Phone, .maxBytes = 31},
    {.field = F::recv_sms_en, .group = kSmsGroup, .control = "ck_enable_recv_sms",
     .label = {"recv_sms_en", "允许转发接收到的短信"}, .kind = K::Check, .words = kOffOn,
     .onWhenNonZero = true},
    {.field = F::debug, .group = kElse, .control = "cb_report", .label = {"debug", "调试信息"},
     .kind = K::List, .words = kDebug},
    {.field = F::switch_cmd, .group = kElse, .control = "edConf", .label = {"switch_cmd", "切换命令"},
     .kind = K::Text, .typing = T::Any, .maxBytes = k7v::kSwitchCommandLength, .exactBytes = true},
    // 远程管理
    {.field = F::run_type, .group = kRemote, .control = "cbPconlinemode",
     .label = {"run_type", "上线方式"}, .kind = K::List, .words = kRunType},
    {.field = F::master_reconnect_interval, .group = kRemote, .control = "ePcreconnectinterval",
     .label = {"reconnect_interval", "重连间隔"}, .unit = {"reconnect_interval_unit", "秒"},
     .typing = T::Digits, .range = kUpTo(65535), .shownWhen = {F::run_type, kOnline}},
    {.field = F::auto_interval, .group = kRemote, .control = "edAuto_cnt_interval",
     .label = {"auto_interval", "启动间隔"}, .unit = {"auto_cnt_interval_range", "0,10~65535分钟"},
     .typing = T::Digits,
     .range = {.min = 0, .max = 65535, .gapMin = 1, .gapMax = 9, .exitChecksMin = false, .exitChecksMax = false},
     .shownWhen = {F::run_type, kTimed}},
    {.field = F::master_ip, .group = kRemote, .control = "edMasterIP", .label = {"master_ip", "IP"},
     .kind = K::Ipv4, .typing = T::Address},
    {.field = F::master_port, .group = kRemote, .control = "edMasterPort",
     .label = {"master_port", "端口"}, .typing = T::Digits, .range = kUpTo(65535)},
    {.field = F::master_host, .group = kRemote, .control = "edMasterHostName",
     .label = {"master_host", "域名"}, .kind = K::Text, .typing = T::Any, .maxBytes = 63},
};
// clang-format on

inline constexpr StoreRule kStoreRules[] = {
    // KTSP runs over UDP and carries at most 992 bytes a packet.
    {F::connection_type1, {F::select_ptcl, kKtsp}, StoreEffect::Set, kUdp},
    {F::connection_type2, {F::select_ptcl, kKtsp}, StoreEffect::Set, kUdp},
    {F::connection_type3, {F::select_ptcl, kKtsp}, StoreEffect::Set, kUdp},
    {F::packet_len, {F::select_ptcl, kKtsp}, StoreEffect::AtMost, kKtspMaxPacket},
    // A heartbeat packet counts its bytes, and is nothing while it is off.
    {F::custom_heart_packet_len, {}, StoreEffect::ByteCountOf, 0, F::custom_heart_packet},
    {F::custom_heart_packet_len, {F::custom_heart_packet_en, kOff}, StoreEffect::Set, 0},
    {F::custom_heart_packet, {F::custom_heart_packet_en, kOff}, StoreEffect::Set, 0},
    {F::custom_heart_packet_ack_len, {}, StoreEffect::ByteCountOf, 0, F::custom_heart_packet_ack},
    {F::custom_heart_packet_ack_len, {F::custom_heart_packet_ack_en, kOff}, StoreEffect::Set, 0},
    {F::custom_heart_packet_ack, {F::custom_heart_packet_ack_en, kOff}, StoreEffect::Set, 0},
};

inline constexpr ChangeRule kChangeRules[] = {
    // The SMS-only mode forwards received messages; the other modes start without.
    {{F::run_mode, kSms}, F::recv_sms_en, kOn, true, kOff},
    // No answer packet is expected without a heartbeat packet.
    {{F::custom_heart_packet_en, kOff}, F::custom_heart_packet_ack_en, kOff, false},
};

// The row's index in kRows for each field, in record order.
inline constexpr std::array<std::uint8_t, std::size_t(F::Count)> kRowOfField = [] {
  std::array<std::uint8_t, std::size_t(F::Count)> index{};
  for (std::size_t i = 0; i < std::size(kRows); ++i)
    index[std::size_t(kRows[i].field)] = std::uint8_t(i);
  return index;
}();

} // namespace field_model_data

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

inline constexpr std::span<const FieldPage> kFieldPages = field_model_data::kPages;
inline constexpr std::span<const FieldGroup> kFieldGroups = field_model_data::kGroups;
inline constexpr std::span<const FieldRow> kFieldRows = field_model_data::kRows;
inline constexpr std::span<const StoreRule> kStoreRules = field_model_data::kStoreRules;
inline constexpr std::span<const ChangeRule> kChangeRules = field_model_data::kChangeRules;

// The speeds, data bits and stop bits a unit's serial port takes, in the
// order the lists offer them; the PC side of the link offers the same.
inline constexpr const auto& kOfferedBaudRates = field_model_data::kBaudRates;
inline constexpr const auto& kOfferedDataBits = field_model_data::kDataBits;
inline constexpr const auto& kOfferedStopBits = field_model_data::kStopBits;
// Parity, the same for the unit's serial port and the PC side of the link.
inline constexpr std::span<const FieldWord> kParityWords = field_model_data::kParity;

// An empty row: no control, no words, shown and enabled always.
inline constexpr FieldRow kNoFieldRow{};

// The row of a field; every record field has one, a value outside the enum
// gets kNoFieldRow.
constexpr const FieldRow& FieldRowOf(AppField field) {
  const std::size_t i = std::size_t(field);
  return i < field_model_data::kRowOfField.size() ? kFieldRows[field_model_data::kRowOfField[i]]
                                                  : kNoFieldRow;
}
constexpr const FieldGroup& GroupOf(const FieldRow& row) { return kFieldGroups[row.group]; }
constexpr const FieldPage& PageOf(const FieldRow& row) { return kFieldPages[GroupOf(row).page]; }

// The built-in text of a caption key of the model (a page's navigation button
// in section "menu", a group heading, a label, a unit, a list item); empty
// when the model has no such key.
constexpr std::string_view BuiltInCaption(std::string_view section, std::string_view key) {
  for (const FieldPage& page : kFieldPages)
    if (section == "menu" && page.navigation.key == key) return page.navigation.text;
  for (const FieldGroup& group : kFieldGroups)
    if (kFieldPages[group.page].section == section && group.heading.key == key)
      return group.heading.text;
  for (const FieldRow& row : kFieldRows) {
    if (PageOf(row).section != section) continue;
    if (row.label.key == key) return row.label.text;
    if (row.unit.key == key) return row.unit.text;
    for (const FieldWord& w : row.words)
      if (!w.caption.key.empty() && w.caption.key == key) return w.caption.text;
  }
  return {};
}

// ---------------------------------------------------------------- reading the table

// Whether the window shows the field's control for the selectors in record:
// its group's condition and its own.
bool FieldShown(AppField field, const TAppParams& record);
// Whether the field is shown and its control enabled: a technician can reach it.
bool FieldReachable(AppField field, const TAppParams& record);

// The characters a technician can type into the field's control: the text's
// bytes, 15 for an address, the digits of a number's maximum, two per byte of
// a hex packet; 0 for a field that is picked or has no control.
int TypingLimit(AppField field);

// Whether a character typed (not pasted) into a field of this typing passes
// its key filter: digits and addresses let control characters and every
// code above 126 through; phone numbers take "+" and digits, hex packets hex
// digits and blanks, each with backspace. Picked and Any let everything through.
bool TypedCharacterPasses(FieldTyping typing, std::uint32_t c);

// Whether the pages check the field when it is left: number and address
// fields, and texts of an exact length.
bool HasExitRule(AppField field);

// The field that holds the byte count of a hex packet (its ByteCountOf
// store rule); AppField::Count for a field that is no packet.
AppField ByteCountFieldOf(AppField packet);
// The packet whose byte count the field holds; AppField::Count for any other field.
AppField PacketCountedBy(AppField count);

// Applies the Set and AtMost store rules whose condition holds to a record
// built from the pages. ByteCountOf is the builder's: only it knows how many
// bytes it was given.
void ApplyStoreRules(TAppParams& record);
// Applies one Set or AtMost rule, whether its condition holds or not.
void ApplyStoreRule(const StoreRule& rule, TAppParams& record);

// The store rules that change field in record as it stands; empty when none.
std::vector<const StoreRule*> StoreRulesChanging(AppField field, const TAppParams& record);

// ---------------------------------------------------------------- the table in words
// Language-neutral texts for profile comments, `k7vconf-cli fields` and
// messages; English words, the model's built-in (Chinese) labels.

// "数据中心 / 端口1": the page's button and the field's label.
std::string WhereText(AppField field);
// What the field takes: "0~65535", "tcp | udp", "115200 | 57600 | …",
// "192.168.1.10, four numbers 0–255, not 255.255.255.255", "text, at most 15 GBK bytes", …
std::string AllowedText(AppField field);
// "run_mode is wakeup"; empty for a condition that always holds.
std::string ConditionText(const FieldCondition& condition);
// "shown when select_ptcl is transparent and run_mode is wakeup": the group's
// and the row's shown conditions, then the enabled one; empty when always.
std::string ShownText(AppField field);
// The store rules of the field in words, joined by "; ": "udp while
// select_ptcl is ktsp", "the byte count of custom_heart_packet; 0 while
// custom_heart_packet_en is off"; empty when none.
std::string StoredText(AppField field);
// "number", "text", "ipv4", "list", "check", "hex_packet".
std::string_view KindName(FieldKind kind);
// "picked", "digits", "address", "phone", "hex", "any".
std::string_view TypingName(FieldTyping typing);
// The word of a value of a list or check field; empty outside its words.
std::string_view WordOf(AppField field, std::uint32_t value);
