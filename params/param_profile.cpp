#include "params/param_profile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>

#include "params/field_checks.h"
#include "platform/code_page_936.h"
#include "platform/ipv4.h"

namespace {

using F = AppField;

// How a field's value is spelt in a profile.
enum class Kind : std::uint8_t {
  Number,  // decimal
  Address, // dotted IPv4
  Text,    // UTF-8 text, GBK in the record; hex:… when not clean
  Packet,  // heartbeat bytes as hex pairs
  List,    // an English word per list position
  Flag,    // on / off
};

constexpr const char* kOnOff[] = {"off", "on"};
constexpr const char* kParity[] = {"none", "odd", "even"};
constexpr const char* kSerialMode[] = {"transparent", "command"};
constexpr const char* kDebug[] = {"off", "status", "debug", "at"};
constexpr const char* kTransport[] = {"tcp", "udp"};
constexpr const char* kProtocol[] = {"transparent", "ktsp", "hd-ddp", "modbus-tcp-client",
                                     "modbus-tcp-server"};
constexpr const char* kRunMode[] = {"online", "wakeup", "sms"};
constexpr const char* kRunType[] = {"online", "timed"};

// Where a technician finds the field in the window, and the words of a list.
struct ProfileField {
  F id;
  const char* where;                  // page / label as the window shows them
  std::span<const char* const> words; // lists: one word per position
};

constexpr std::span<const char* const> kNoWords{};

// Record order, one row per field of kAppFields; AddsUp below checks that.
constexpr ProfileField kProfileFields[] = {
    {F::baudrate, "串口设置 / 波特率", kNoWords},
    {F::databit, "串口设置 / 数据位", kNoWords},
    {F::stopbit, "串口设置 / 停止位", kNoWords},
    {F::paritybit, "串口设置 / 校验位", kParity},
    {F::com_ptcl, "串口设置 / 通讯协议", kSerialMode},
    {F::packet_len, "串口设置 / 最大包长", kNoWords},
    {F::delay, "串口设置 / 数据包间隔", kNoWords},
    {F::debug, "工作模式 / 调试信息", kDebug},
    {F::apn, "拨号设置 / 接入点", kNoWords},
    {F::ppp_username, "拨号设置 / 用户名", kNoWords},
    {F::ppp_pw, "拨号设置 / 密码", kNoWords},
    {F::main_dns, "拨号设置 / 主DNS", kNoWords},
    {F::second_dns, "拨号设置 / 备DNS", kNoWords},
    {F::ping_ip, "拨号设置 / PING设置 / 地址", kNoWords},
    {F::ping_host, "拨号设置 / PING设置 / 域名", kNoWords},
    {F::ping_interval, "拨号设置 / PING设置 / 间隔", kNoWords},
    {F::ip1, "数据中心 / IP1", kNoWords},
    {F::hostname1, "数据中心 / 域名1", kNoWords},
    {F::port1, "数据中心 / 端口1", kNoWords},
    {F::connection_type1, "数据中心 / 连接类型1", kTransport},
    {F::ip2, "数据中心 / IP2", kNoWords},
    {F::hostname2, "数据中心 / 域名2", kNoWords},
    {F::port2, "数据中心 / 端口2", kNoWords},
    {F::connection_type2, "数据中心 / 连接类型2", kTransport},
    {F::ip3, "数据中心 / IP3", kNoWords},
    {F::hostname3, "数据中心 / 域名3", kNoWords},
    {F::port3, "数据中心 / 端口3", kNoWords},
    {F::connection_type3, "数据中心 / 连接类型3", kTransport},
    {F::heart_interval, "通讯协议 / 心跳间隔", kNoWords},
    {F::dtu_id, "通讯协议 / 设备 ID", kNoWords},
    {F::select_ptcl, "通讯协议 / 选择协议", kProtocol},
    {F::dtuinsertid, "通讯协议 / 插入ID", kNoWords},
    {F::dtuinsertid_pos, "通讯协议 / ID插入位置", kNoWords},
    {F::custom_heart_packet_en, "通讯协议 / 启用自定义心跳包", kNoWords},
    {F::custom_heart_packet_len, "通讯协议 / 自定义心跳包的字节数", kNoWords},
    {F::custom_heart_packet, "通讯协议 / 自定义心跳包", kNoWords},
    {F::custom_heart_packet_ack_en, "通讯协议 / 启用自定义心跳应答包", kNoWords},
    {F::custom_heart_packet_ack_len, "通讯协议 / 自定义心跳应答包的字节数", kNoWords},
    {F::custom_heart_packet_ack, "通讯协议 / 自定义心跳应答包", kNoWords},
    {F::run_mode, "工作模式 / 运行方式", kRunMode},
    {F::idle_interval, "工作模式 / 空闲间隔", kNoWords},
    {F::reconnect_interval, "工作模式 / 重连接间隔", kNoWords},
    {F::drop_wakeup_data, "工作模式 / 丢弃唤醒数据包", kNoWords},
    {F::phone_number, "工作模式 / 短信号码", kNoWords},
    {F::recv_sms_en, "工作模式 / 允许转发接收到的短信", kNoWords},
    {F::switch_cmd, "工作模式 / 切换命令", kNoWords},
    {F::auto_interval, "远程管理 / 启动间隔", kNoWords},
    {F::master_ip, "远程管理 / IP", kNoWords},
    {F::master_host, "远程管理 / 域名", kNoWords},
    {F::master_port, "远程管理 / 端口", kNoWords},
    {F::pin_code, "拨号设置 / SIM PIN", kNoWords},
    {F::run_type, "远程管理 / 上线方式", kRunType},
    {F::master_reconnect_interval, "远程管理 / 重连间隔", kNoWords},
};

// One row per field, in enum order; lists, and only they, have words. The
// record's table (kAppFields) holds the rest.
constexpr bool AddsUp() {
  if (std::size(kProfileFields) != std::size_t(F::Count)) return false;
  for (std::size_t i = 0; i < std::size(kProfileFields); ++i) {
    const ProfileField& p = kProfileFields[i];
    if (std::size_t(p.id) != i) return false;
  }
  return true;
}
static_assert(AddsUp(), "one profile row per record field, in record order");

// The spelling follows from the record's encoding.
Kind KindOf(F f) {
  switch (FieldInfo(f).encoding) {
  case FieldEncoding::Ipv4:
    return Kind::Address;
  case FieldEncoding::Text:
    return Kind::Text;
  case FieldEncoding::Bytes:
    return Kind::Packet;
  case FieldEncoding::List:
    return Kind::List;
  case FieldEncoding::Flag:
    return Kind::Flag;
  case FieldEncoding::U8:
  case FieldEncoding::U16:
  case FieldEncoding::U32:
    break;
  }
  return Kind::Number;
}

// Empty for fields that are neither lists nor flags.
std::span<const char* const> WordsOf(F f) {
  return KindOf(f) == Kind::Flag ? std::span<const char* const>(kOnOff)
                                 : kProfileFields[std::size_t(f)].words;
}

// The field that says how many bytes of a heartbeat packet are valid.
F LengthOf(F packet) {
  return packet == F::custom_heart_packet ? F::custom_heart_packet_len
                                          : F::custom_heart_packet_ack_len;
}

// ---------------------------------------------------------------- text helpers

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Never fails.
std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// ASCII letters only are folded.
bool SameWord(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

// The value freed of one pair of enclosing quotes, as the profile INI rules read it.
std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    return v.substr(1, v.size() - 2);
  return v;
}

// Decimal digits only, within 32 bits; nullopt for anything else.
std::optional<std::uint32_t> ParseDecimal(std::string_view s) {
  if (s.empty() || s.size() > 10) return std::nullopt;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + std::uint64_t(c - '0');
  }
  if (v > 0xFFFFFFFFull) return std::nullopt;
  return std::uint32_t(v);
}

// -1 for a character that is no hex digit.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Hex pairs, blanks allowed between pairs; nullopt for an odd digit or a
// character that is neither a hex digit nor a blank.
std::optional<std::string> ParseHexBytes(std::string_view s) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    if (IsBlank(s[i])) {
      ++i;
      continue;
    }
    if (i + 1 >= s.size()) return std::nullopt;
    const int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(char((hi << 4) | lo));
    i += 2;
  }
  return out;
}

// Upper-case pairs; empty for no bytes.
std::string HexPairs(std::span<const std::uint8_t> bytes, bool spaced) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (spaced && i > 0) out.push_back(' ');
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return out;
}

// The field's bytes without the zero padding at its end.
std::span<const std::uint8_t> WithoutPadding(std::span<const std::uint8_t> field) {
  std::size_t n = field.size();
  while (n > 0 && field[n - 1] == 0) --n;
  return field.first(n);
}

// "0~max" of the field's width; never fails.
std::string RecordRange(F f) {
  const std::uint64_t max = (std::uint64_t(1) << (8 * FieldInfo(f).size)) - 1;
  return "0~" + std::to_string(max);
}

// ---------------------------------------------------------------- the window's rules

// GBK bytes as UTF-8 text; nullopt when they are not clean GBK.
std::optional<std::string> DeviceTextToUtf8(const std::string& gbk) {
  cp936::Decoded d = cp936::ToUtf8(gbk);
  if (!d.clean) return std::nullopt;
  return std::move(d.utf8);
}

// UTF-8 text as GBK bytes; nullopt when a character has no GBK form.
std::optional<std::string> DeviceTextFromUtf8Checked(std::string_view utf8) {
  cp936::Encoded e = cp936::FromUtf8(utf8);
  if (!e.clean) return std::nullopt;
  return std::move(e.bytes);
}

// The values the pages' lists of numbers offer (the same on every unit).
constexpr std::uint32_t kBaudRates[] = {115200, 57600, 38400, 19200, 9600,
                                        4800,   2400,  1200,  600,   300};
constexpr std::uint32_t kDataBits[] = {8, 7};
constexpr std::uint32_t kStopBits[] = {1, 2};

// Empty for fields the pages do not pick from a list of numbers.
std::span<const std::uint32_t> OfferedNumbers(F f) {
  switch (f) {
  case F::baudrate:
    return kBaudRates;
  case F::databit:
    return kDataBits;
  case F::stopbit:
    return kStopBits;
  default:
    return {};
  }
}

// What the window lets a technician enter for a number or text field;
// nullopt when only the record's width limits it.
std::optional<std::string> RuleAllowed(F f) {
  if (const auto offered = OfferedNumbers(f); !offered.empty()) {
    std::string out;
    for (std::uint32_t v : offered) out += (out.empty() ? "" : " | ") + std::to_string(v);
    return out;
  }
  if (const auto rule = ExitRuleOf(f)) return CheckExitRule(*rule, {}).allowed;
  if (FieldInfo(f).encoding == FieldEncoding::Text) return CheckStorable(f, {}).allowed + " (GBK)";
  return std::nullopt;
}

// ---------------------------------------------------------------- writing

// A text field's value as a person reads it, or nullopt when its bytes are
// not a clean GBK text followed by zero padding.
std::optional<std::string> CleanText(std::span<const std::uint8_t> field) {
  const auto zero = std::find(field.begin(), field.end(), std::uint8_t(0));
  if (std::any_of(zero, field.end(), [](std::uint8_t b) { return b != 0; })) return std::nullopt;
  const std::string bytes(zero == field.begin() ? std::string() : std::string(field.begin(), zero));
  if (std::any_of(bytes.begin(), bytes.end(),
                  [](char c) { return std::uint8_t(c) < 0x20 || c == 0x7F; }))
    return std::nullopt;
  auto text = DeviceTextToUtf8(bytes);
  // Kept only when it turns back into the very same bytes.
  if (!text || DeviceTextFromUtf8Checked(*text) != bytes) return std::nullopt;
  // A clean text that looks like the hex form would be read as hex.
  if (text->size() >= 4 && SameWord(std::string_view(*text).substr(0, 4), "hex:"))
    return std::nullopt;
  return text;
}

struct WrittenValue {
  std::string text;
  const char* note = nullptr; // why the value is not in its usual form
};

// Never fails: any bytes have a spelling.
WrittenValue ValueOf(const TAppParams& record, F f) {
  const Kind kind = KindOf(f);
  const auto words = WordsOf(f);
  switch (kind) {
  case Kind::Number:
    return {std::to_string(record.Get(f))};
  case Kind::Address:
    return {Ipv4ToText(record.Get(f))};
  case Kind::List:
  case Kind::Flag: {
    const std::uint32_t v = record.Get(f);
    if (v < words.size()) return {words[v]};
    return {std::to_string(v), kind == Kind::List ? "outside the list, written as a number"
                                                  : "neither on nor off, written as a number"};
  }
  case Kind::Packet: {
    // As many bytes as its length field says, and any non-zero bytes beyond:
    // a packet may end in zero bytes of its own.
    const auto field = record.FieldBytes(f);
    const std::size_t valid = std::min<std::size_t>(record.Get(LengthOf(f)), field.size());
    return {HexPairs(field.first(std::max(valid, WithoutPadding(field).size())), true)};
  }
  case Kind::Text: {
    const auto field = record.FieldBytes(f);
    if (auto clean = CleanText(field)) return {*clean};
    return {"hex:" + HexPairs(WithoutPadding(field), false), "not clean GBK text, written as hex"};
  }
  }
  return {};
}

// Quotes a text the INI rules would otherwise change: blanks at either end, or
// quotes that would be taken for enclosing ones.
std::string Quoted(const std::string& v) {
  if (v.empty()) return v;
  const bool needs = IsBlank(v.front()) || IsBlank(v.back()) || v.front() == '"' ||
                     v.front() == '\'' || v.back() == '"' || v.back() == '\'';
  return needs ? '"' + v + '"' : v;
}

// Never fails.
std::string AllowedText(F f) {
  const Kind kind = KindOf(f);
  const auto words = WordsOf(f);
  switch (kind) {
  case Kind::List:
  case Kind::Flag: {
    std::string out;
    for (const char* w : words) out += (out.empty() ? "" : " | ") + std::string(w);
    return out;
  }
  case Kind::Address:
    return "IPv4 address";
  case Kind::Packet:
    return "hex bytes, at most " + std::to_string(FieldInfo(f).size);
  case Kind::Text:
  case Kind::Number:
    break;
  }
  if (auto rule = RuleAllowed(f)) return *rule;
  if (kind == Kind::Text)
    return "text, at most " + std::to_string(FieldInfo(f).size) + " GBK bytes";
  return RecordRange(f);
}

// ---------------------------------------------------------------- reading

// Well-formed UTF-8 (shortest forms, no surrogates, at most U+10FFFF).
bool IsUtf8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = std::uint8_t(s[i]);
    std::size_t more = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      more = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + more >= s.size()) return false;
    for (std::size_t k = 1; k <= more; ++k) {
      const auto b = std::uint8_t(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if ((more == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += more + 1;
  }
  return true;
}

class Applier {
public:
  Applier(const TAppParams& base, std::span<const ProfileSource> sources, ProfileChecks checks)
      : sources_(sources), checks_(checks) {
    result_.record = base;
  }

  void Apply(const ProfileSource& src) {
    std::array<int, std::size_t(F::Count)> firstLine{};
    bool inParams = src.assignment;
    bool sectionReported = false;
    int lineNo = 0;
    std::string_view rest = src.text;
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    while (!rest.empty() || lineNo == 0) {
      ++lineNo;
      const std::size_t nl = rest.find('\n');
      std::string_view line = rest.substr(0, nl);
      rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      const int shownLine = src.assignment ? 0 : lineNo;
      line = Trim(line);
      if (line.empty() || line.front() == ';') {
        if (rest.empty()) break;
        continue;
      }
      if (!IsUtf8(line)) {
        Error(src, shownLine, "", "", "the line is not UTF-8 text");
      } else if (!src.assignment && line.front() == '[') {
        const std::string_view section = Trim(line.substr(1, line.find(']') - 1));
        inParams = line.back() == ']' && SameWord(section, "params");
        if (!inParams)
          Error(src, shownLine, "", std::string(line),
                "unknown section: a profile has only [params]");
        sectionReported = true;
      } else if (const std::size_t eq = line.find('='); eq == std::string_view::npos) {
        Error(src, shownLine, "", std::string(line), "not a name = value line");
      } else {
        const std::string_view name = Trim(line.substr(0, eq));
        const std::string_view value = Unquote(Trim(line.substr(eq + 1)));
        const F f = FieldByName(name);
        if (!inParams) {
          if (!sectionReported)
            Error(src, shownLine, std::string(name), std::string(value), "outside [params]");
        } else if (f == F::Count) {
          Error(src, shownLine, std::string(name), std::string(value), "unknown name");
        } else if (firstLine[std::size_t(f)] != 0) {
          Error(src, shownLine, std::string(name), std::string(value),
                "duplicate: already set on line " + std::to_string(firstLine[std::size_t(f)]));
        } else {
          firstLine[std::size_t(f)] = lineNo;
          Set(src, shownLine, f, std::string(name), value);
        }
      }
      if (rest.empty()) break;
    }
  }

  ProfileResult Finish() {
    // A packet given without its length gets the length of what it gives,
    // as the window counts the bytes of its hex text.
    for (F packet : {F::custom_heart_packet, F::custom_heart_packet_ack}) {
      const std::size_t p = std::size_t(packet), len = std::size_t(LengthOf(packet));
      if (result_.named[p] && !failed_[p] && !result_.named[len])
        result_.record.Set(LengthOf(packet), std::uint32_t(givenBytes_[p]));
    }
    // Rules run once everything is in place: some look at other fields.
    if (checks_ != ProfileChecks::RecordOnly) {
      for (std::size_t i = 0; i < std::size_t(F::Count); ++i) {
        if (!result_.named[i] || failed_[i]) continue;
        if (auto problem = RuleProblem(F(i))) {
          const Where& w = where_[i];
          Error(*w.src, w.line, w.name, w.value, *problem);
        }
      }
    }
    // Source by source, line by line, as a technician goes through the files.
    std::vector<std::size_t> order(result_.errors.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return std::pair(sourceOf_[a], result_.errors[a].line) <
             std::pair(sourceOf_[b], result_.errors[b].line);
    });
    std::vector<ProfileIssue> sorted;
    for (std::size_t k : order) sorted.push_back(std::move(result_.errors[k]));
    result_.errors = std::move(sorted);
    return std::move(result_);
  }

private:
  // Why the window would not let this value through; nullopt when it would.
  std::optional<std::string> RuleProblem(F f) const {
    const TAppParams& r = result_.record;
    if (const auto offered = OfferedNumbers(f); !offered.empty()) {
      if (std::find(offered.begin(), offered.end(), r.Get(f)) != offered.end()) return std::nullopt;
      return "allowed " + *RuleAllowed(f);
    }
    if (f == F::custom_heart_packet_len || f == F::custom_heart_packet_ack_len) {
      const F packet =
          f == F::custom_heart_packet_len ? F::custom_heart_packet : F::custom_heart_packet_ack;
      const std::size_t max = FieldInfo(packet).size;
      if (r.Get(f) > max) return "allowed 0~" + std::to_string(max);
      if (result_.named[std::size_t(packet)] && r.Get(f) != givenBytes_[std::size_t(packet)])
        return "the packet on line " + std::to_string(where_[std::size_t(packet)].line) + " has " +
               std::to_string(givenBytes_[std::size_t(packet)]) + " bytes";
      return std::nullopt;
    }
    if (rawText_[std::size_t(f)])
      return std::nullopt; // hex: is the raw escape, held to the width only
    const auto rule = ExitRuleOf(f);
    if (!rule) return std::nullopt;
    if (*rule == ExitRule::SecondaryNameServer && checks_ == ProfileChecks::FieldRulesNamedOnly &&
        !result_.named[std::size_t(F::main_dns)])
      return std::nullopt;
    const FieldCheck c =
        CheckExitRule(*rule, ProfileValueText(r, f), ProfileValueText(r, F::main_dns));
    if (c.accepted()) return std::nullopt;
    if (*rule == ExitRule::SecondaryNameServer && ProfileValueText(r, F::main_dns) == "0.0.0.0")
      return "allowed " + c.allowed + " while main_dns is 0.0.0.0";
    return "allowed " + c.allowed;
  }

  struct Where {
    const ProfileSource* src = nullptr;
    int line = 0;
    std::string name, value;
  };

  void Error(const ProfileSource& src, int line, std::string name, std::string value,
             std::string reason) {
    result_.errors.push_back(
        {src.name, line, std::move(name), std::move(value), std::move(reason)});
    sourceOf_.push_back(&src - sources_.data());
  }

  void Set(const ProfileSource& src, int line, F f, const std::string& name,
           std::string_view value) {
    const std::size_t i = std::size_t(f);
    where_[i] = {&src, line, name, std::string(value)};
    result_.named.set(i);
    failed_.reset(i);
    if (auto problem = Store(f, value)) {
      failed_.set(i);
      Error(src, line, name, std::string(value), *problem);
    }
  }

  // Stores value into the field; the reason when it cannot.
  std::optional<std::string> Store(F f, std::string_view value) {
    const Kind kind = KindOf(f);
    const auto words = WordsOf(f);
    const AppFieldInfo& info = FieldInfo(f);
    const bool rules = checks_ != ProfileChecks::RecordOnly;
    switch (kind) {
    case Kind::Number: {
      const auto v = ParseDecimal(value);
      if (!v) return "not a whole number: allowed " + AllowedText(f);
      if (info.size < 4 && *v >> (8 * info.size))
        return "too large for the record: allowed " + RecordRange(f);
      result_.record.Set(f, *v);
      return std::nullopt;
    }
    case Kind::List:
    case Kind::Flag: {
      for (std::size_t k = 0; k < words.size(); ++k)
        if (SameWord(value, words[k])) {
          result_.record.Set(f, std::uint32_t(k));
          return std::nullopt;
        }
      const auto v = ParseDecimal(value);
      if (!v || (rules && *v >= words.size())) return "allowed " + AllowedText(f);
      if (*v > 0xFF) return "too large for the record: allowed " + AllowedText(f) + " or 0~255";
      result_.record.Set(f, *v);
      return std::nullopt;
    }
    case Kind::Address: {
      const FieldCheck c = CheckStorable(f, value);
      if (!c.accepted()) return "not an IPv4 address: allowed " + c.allowed;
      result_.record.Set(f, Ipv4FromText(std::string(value)));
      return std::nullopt;
    }
    case Kind::Packet: {
      const auto bytes = ParseHexBytes(value);
      if (!bytes) return "not hex bytes (pairs of 0-9 A-F, blanks between)";
      if (bytes->size() > info.size)
        return std::to_string(bytes->size()) + " bytes: the packet holds at most " +
               std::to_string(info.size);
      result_.record.SetText(f, *bytes);
      givenBytes_[std::size_t(f)] = bytes->size();
      return std::nullopt;
    }
    case Kind::Text: {
      std::string bytes;
      rawText_.reset(std::size_t(f));
      if (value.size() >= 4 && SameWord(value.substr(0, 4), "hex:")) {
        const auto parsed = ParseHexBytes(value.substr(4));
        if (!parsed) return "not hex bytes after hex:";
        bytes = *parsed;
        rawText_.set(std::size_t(f));
      } else if (CheckStorable(f, value).accepted()) {
        bytes = *DeviceTextFromUtf8Checked(value);
      } else {
        const auto converted = DeviceTextFromUtf8Checked(value);
        if (!converted) return "has characters GBK cannot hold";
        bytes = *converted;
      }
      if (bytes.size() > info.size)
        return "too long: " + std::to_string(bytes.size()) + " GBK bytes, allowed " +
               CheckStorable(f, {}).allowed;
      result_.record.SetText(f, bytes);
      return std::nullopt;
    }
    }
    return std::nullopt;
  }

  std::span<const ProfileSource> sources_;
  ProfileChecks checks_;
  ProfileResult result_;
  std::vector<std::ptrdiff_t> sourceOf_; // per error: index of its source
  NamedFields failed_;
  NamedFields rawText_;                                         // texts given as hex:
  std::array<std::size_t, std::size_t(F::Count)> givenBytes_{}; // packets: bytes given
  std::array<Where, std::size_t(F::Count)> where_{};
};

} // namespace

// Never fails.
std::string FormatIssue(const ProfileIssue& issue) {
  std::string out = issue.source;
  if (issue.line > 0) out += ':' + std::to_string(issue.line);
  if (!issue.name.empty()) out += ": " + issue.name;
  if (!issue.value.empty() || !issue.name.empty()) out += ": " + issue.value;
  out += ": " + issue.reason;
  return out;
}

// AppField::Count for an unknown name.
AppField FieldByName(std::string_view name) {
  for (const AppFieldInfo& info : kAppFields)
    if (SameWord(name, info.name)) return info.id;
  return AppField::Count;
}

ProfileResult ApplyProfiles(const TAppParams& base, std::span<const ProfileSource> sources,
                            ProfileChecks checks) {
  Applier applier(base, sources, checks);
  for (const ProfileSource& src : sources) applier.Apply(src);
  return applier.Finish();
}

// Empty for a value outside the enum.
std::string ProfileValueText(const TAppParams& record, AppField field) {
  if (std::size_t(field) >= std::size_t(AppField::Count)) return {};
  return ValueOf(record, field).text;
}

// Never fails.
std::string WriteProfile(const TAppParams& record) {
  std::string out =
      "; K7v DTU parameter profile (UTF-8). Lines are `name = value`; lines starting with ';' are\n"
      "; comments. A profile may name only some fields: the others keep the unit's values.\n"
      "[params]\n";
  for (const ProfileField& row : kProfileFields) {
    const WrittenValue v = ValueOf(record, row.id);
    out += "\n; ";
    out += row.where;
    out += " · ";
    out += AllowedText(row.id);
    out += '\n';
    if (v.note) out += std::string("; ") + v.note + '\n';
    out += FieldInfo(row.id).name;
    out += " = ";
    out += Quoted(v.text);
    out += '\n';
  }
  return out;
}

// Empty when the records are byte for byte the same.
std::vector<FieldDifference> CompareRecords(const TAppParams& a, const TAppParams& b) {
  std::vector<FieldDifference> out;
  for (const AppFieldInfo& info : kAppFields) {
    const auto fa = a.FieldBytes(info.id), fb = b.FieldBytes(info.id);
    if (!std::equal(fa.begin(), fa.end(), fb.begin(), fb.end()))
      out.push_back({info.id, ProfileValueText(a, info.id), ProfileValueText(b, info.id)});
  }
  return out;
}
