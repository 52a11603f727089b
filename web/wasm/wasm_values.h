#pragma once
// Conversions between the core's types and JavaScript values, shared by the
// module's bindings: bytes are Uint8Array both ways (always a copy, never a
// view of the module's memory, which moves when it grows).

#include <emscripten/val.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "params/app_params.h"
#include "params/param_profile.h"

namespace wasm_values {

using emscripten::val;

// The bytes of an array-like value; empty for undefined or null.
inline std::vector<std::uint8_t> BytesFrom(const val& v) {
  if (v.isUndefined() || v.isNull()) return {};
  return emscripten::convertJSArrayToNumberVector<std::uint8_t>(v);
}

inline val BytesTo(std::span<const std::uint8_t> bytes) {
  // new Uint8Array(view) copies, so the result outlives a growth of the heap.
  return val::global("Uint8Array")
      .new_(val(emscripten::typed_memory_view(bytes.size(), bytes.data())));
}

inline val BytesTo(std::string_view bytes) {
  return BytesTo(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

// A record from 693 bytes; shorter input leaves the rest zero, as a parameter
// file does.
inline TAppParams RecordFrom(const val& bytes) { return TAppParams::FromBytes(BytesFrom(bytes)); }

// A property that should be a string; empty when it is anything else.
inline std::string StringOf(const val& v) {
  return v.isString() ? v.as<std::string>() : std::string();
}

// True for a JavaScript object (arrays included), false for null and the rest.
inline bool IsObject(const val& v) {
  return !v.isNull() && v.typeOf().as<std::string>() == "object";
}

// The length of an array given by the page; 0 for anything that is not one.
inline unsigned LengthOf(const val& v) {
  return val::global("Array").call<bool>("isArray", v) ? v["length"].as<unsigned>() : 0;
}

// [{source, line, name, value, reason, message}], as a profile's issues are shown.
inline val IssuesTo(const std::vector<ProfileIssue>& issues) {
  val out = val::array();
  for (const ProfileIssue& issue : issues) {
    val e = val::object();
    e.set("source", issue.source);
    e.set("line", issue.line);
    e.set("name", issue.name);
    e.set("value", issue.value);
    e.set("reason", issue.reason);
    e.set("message", FormatIssue(issue));
    out.call<void>("push", e);
  }
  return out;
}

} // namespace wasm_values
