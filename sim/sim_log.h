#pragma once
// Line log of everything the simulated DTU receives and sends, for tests that
// check exact bytes. Every line is flushed at once so a reader sees it while
// the simulator runs.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

class SimLog {
public:
  SimLog() = default;
  SimLog(const SimLog&) = delete;
  SimLog& operator=(const SimLog&) = delete;
  ~SimLog();

  // Opens path for appending; false when it cannot be opened. Without a
  // successful Open every call below does nothing.
  bool Open(const std::string& path);

  // "<tag> AA 02 06 00 B2 BB"
  void Bytes(const char* tag, std::span<const std::uint8_t> bytes);
  // "EV <text>"
  void Event(const std::string& text);

private:
  std::FILE* file_ = nullptr;
};
