#include "platform/built_in_messages.h"

#include <array>
#include <utility>

namespace {

using MessageText = std::pair<std::string_view, std::string_view>;

// The first version's keys, worded as resources/caption.ini has them.
constexpr std::array kFirstMessages = std::to_array<MessageText>({
    {"open_serial", "正在打开串口："},
    {"open_serial_error", "串口打开失败"},
    {"open_serial_error_code", "串口参数设置失败，错误码："},
    {"serial_opened", "串口已打开"},
    {"conneting", "正在连接设备……"},
    {"connected", "设备已连接，进入配置模式"},
    {"connect_failed", "连接失败：设备没有应答"},
    {"serial_closed", "已断开连接，串口已关闭"},
    {"app_par_reading", "正在读取参数……"},
    {"app_par_read_completed", "参数读取完成"},
    {"app_par_read_failed", "参数读取失败：设备没有应答"},
    {"sys_par_read_completed", "产品信息读取完成"},
    {"sys_par_read_failed", "产品信息读取失败：设备没有应答"},
    {"app_par_saving", "正在写入参数……"},
    {"app_par_save_completed", "参数设置成功，设备已保存"},
    {"app_par_save_failed_with_checksum_error", "参数设置失败：设备拒绝了参数（校验错误）"},
    {"app_par_save_failed_with_timeout", "参数设置失败：设备没有应答"},
    {"default_par", "已填入出厂默认参数"},
    {"par_error", "参数错误：输入值无效或超出范围"},
    {"imported", "参数文件已导入"},
    {"exported", "参数文件已导出"},
    {"select_bin", "请先选择固件文件"},
    {"start_download", "开始升级固件："},
    {"download_completed", "固件升级完成"},
});

// Keep in step with resources/caption.ini [built_in] and the README's key table.
constexpr std::array kAddedMessages = std::to_array<MessageText>({
    {"serial_lost", "串口已断开（设备被拔出或出错）"},
    {"export_failed", "参数文件导出失败"},
    {"import_failed", "参数文件导入失败"},
    {"bin_error", "固件文件无效："},
    {"download_failed", "固件升级失败：设备拒绝了固件"},
    {"bin_kept", "仍使用之前载入的固件："},
    {"bin_no_body", "没有固件数据：文件只有 %1 字节"},
    {"bin_too_large", "固件数据 %1 字节，超过上限 %2 字节"},
    {"bin_param_record", "这是参数文件（%1 字节），不是固件"},
    {"bin_archive", "这是压缩文件（%1），请先解压"},
    {"bin_profile", "这是参数配置文件，不是固件"},
    {"bin_text", "这是文本文件（%1% 为可打印字符），不是固件"},
    {"bin_version_field", "前 8 字节不是版本号：应为可打印字符，不足 8 个时以零字节补齐"},
    {"bin_one_byte", "固件数据全是同一个字节 %1（空白或已擦除）"},
    {"parcfg_value_unusable", "parcfg.ini 中有无法使用的设置，已改用（键=值 → 采用）："},
    {"parcfg_no_selection", "不选择"},
    {"switchchr_blank", "切换命令首尾不能有空格"},
    {"switchchr_quoted", "切换命令不能用引号括起"},
    {"switchchr_code_page", "切换命令只能用设备代码页（GBK）中的字符"},
    {"not_plain_file", "不是普通文件"},
    {"param_file_short", "%1 字节，参数文件有 %2 字节"},
    {"param_file_long", "只用了文件的前 %1 字节，文件共有 %2 字节"},
    {"value_not_shown", "读到的值页面无法显示："},
    {"value_stored_as", "写入设备的值按规则改变："},
    {"text_fills_field", "文本占满了字段，没有结束的零字节："},
    {"profile_fields_changed", "参数配置文件改变了 %1 个参数"},
    {"file_not_params", "既不是参数配置文件也不是参数记录"},
    {"operation_cancelled", "操作已取消：连接已断开"},
    {"operation_link_lost", "操作未完成：与设备的连接已断开"},
    {"app_par_read_incomplete", "参数读取失败：设备应答不完整"},
    {"download_link_lost", "固件升级失败：与设备的连接已断开"},
    {"download_stalled", "固件升级失败：设备已停止请求数据"},
    {"download_repeated", "固件升级失败：设备反复请求同一数据块"},
    {"download_stopped", "固件升级已停止"},
    {"download_name_cut", "文件名超过 13 字节，设备将收到的文件名："},
    {"stop_download", "停止升级"},
    {"open_serial_group", "；当前用户需加入以下用户组才能使用串口："},
    {"profile_error", "参数配置文件有误："},
    {"no_port", "未设置串口：请在“连接设置”中选择或输入串口"},
    {"captions_missing", "未找到文字文件 caption.ini，使用内置文字；查找过："},
    {"user_folder_unusable", "无法在文件夹 %1 中工作（%2），parcfg.ini 改存于 %3"},
    {"user_folder_no_home", "未设置 $XDG_CONFIG_HOME 和 $HOME"},
    {"parcfg_write_failed", "无法写入 %1"},
    {"font_missing", "未找到能显示中文的字体，中文会显示为方框；请安装软件包 "},
    {"param_files", "参数文件"},
    {"all_files", "所有文件"},
});

template <std::size_t N>
std::string_view Find(const std::array<MessageText, N>& table, std::string_view key) {
  for (const auto& [name, text] : table)
    if (key == name) return text;
  return {};
}

} // namespace

// Empty for keys that are in neither table.
std::string_view BuiltInMessageText(std::string_view key) {
  const std::string_view text = Find(kFirstMessages, key);
  return text.empty() ? Find(kAddedMessages, key) : text;
}

bool IsAddedMessageKey(std::string_view key) { return !Find(kAddedMessages, key).empty(); }
