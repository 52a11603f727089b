#pragma once
// The PC side of the link as every front end keeps it: the switch command's
// rules and how parcfg.ini's keys become the dialog's choices. The window's
// link settings dialog, the browser page's dialog and the command line all
// take them from here (link_settings_file.h has the keys, lists and
// defaults). Plain C++.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/link_settings_file.h"

// What a switch command is worth before a connect.
struct SwitchCommandCheck {
  // "" when it may be used; else why not, as a message key: switchchr_blank
  // (a blank at either end, which parcfg.ini would drop), switchchr_quoted
  // (in quotes, which parcfg.ini would drop), switchchr_code_page (a
  // character the unit's code page lacks, which would go as '?').
  std::string key;
  std::string text;  // the reason in English, as caption-en.ini words it (the command line's)
  std::string bytes; // what the unit is sent: GBK, at most 6 bytes, never half a character
  std::string sent;  // those bytes as text: what the status bar shows
  bool cut = false;  // longer than six bytes: only its start is sent
};

// The command as typed or read from parcfg.ini (UTF-8). Never fails.
SwitchCommandCheck CheckSwitchCommand(std::string_view utf8);

// True when typing may turn the command into typed (UTF-8): at most six
// bytes in the unit's code page, a Chinese character taking two, or no more
// than the command set from parcfg.ini had, which typing may shorten but not
// lengthen. Never fails.
bool SwitchCommandTypingFits(std::string_view typed, std::string_view set);

// parcfg.ini's [serial] keys as the dialog takes them.
struct LinkSettingsRead {
  std::string port;  // "com", blanks dropped; empty when missing or blank
  int baudIndex = 0; // positions in the dialog's lists; -1: no selection
  int dataBitsIndex = 0;
  int stopBitsIndex = 0;
  int parityIndex = 0;
  std::string switchCommand; // "conf"
  // A list key whose value could not be used: not a whole number (its
  // default is taken, as for a missing key) or a position outside the list
  // (the list is left without a selection).
  struct Unusable {
    std::string key, raw;
  };
  std::vector<Unusable> unusable;
};

// The value of a key of section [serial] as the file holds it (blanks and
// one pair of quotes dropped, as the Windows profile functions do), nullopt
// when the key is missing.
using ParcfgLookup = std::function<std::optional<std::string>(std::string_view key)>;

// The settings from the file's values; the defaults for what is missing.
// Never fails.
LinkSettingsRead ReadLinkSettings(const ParcfgLookup& find);
