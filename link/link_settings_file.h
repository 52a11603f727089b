#pragma once
// parcfg.ini, the PC side of the link between runs: section [serial], the
// lists' positions as the link settings dialog orders them (not the values),
// and the switch command as text. The window's dialog and the command line
// read the same keys with the same defaults.

#include <array>

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

// What each list position stands for.
inline constexpr std::array kBaudRates = {115200, 57600, 38400, 19200, 9600,
                                          4800,   2400,  1200,  600,   300};
inline constexpr std::array kDataBits = {8, 7};
inline constexpr int kStopBitsPositions = 2; // "2", "1"
inline constexpr int kStopBitsOne = 1;       // the list holds "2" before "1"
inline constexpr int kParityPositions = 3;   // none, odd, even

// Used for a missing file or key.
inline constexpr const char* kDefaultPort = "COM1";
inline constexpr int kDefaultBaudIndex = 0;     // 115200
inline constexpr int kDefaultDataBitsIndex = 0; // 8
inline constexpr int kDefaultStopBitsIndex = kStopBitsOne;
inline constexpr int kDefaultParityIndex = 0; // none
inline constexpr const char* kDefaultSwitch = "######";

} // namespace parcfg
