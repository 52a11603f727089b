#include "app/caption_table.h"

#include "params/field_model.h"

// The sources are UTF-8; MSVC needs /utf-8 to read the Chinese defaults.

namespace {
constexpr CaptionKind T = CaptionKind::Text;
constexpr CaptionKind I = CaptionKind::Item;
constexpr CaptionKind DT = CaptionKind::DialogText;
constexpr CaptionKind DI = CaptionKind::DialogItem;
constexpr CaptionKind DTitle = CaptionKind::DialogTitle;

// An entry for a text of the parameter pages: its built-in text is the
// field model's, under the same section and key (or, for the link settings
// dialog's copy, under the model's). A key the model lacks stops the build.
consteval CaptionEntry Borrowed(const char* section, const char* key, const char* receiver,
                                CaptionKind kind, const char* modelSection, const char* modelKey) {
  const std::string_view text = BuiltInCaption(modelSection, modelKey);
  if (text.empty()) throw "the field model has no such caption key";
  return {section, key, text.data(), receiver, kind};
}
consteval CaptionEntry FromModel(const char* section, const char* key, const char* receiver,
                                 CaptionKind kind) {
  return Borrowed(section, key, receiver, kind, section, key);
}
} // namespace

// Order matters: a list's name label comes just before its items, and the
// items come in list position order.
namespace {
constexpr CaptionEntry kEntries[] = {
    // navigation buttons
    FromModel("menu", "serial", "SpeedButton1", T),
    FromModel("menu", "dial", "SpeedButton2", T),
    FromModel("menu", "channel", "SpeedButton3", T),
    FromModel("menu", "ptcl", "SpeedButton4", T),
    FromModel("menu", "workmode", "SpeedButton5", T),
    FromModel("menu", "remote", "SpeedButton6", T),
    {"menu", "update", "固件升级", "SpeedButton8", T},
    {"menu", "info", "产品信息", "SpeedButton7", T},
    // tool panel buttons
    {"button", "connect_setup", "连接设置", "SpeedButton30", T},
    {"button", "connect", "连接", "sb_com_open", T},
    {"button", "disconnect", "断开", "sb_com_close", T},
    {"button", "import", "导入", "SpeedButton11", T},
    {"button", "export", "导出", "SpeedButton12", T},
    {"button", "default", "恢复出厂默认", "SpeedButton15", T},
    {"button", "get", "读取", "sb_getpar", T},
    {"button", "set", "设置", "sb_setpar", T},
    // status bar
    {"status", "company", kCompanyName, "StatusPanel2", T},
    {"status", "websit", kCompanyWeb, "StatusPanel3", T},
    // page pSerial
    FromModel("serial", "group_com_setup", "Label1", T),
    FromModel("serial", "baudrate", "Label74", T),
    FromModel("serial", "databit", "Label103", T),
    FromModel("serial", "stopbit", "Label91", T),
    FromModel("serial", "paritybit", "Label104", T),
    FromModel("serial", "paritybit1", "cb_paritybit", I),
    FromModel("serial", "paritybit2", "cb_paritybit", I),
    FromModel("serial", "paritybit3", "cb_paritybit", I),
    FromModel("serial", "com_ptcl", "Label109", T),
    FromModel("serial", "com_ptcl1", "cbdtuserialptcl", I),
    FromModel("serial", "com_ptcl2", "cbdtuserialptcl", I),
    FromModel("serial", "packet_len", "Label105", T),
    FromModel("serial", "packet_len_range", "Label108", T),
    FromModel("serial", "delay", "Label106", T),
    FromModel("serial", "delay_range", "Label107", T),
    // page sbDial
    FromModel("dial", "group_dial", "Label131", T),
    FromModel("dial", "apn", "Label2", T),
    FromModel("dial", "ppp_username", "Label3", T),
    FromModel("dial", "ppp_pw", "Label5", T),
    FromModel("dial", "group_ping", "Label132", T),
    FromModel("dial", "ping_ip", "Label81", T),
    FromModel("dial", "ping_host", "Label82", T),
    FromModel("dial", "ping_interval", "Label83", T),
    FromModel("dial", "ping_interval_range", "Label84", T),
    FromModel("dial", "group_dns", "Label134", T),
    FromModel("dial", "main_dns", "Label24", T),
    FromModel("dial", "second_dns", "Label6", T),
    FromModel("dial", "group_pin", "Label133", T),
    FromModel("dial", "pin_code", "Label7", T),
    // page pConnection
    FromModel("channel", "group_center", "Label19", T),
    FromModel("channel", "ip1", "Label20", T),
    FromModel("channel", "port1", "Label26", T),
    FromModel("channel", "connection_type1", "Label85", T),
    FromModel("channel", "hostname1", "Label21", T),
    FromModel("channel", "ip2", "Label27", T),
    FromModel("channel", "port2", "Label43", T),
    FromModel("channel", "connection_type2", "Label86", T),
    FromModel("channel", "hostname2", "Label40", T),
    FromModel("channel", "ip3", "Label44", T),
    FromModel("channel", "port3", "Label46", T),
    FromModel("channel", "connection_type3", "Label87", T),
    FromModel("channel", "hostname3", "Label45", T),
    // page sbPtcl
    FromModel("ptcl", "group_dtu_id", "Label28", T),
    FromModel("ptcl", "dtu_id", "Label99", T),
    FromModel("ptcl", "group_ptcl", "Label31", T),
    FromModel("ptcl", "select_ptcl", "Label32", T),
    FromModel("ptcl", "select_ptcl1", "cbPtcl_select", I),
    FromModel("ptcl", "select_ptcl2", "cbPtcl_select", I),
    FromModel("ptcl", "select_ptcl3", "cbPtcl_select", I),
    FromModel("ptcl", "select_ptcl4", "cbPtcl_select", I),
    FromModel("ptcl", "select_ptcl5", "cbPtcl_select", I),
    FromModel("ptcl", "group_heart_beat", "Label22", T),
    FromModel("ptcl", "heart_interval", "Label29", T),
    FromModel("ptcl", "heart_interval_range", "Label36", T),
    FromModel("ptcl", "group_custom_heart", "Label30", T),
    FromModel("ptcl", "dtuinsertid", "cb_insert_enable", T),
    FromModel("ptcl", "dtuinsertid_pos", "Label96", T),
    FromModel("ptcl", "dtuinsertid_pos_range", "Label97", T),
    FromModel("ptcl", "custom_heart_packet_en", "ck_enable_heart", T),
    FromModel("ptcl", "custom_heart_packet", "Label33", T),
    FromModel("ptcl", "custom_heart_packet_ack_en", "ck_enable_heart_ack", T),
    FromModel("ptcl", "custom_heart_packet_ack", "Label34", T),
    // page pWorkmode
    FromModel("work_mode", "group_work_mode", "Label35", T),
    FromModel("work_mode", "run_mode", "Label49", T),
    FromModel("work_mode", "run_mode1", "cb_workmode", I),
    FromModel("work_mode", "run_mode2", "cb_workmode", I),
    FromModel("work_mode", "run_mode3", "cb_workmode", I),
    FromModel("work_mode", "idle_interval", "Label42", T),
    FromModel("work_mode", "idle_interval_unit", "Label70", T),
    FromModel("work_mode", "reconnect_interval", "Label39", T),
    FromModel("work_mode", "reconnect_interval_unit", "Label41", T),
    FromModel("work_mode", "drop_wakeup_data", "ckbDropWakedata", T),
    FromModel("work_mode", "group_sms", "Label50", T),
    FromModel("work_mode", "phone_number", "Label51", T),
    FromModel("work_mode", "recv_sms_en", "ck_enable_recv_sms", T),
    FromModel("work_mode", "group_else", "Label4", T),
    FromModel("work_mode", "debug", "Label18", T),
    FromModel("work_mode", "debug1", "cb_report", I),
    FromModel("work_mode", "debug2", "cb_report", I),
    FromModel("work_mode", "debug3", "cb_report", I),
    FromModel("work_mode", "debug4", "cb_report", I),
    FromModel("work_mode", "switch_cmd", "Label16", T),
    // page pRemote
    FromModel("remote", "group_remote", "Label52", T),
    FromModel("remote", "run_type", "Label48", T),
    FromModel("remote", "run_type1", "cbPconlinemode", I),
    FromModel("remote", "run_type2", "cbPconlinemode", I),
    FromModel("remote", "reconnect_interval", "Label67", T),
    FromModel("remote", "reconnect_interval_unit", "Label68", T),
    FromModel("remote", "auto_interval", "Label53", T),
    FromModel("remote", "auto_cnt_interval_range", "Label54", T),
    FromModel("remote", "master_ip", "Label55", T),
    FromModel("remote", "master_port", "Label56", T),
    FromModel("remote", "master_host", "Label57", T),
    // page pUpdate
    {"update", "group_update", "固件升级", "Label61", T},
    {"update", "selectfile", "选择文件", "Label66", T},
    {"update", "filename", "文件名", "Label65", T},
    {"update", "version", "版本", "Label63", T},
    {"update", "length", "文件长度", "Label64", T},
    {"update", "checksum", "文件校验", "Label62", T},
    {"update", "start_update", "开始升级", "bStart", T},
    // page pVersion
    {"info", "group_info", "产品信息", "Label58", T},
    {"info", "product_type", "产品", "Label92", T},
    {"info", "product_model", "型号", "Label89", T},
    {"info", "serial_type", "串口类型", "Label90", T},
    {"info", "version", "软件版本", "Label59", T},
    {"info", "sn", "序列号", "Label60", T},
    // link settings dialog
    {"connect_setup", "title", "设置连接串口参数", "Form3", DTitle},
    {"connect_setup", "serial", "串口", "Label1", DT},
    Borrowed("connect_setup", "baudrate", "Label12", DT, "serial", "baudrate"),
    Borrowed("connect_setup", "databit", "Label2", DT, "serial", "databit"),
    Borrowed("connect_setup", "paritybit", "Label14", DT, "serial", "paritybit"),
    Borrowed("connect_setup", "paritybit1", "cbParitybit", DI, "serial", "paritybit1"),
    Borrowed("connect_setup", "paritybit2", "cbParitybit", DI, "serial", "paritybit2"),
    Borrowed("connect_setup", "paritybit3", "cbParitybit", DI, "serial", "paritybit3"),
    Borrowed("connect_setup", "stopbit", "Label13", DT, "serial", "stopbit"),
    Borrowed("connect_setup", "switchchr", "Label16", DT, "work_mode", "switch_cmd"),
    {"connect_setup", "ok", "确定", "BitBtn1", DT},
    {"connect_setup", "cancel", "取消", "BitBtn2", DT},
};
} // namespace

// A missing or extra entry is caught here rather than left as a null row.
static_assert(std::size(kEntries) == kCaptionCount);
const std::array<CaptionEntry, kCaptionCount> kCaptionTable = std::to_array(kEntries);
