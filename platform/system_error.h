#pragma once
// The platform's own error numbers, for messages that show the technician the
// code the operating system gave (errno on POSIX, GetLastError on Windows).

// The calling thread's last system error number; 0 when none is recorded.
int LastSystemError();

// The platform's code for "invalid argument" (EINVAL / ERROR_INVALID_PARAMETER),
// used when a request is refused before it reaches the system. Never fails.
int InvalidParameterError();

#include <string>

// The system's own words for an error number (strerror / FormatMessage), in
// the system's language; "error N" when the system has none.
std::string SystemErrorText(int code);

// True when the code says the user lacks the right to use the object.
bool IsPermissionError(int code);

// The group a Linux user must belong to for serial ports; empty elsewhere.
std::string SerialAccessGroup();
