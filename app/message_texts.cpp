#include "app/message_texts.h"

#include <array>
#include <utility>

namespace {

// Keep in step with resources/caption.ini [built_in] and the README's key table.
constexpr std::array kAddedMessages = std::to_array<std::pair<const char*, const char*>>({
    {"serial_lost", "串口已断开（设备被拔出或出错）"},
    {"export_failed", "参数文件导出失败"},
    {"import_failed", "参数文件导入失败"},
    {"bin_error", "固件文件无效："},
    {"download_failed", "固件升级失败：设备拒绝了固件"},
    {"bin_kept", "仍使用之前载入的固件："},
    {"parcfg_value_unusable", "parcfg.ini 中有无法使用的设置，已改用（键=值 → 采用）："},
    {"parcfg_no_selection", "不选择"},
    {"switchchr_blank",
     "切换命令首尾不能有空格：parcfg.ini 保存时会去掉它们，下次启动将发送不同的命令"},
    {"switchchr_quoted",
     "切换命令不能用引号括起：parcfg.ini 保存时会去掉引号，下次启动将发送不同的命令"},
    {"not_plain_file", "不是普通文件"},
    {"param_file_short", "%1 字节，参数文件有 %2 字节"},
    {"param_file_long", "只用了文件的前 %1 字节，文件共有 %2 字节"},
    {"value_not_shown", "读到的值页面无法显示："},
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
});

} // namespace

// Empty for keys that are not in the table.
QString BuiltInMessage(const QString& key) {
  for (const auto& [name, text] : kAddedMessages)
    if (key == QLatin1String(name)) return QString::fromUtf8(text);
  return {};
}
