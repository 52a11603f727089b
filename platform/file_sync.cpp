#include "platform/file_sync.h"

#include <cerrno>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
bool Failed(int code, int* error) {
  if (error) *error = code;
  return false;
}
} // namespace

bool SyncFileToDisk(int fd, int* error) {
#ifdef _WIN32
  const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h == INVALID_HANDLE_VALUE) return Failed(EBADF, error);
  if (!FlushFileBuffers(h)) return Failed(int(GetLastError()), error);
  return true;
#else
  while (::fsync(fd) != 0)
    if (errno != EINTR) return Failed(errno, error);
  return true;
#endif
}

bool SyncDirectoryToDisk(const std::string& path, int* error) {
#ifdef _WIN32
  (void)path;
  (void)error;
  return true;
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Failed(errno, error);
  const bool ok = SyncFileToDisk(fd, error);
  ::close(fd);
  return ok;
#endif
}
