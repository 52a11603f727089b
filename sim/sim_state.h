#pragma once
// What the simulated DTU keeps: its parameter record and the last image, in
// memory and, with --state, in files that survive a restart.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "params/app_params.h"

// Reads a whole file; false when it cannot be read.
bool ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& out);

// Writes a file through a temporary and a rename, so a reader never sees half
// of it; false when any step fails (the old file then stays).
bool WriteFileAtomic(const std::string& path, std::span<const std::uint8_t> bytes);

// Joins a directory and a file name.
std::string PathIn(const std::string& dir, const char* name);
