#include "sim/sim_log.h"

SimLog::~SimLog() {
  if (file_) std::fclose(file_);
}

bool SimLog::Open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "a");
  return file_ != nullptr;
}

void SimLog::Bytes(const char* tag, std::span<const std::uint8_t> bytes) {
  if (!file_) return;
  static const char kHex[] = "0123456789ABCDEF";
  std::string line(tag);
  line.reserve(line.size() + bytes.size() * 3 + 1);
  for (std::uint8_t b : bytes) {
    line += ' ';
    line += kHex[b >> 4];
    line += kHex[b & 0x0F];
  }
  line += '\n';
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

void SimLog::Event(const std::string& text) {
  if (!file_) return;
  std::fprintf(file_, "EV %s\n", text.c_str());
  std::fflush(file_);
}
