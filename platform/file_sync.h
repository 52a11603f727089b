#pragma once
// Making what was written to a file survive a crash or a power cut: the
// system's flush to the storage device behind one call on every platform.
// Plain C++; a Qt caller passes QFile::handle().

#include <string>

// Flushes the data and size of the file open as descriptor fd (a C runtime
// descriptor on Windows) to the disk. False with the system's error number in
// *error when the system could not.
bool SyncFileToDisk(int fd, int* error = nullptr);

// Flushes a directory's entries to the disk, so a file just created in it is
// still there after a power cut. True where the system keeps no such thing
// apart (Windows); false with the system's error number otherwise.
bool SyncDirectoryToDisk(const std::string& path, int* error = nullptr);
