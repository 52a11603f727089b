#pragma once
// parcfg.ini, the PC side of the link between runs: section [serial], the
// lists' positions as the link settings dialog orders them (not the values),
// and the switch command as text. The window's dialog and the command line
// read the same keys with the same defaults.

#include <array>

#include "params/field_model.h"

namespace parcfg {

inline constexpr const char* kFileName = "parcfg.ini"; // in the working directory
inline constexpr const char* kSection = "serial";

// Keys of section "serial", in the order they are read and written.
inline constexpr const char* kKeyCom = "com";
inline constexpr const char* kKeyBaud = "baudrate";
inline constexpr const char* kKeyDataBits = "databit";
inline constexpr const char* kKeyStopBits = "stopbit";
inline constexpr const char* kKeyParity = "paritybit";
inline constexpr const char* kKeySwitch = "conf";

// What each list position stands for: the speeds, data bits and parity a
// unit's serial port takes (the field model's), the stop bits reversed.
inline constexpr const auto& kBaudRates = kOfferedBaudRates;
inline constexpr const auto& kDataBits = kOfferedDataBits;
inline constexpr int kStopBitsPositions = int(kOfferedStopBits.size()); // "2", "1"
inline constexpr int kStopBitsOne = 1;                            // the list holds "2" before "1"
inline constexpr int kParityPositions = int(kParityWords.size()); // none, odd, even

// Used for a missing file or key.
inline constexpr const char* kDefaultPort = "COM1";
inline constexpr int kDefaultBaudIndex = 0;     // 115200
inline constexpr int kDefaultDataBitsIndex = 0; // 8
inline constexpr int kDefaultStopBitsIndex = kStopBitsOne;
inline constexpr int kDefaultParityIndex = 0; // none
inline constexpr const char* kDefaultSwitch = "######";

} // namespace parcfg
