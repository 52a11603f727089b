#pragma once
// The platform's own error numbers, for messages that show the technician the
// code the operating system gave (errno on POSIX, GetLastError on Windows).

// The calling thread's last system error number; 0 when none is recorded.
int LastSystemError();

// The platform's code for "invalid argument" (EINVAL / ERROR_INVALID_PARAMETER),
// used when a request is refused before it reaches the system. Never fails.
int InvalidParameterError();
