#include "link/link_settings.h"

#include <algorithm>
#include <utility>

#include "link/link_constants.h"
#include "platform/code_page_936.h"
#include "platform/profile_ini.h"

namespace {

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// The reasons in English, as caption-en.ini words them.
constexpr std::pair<std::string_view, std::string_view> kEnglish[] = {
    {"switchchr_blank", "No blank at the start or end"},
    {"switchchr_quoted", "Must not be in quotes"},
    {"switchchr_code_page", "Only characters of the unit's code page (GBK)"},
};

} // namespace

// Never fails.
SwitchCommandCheck CheckSwitchCommand(std::string_view utf8) {
  SwitchCommandCheck check;
  const cp936::Encoded e = cp936::FromUtf8(utf8, k7v::kSwitchCommandLength);
  check.bytes = e.bytes;
  check.cut = e.cut;
  check.sent = cp936::ToUtf8(e.bytes).utf8;
  if (!utf8.empty() && (Blank(utf8.front()) || Blank(utf8.back())))
    check.key = "switchchr_blank";
  else if (utf8.size() >= 2 && (utf8.front() == '"' || utf8.front() == '\'') &&
           utf8.back() == utf8.front())
    check.key = "switchchr_quoted";
  else if (!cp936::FromUtf8(utf8).clean)
    check.key = "switchchr_code_page";
  for (const auto& [key, text] : kEnglish)
    if (key == check.key) check.text = text;
  return check;
}

// Never fails.
bool SwitchCommandTypingFits(std::string_view typed, std::string_view set) {
  const std::size_t limit = std::max(k7v::kSwitchCommandLength, cp936::ByteLength(set));
  return cp936::ByteLength(typed) <= limit;
}

// Never fails.
LinkSettingsRead ReadLinkSettings(const ParcfgLookup& find) {
  using namespace parcfg;
  LinkSettingsRead r;
  if (const auto port = find(kKeyCom)) {
    std::string_view p = *port;
    while (!p.empty() && Blank(p.front())) p.remove_prefix(1);
    while (!p.empty() && Blank(p.back())) p.remove_suffix(1);
    r.port = std::string(p);
  }
  const auto list = [&](const char* key, int positions, int def) {
    const std::optional<std::string> raw = find(key);
    if (!raw) return def;
    const std::optional<int> index = ProfileIni::ParseInt(*raw);
    if (!index || *index < 0 || *index >= positions) r.unusable.push_back({key, *raw});
    if (!index) return def;
    return *index >= 0 && *index < positions ? *index : -1;
  };
  r.baudIndex = list(kKeyBaud, int(kBaudRates.size()), kDefaultBaudIndex);
  r.dataBitsIndex = list(kKeyDataBits, int(kDataBits.size()), kDefaultDataBitsIndex);
  r.stopBitsIndex = list(kKeyStopBits, kStopBitsPositions, kDefaultStopBitsIndex);
  r.parityIndex = list(kKeyParity, kParityPositions, kDefaultParityIndex);
  r.switchCommand = find(kKeySwitch).value_or(kDefaultSwitch);
  return r;
}
