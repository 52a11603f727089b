#pragma once
// Reads back the framing a serial device actually uses. Asking for a setting
// is not enough: POSIX tcsetattr reports success when any part of a request
// took hold, and some devices (a Linux pseudo-terminal, many USB adapters)
// silently keep their own parity or character size.

#include <cstdint>
#include <optional>

struct LineFraming {
  int dataBits = 8; // 5..8
  bool twoStopBits = false;
  enum class Parity {
    None,
    Odd,
    Even,
    Other
  } parity = Parity::None;
};

// The framing of the open device behind handle (a file descriptor on POSIX,
// a HANDLE on Windows); nullopt when the device state cannot be read.
std::optional<LineFraming> ReadLineFraming(std::intptr_t handle);
