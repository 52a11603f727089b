#include "app/caption_table.h"

// The sources are UTF-8; MSVC needs /utf-8 to read the Chinese defaults.

namespace {
constexpr CaptionKind T = CaptionKind::Text;
constexpr CaptionKind I = CaptionKind::Item;
constexpr CaptionKind DT = CaptionKind::DialogText;
constexpr CaptionKind DI = CaptionKind::DialogItem;
constexpr CaptionKind DTitle = CaptionKind::DialogTitle;
} // namespace

// Order matters: a list's name label comes just before its items, and the
// items come in list position order.
namespace {
constexpr CaptionEntry kEntries[] = {
    // navigation buttons
    {"menu", "serial", "串口设置", "SpeedButton1", T},
    {"menu", "dial", "拨号设置", "SpeedButton2", T},
    {"menu", "channel", "数据中心", "SpeedButton3", T},
    {"menu", "ptcl", "通讯协议", "SpeedButton4", T},
    {"menu", "workmode", "工作模式", "SpeedButton5", T},
    {"menu", "remote", "远程管理", "SpeedButton6", T},
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
    {"serial", "group_com_setup", "通讯参数", "Label1", T},
    {"serial", "baudrate", "波特率", "Label74", T},
    {"serial", "databit", "数据位", "Label103", T},
    {"serial", "stopbit", "停止位", "Label91", T},
    {"serial", "paritybit", "校验位", "Label104", T},
    {"serial", "paritybit1", "无", "cb_paritybit", I},
    {"serial", "paritybit2", "奇", "cb_paritybit", I},
    {"serial", "paritybit3", "偶", "cb_paritybit", I},
    {"serial", "com_ptcl", "通讯协议", "Label109", T},
    {"serial", "com_ptcl1", "透明", "cbdtuserialptcl", I},
    {"serial", "com_ptcl2", "命令模式", "cbdtuserialptcl", I},
    {"serial", "packet_len", "最大包长", "Label105", T},
    {"serial", "packet_len_range", "1~1024字节", "Label108", T},
    {"serial", "delay", "数据包间隔", "Label106", T},
    {"serial", "delay_range", "100~1000毫秒", "Label107", T},
    // page sbDial
    {"dial", "group_dial", "拨号参数", "Label131", T},
    {"dial", "apn", "接入点", "Label2", T},
    {"dial", "ppp_username", "用户名", "Label3", T},
    {"dial", "ppp_pw", "密码", "Label5", T},
    {"dial", "group_ping", "PING设置", "Label132", T},
    {"dial", "ping_ip", "地址", "Label81", T},
    {"dial", "ping_host", "域名", "Label82", T},
    {"dial", "ping_interval", "间隔", "Label83", T},
    {"dial", "ping_interval_range", "0~255分钟", "Label84", T},
    {"dial", "group_dns", "DNS设置", "Label134", T},
    {"dial", "main_dns", "主DNS", "Label24", T},
    {"dial", "second_dns", "备DNS", "Label6", T},
    {"dial", "group_pin", "PIN设置", "Label133", T},
    {"dial", "pin_code", "SIM PIN", "Label7", T},
    // page pConnection
    {"channel", "group_center", "连接设置", "Label19", T},
    {"channel", "ip1", "IP1", "Label20", T},
    {"channel", "port1", "端口1", "Label26", T},
    {"channel", "connection_type1", "连接类型1", "Label85", T},
    {"channel", "hostname1", "域名1", "Label21", T},
    {"channel", "ip2", "IP2", "Label27", T},
    {"channel", "port2", "端口2", "Label43", T},
    {"channel", "connection_type2", "连接类型2", "Label86", T},
    {"channel", "hostname2", "域名2", "Label40", T},
    {"channel", "ip3", "IP3", "Label44", T},
    {"channel", "port3", "端口3", "Label46", T},
    {"channel", "connection_type3", "连接类型3", "Label87", T},
    {"channel", "hostname3", "域名3", "Label45", T},
    // page sbPtcl
    {"ptcl", "group_dtu_id", "自定义设备ID", "Label28", T},
    {"ptcl", "dtu_id", "设备 ID", "Label99", T},
    {"ptcl", "group_ptcl", "通讯协议", "Label31", T},
    {"ptcl", "select_ptcl", "选择协议", "Label32", T},
    {"ptcl", "select_ptcl1", "透明传输", "cbPtcl_select", I},
    {"ptcl", "select_ptcl2", "KTSP", "cbPtcl_select", I},
    {"ptcl", "select_ptcl3", "HD-DDP", "cbPtcl_select", I},
    {"ptcl", "select_ptcl4", "Modbus-tcp 2 rtu TCP-CLIENT", "cbPtcl_select", I},
    {"ptcl", "select_ptcl5", "Modbus-tcp 2 rtu TCP-SERVER", "cbPtcl_select", I},
    {"ptcl", "group_heart_beat", "心跳间隔设置", "Label22", T},
    {"ptcl", "heart_interval", "心跳间隔", "Label29", T},
    {"ptcl", "heart_interval_range", "0~65535秒", "Label36", T},
    {"ptcl", "group_custom_heart", "自定义心跳包设置", "Label30", T},
    {"ptcl", "dtuinsertid", "插入ID", "cb_insert_enable", T},
    {"ptcl", "dtuinsertid_pos", "ID插入位置", "Label96", T},
    {"ptcl", "dtuinsertid_pos_range", "0~24", "Label97", T},
    {"ptcl", "custom_heart_packet_en", "启用自定义心跳包", "ck_enable_heart", T},
    {"ptcl", "custom_heart_packet", "自定义心跳包", "Label33", T},
    {"ptcl", "custom_heart_packet_ack_en", "启用自定义心跳应答包", "ck_enable_heart_ack", T},
    {"ptcl", "custom_heart_packet_ack", "自定义心跳应答包", "Label34", T},
    // page pWorkmode
    {"work_mode", "group_work_mode", "工作模式设置", "Label35", T},
    {"work_mode", "run_mode", "运行方式", "Label49", T},
    {"work_mode", "run_mode1", "在线模式", "cb_workmode", I},
    {"work_mode", "run_mode2", "唤醒模式", "cb_workmode", I},
    {"work_mode", "run_mode3", "短信模式", "cb_workmode", I},
    {"work_mode", "idle_interval", "空闲间隔", "Label42", T},
    {"work_mode", "idle_interval_unit", "秒", "Label70", T},
    {"work_mode", "reconnect_interval", "重连接间隔", "Label39", T},
    {"work_mode", "reconnect_interval_unit", "秒", "Label41", T},
    {"work_mode", "drop_wakeup_data", "丢弃唤醒数据包", "ckbDropWakedata", T},
    {"work_mode", "group_sms", "短信设置", "Label50", T},
    {"work_mode", "phone_number", "短信号码", "Label51", T},
    {"work_mode", "recv_sms_en", "允许转发接收到的短信", "ck_enable_recv_sms", T},
    {"work_mode", "group_else", "其他设置", "Label4", T},
    {"work_mode", "debug", "调试信息", "Label18", T},
    {"work_mode", "debug1", "无", "cb_report", I},
    {"work_mode", "debug2", "状态报告", "cb_report", I},
    {"work_mode", "debug3", "调试信息", "cb_report", I},
    {"work_mode", "debug4", "AT", "cb_report", I},
    {"work_mode", "switch_cmd", "切换命令", "Label16", T},
    // page pRemote
    {"remote", "group_remote", "远程管理中心设置", "Label52", T},
    {"remote", "run_type", "上线方式", "Label48", T},
    {"remote", "run_type1", "在线模式", "cbPconlinemode", I},
    {"remote", "run_type2", "定时模式", "cbPconlinemode", I},
    {"remote", "reconnect_interval", "重连间隔", "Label67", T},
    {"remote", "reconnect_interval_unit", "秒", "Label68", T},
    {"remote", "auto_interval", "启动间隔", "Label53", T},
    {"remote", "auto_cnt_interval_range", "0,10~65535分钟", "Label54", T},
    {"remote", "master_ip", "IP", "Label55", T},
    {"remote", "master_port", "端口", "Label56", T},
    {"remote", "master_host", "域名", "Label57", T},
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
    {"connect_setup", "baudrate", "波特率", "Label12", DT},
    {"connect_setup", "databit", "数据位", "Label2", DT},
    {"connect_setup", "paritybit", "校验位", "Label14", DT},
    {"connect_setup", "paritybit1", "无", "cbParitybit", DI},
    {"connect_setup", "paritybit2", "奇", "cbParitybit", DI},
    {"connect_setup", "paritybit3", "偶", "cbParitybit", DI},
    {"connect_setup", "stopbit", "停止位", "Label13", DT},
    {"connect_setup", "switchchr", "切换命令", "Label16", DT},
    {"connect_setup", "ok", "确定", "BitBtn1", DT},
    {"connect_setup", "cancel", "取消", "BitBtn2", DT},
};
} // namespace

// A missing or extra entry is caught here rather than left as a null row.
static_assert(std::size(kEntries) == kCaptionCount);
const std::array<CaptionEntry, kCaptionCount> kCaptionTable = std::to_array(kEntries);
