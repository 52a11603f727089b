#pragma once
// What the core checks share: a row is a named check that passes or fails.

#include <cstdint>
#include <functional>
#include <vector>

#include "link/device_frame.h"

using Bytes = std::vector<std::uint8_t>;
struct Row {
  const char* name;
  std::function<bool()> check;
};
inline Bytes Frame(std::uint8_t command, const Bytes& payload) {
  Bytes out(payload.size() + 6);
  out.resize(BuildFrame(command, payload, out));
  return out;
}
std::vector<Row> EngineRows(); // the protocol engine's rows (engine_checks.cpp)
// The conformance table's image and switch command cases (conformance_checks.cpp).
std::vector<Row> ConformanceRows();
