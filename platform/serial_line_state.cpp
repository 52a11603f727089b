#include "platform/serial_line_state.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Returns nullopt when GetCommState fails.
std::optional<LineFraming> ReadLineFraming(std::intptr_t handle) {
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (!::GetCommState(reinterpret_cast<HANDLE>(handle), &dcb)) return std::nullopt;

  LineFraming framing;
  framing.dataBits = dcb.ByteSize;
  framing.twoStopBits = dcb.StopBits == TWOSTOPBITS;
  switch (dcb.Parity) {
  case NOPARITY:
    framing.parity = LineFraming::Parity::None;
    break;
  case ODDPARITY:
    framing.parity = LineFraming::Parity::Odd;
    break;
  case EVENPARITY:
    framing.parity = LineFraming::Parity::Even;
    break;
  default:
    framing.parity = LineFraming::Parity::Other;
    break;
  }
  return framing;
}

#else
#include <termios.h>

// Returns nullopt when tcgetattr fails.
std::optional<LineFraming> ReadLineFraming(std::intptr_t handle) {
  termios tio{};
  if (::tcgetattr(static_cast<int>(handle), &tio) != 0) return std::nullopt;

  LineFraming framing;
  switch (tio.c_cflag & CSIZE) {
  case CS5:
    framing.dataBits = 5;
    break;
  case CS6:
    framing.dataBits = 6;
    break;
  case CS7:
    framing.dataBits = 7;
    break;
  default:
    framing.dataBits = 8;
    break;
  }
  framing.twoStopBits = (tio.c_cflag & CSTOPB) != 0;
  if ((tio.c_cflag & PARENB) == 0) framing.parity = LineFraming::Parity::None;
#ifdef CMSPAR
  else if ((tio.c_cflag & CMSPAR) != 0)
    framing.parity = LineFraming::Parity::Other; // mark or space
#endif
  else if ((tio.c_cflag & PARODD) != 0)
    framing.parity = LineFraming::Parity::Odd;
  else
    framing.parity = LineFraming::Parity::Even;
  return framing;
}
#endif
