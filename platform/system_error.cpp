#include "platform/system_error.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Returns 0 when the thread has no recorded error.
int LastSystemError()
{
  return static_cast<int>(::GetLastError());
}

// Never fails.
int InvalidParameterError()
{
  return ERROR_INVALID_PARAMETER;
}

#else
#include <cerrno>

// Returns 0 when errno holds no error.
int LastSystemError()
{
  return errno;
}

// Never fails.
int InvalidParameterError()
{
  return EINVAL;
}
#endif
