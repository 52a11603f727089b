// The core for the browser page, bound with embind: the parameter record and
// profiles, the factory set, code page 936, caption files,
// the link settings' lists and the demo unit. This file only converts between
// the core's types and JavaScript values; web/js/core.js wraps it with the
// types the page checks (JSDoc) and is the one place the page reaches it from.
//
// Conventions: bytes are Uint8Array both ways (always a copy, never a view of
// the module's memory), texts are JavaScript strings (UTF-8 here), results
// are plain objects. Nothing here throws; a refusal is part of the result.

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "k7v_build_info.h"
#include "link/link_constants.h"
#include "link/link_settings.h"
#include "params/app_params.h"
#include "params/factory_set.h"
#include "params/param_profile.h"
#include "platform/code_page_936.h"
#include "platform/profile_ini.h"
#include "sim/sim_options.h"
#include "web/wasm/demo_unit.h"
#include "web/wasm/wasm_values.h"

using emscripten::val;

namespace {

using wasm_values::BytesFrom;
using wasm_values::BytesTo;
using wasm_values::LengthOf;
using wasm_values::RecordFrom;
using wasm_values::StringOf;

template <typename T>
val ArrayOf(const std::vector<T>& items) {
  val out = val::array();
  for (const T& item : items) out.call<void>("push", item);
  return out;
}

// ---------------------------------------------------------------- record and profiles

val FactoryRecord() { return BytesTo(FactoryParams().bytes()); }

val RecordFieldNames() {
  val out = val::array();
  for (const AppFieldInfo& info : kAppFields) out.call<void>("push", std::string(info.name));
  return out;
}

// Every field's value as a profile writes it, by field name.
val RecordValues(const val& bytes) {
  const TAppParams record = RecordFrom(bytes);
  val out = val::object();
  for (const AppFieldInfo& info : kAppFields) out.set(info.name, ProfileValueText(record, info.id));
  return out;
}

ProfileChecks ChecksFrom(const std::string& name) {
  if (name == "record") return ProfileChecks::RecordOnly;
  if (name == "named") return ProfileChecks::FieldRulesNamedOnly;
  return ProfileChecks::FieldRules;
}

// sources: [{name, text, assignment}]; checks: "rules" | "named" | "record".
val ApplyProfile(const val& base, const val& sources, const std::string& checks) {
  std::vector<ProfileSource> list;
  const unsigned n = LengthOf(sources);
  for (unsigned i = 0; i < n; ++i) {
    const val s = sources[i];
    ProfileSource source;
    source.name = s["name"].isString() ? s["name"].as<std::string>() : std::string("profile");
    source.text = StringOf(s["text"]);
    source.assignment = s["assignment"].isTrue();
    list.push_back(std::move(source));
  }
  const ProfileResult result = ApplyProfiles(RecordFrom(base), list, ChecksFrom(checks));
  val out = val::object();
  out.set("record", BytesTo(result.record.bytes()));
  val named = val::array();
  for (const AppFieldInfo& info : kAppFields)
    if (result.named.test(std::size_t(info.id))) named.call<void>("push", std::string(info.name));
  out.set("named", named);
  out.set("errors", wasm_values::IssuesTo(result.errors));
  return out;
}

std::string WriteProfileOf(const val& bytes) { return WriteProfile(RecordFrom(bytes)); }

val CompareRecordsOf(const val& a, const val& b) {
  val out = val::array();
  for (const FieldDifference& d : CompareRecords(RecordFrom(a), RecordFrom(b))) {
    val e = val::object();
    e.set("name", std::string(FieldInfo(d.field).name));
    e.set("a", d.a);
    e.set("b", d.b);
    out.call<void>("push", e);
  }
  return out;
}

// ---------------------------------------------------------------- code page 936

// maxBytes < 0: no limit.
val GbkEncode(const std::string& text, int maxBytes) {
  const cp936::Encoded e =
      cp936::FromUtf8(text, maxBytes < 0 ? std::string::npos : std::size_t(maxBytes));
  val out = val::object();
  out.set("bytes", BytesTo(e.bytes));
  out.set("clean", e.clean);
  out.set("cut", e.cut);
  return out;
}

val GbkDecode(const val& bytes) {
  const std::vector<std::uint8_t> raw = BytesFrom(bytes);
  const cp936::Decoded d =
      cp936::ToUtf8(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
  val out = val::object();
  out.set("text", d.utf8);
  out.set("clean", d.clean);
  return out;
}

double GbkLength(const std::string& text) { return double(cp936::ByteLength(text)); }

// ---------------------------------------------------------------- caption files

// A caption file as the window reads it: UTF-8, GBK, UTF-16, or UTF-8 with a
// few GBK lines, names matched without regard to case, one pair of quotes dropped.
class CaptionFile {
public:
  explicit CaptionFile(const val& bytes) {
    const std::vector<std::uint8_t> raw = BytesFrom(bytes);
    ini_ = ProfileIni::FromFileBytes(std::string(raw.begin(), raw.end()));
  }
  // The text of a key, or null when the section or key is missing.
  val text(const std::string& section, const std::string& key) const {
    const std::optional<std::string> value = ini_.Find(section, key);
    if (!value) return val::null();
    if (ini_.encoding() != IniEncoding::Ansi && IsValidUtf8(*value)) return val(*value);
    return val(cp936::ToUtf8(*value).utf8);
  }

private:
  ProfileIni ini_;
};

// ---------------------------------------------------------------- link settings

val LinkSettingsFacts() {
  val out = val::object();
  out.set("baudRates",
          ArrayOf(std::vector<int>(parcfg::kBaudRates.begin(), parcfg::kBaudRates.end())));
  out.set("dataBits",
          ArrayOf(std::vector<int>(parcfg::kDataBits.begin(), parcfg::kDataBits.end())));
  out.set("defaultBaudRate", parcfg::kBaudRates[parcfg::kDefaultBaudIndex]);
  out.set("defaultDataBits", parcfg::kDataBits[parcfg::kDefaultDataBitsIndex]);
  out.set("defaultSwitch", std::string(parcfg::kDefaultSwitch));
  out.set("switchLength", unsigned(k7v::kSwitchCommandLength));
  out.set("returnAfterDownloadMs",
          double(std::chrono::milliseconds(k7v::kReturnAfterDownload).count()));
  return out;
}

// The switch command as the core judges it (link/link_settings.h): key '' or
// the reason's message key, bytes what the unit is sent, sent those bytes as
// text (the status bar's), cut when the command is longer than the unit takes.
val CheckSwitchCommandOf(const std::string& text) {
  const SwitchCommandCheck check = CheckSwitchCommand(text);
  val out = val::object();
  out.set("key", check.key);
  out.set("bytes", wasm_values::BytesTo(check.bytes));
  out.set("sent", check.sent);
  out.set("cut", check.cut);
  return out;
}

bool SwitchCommandTypingFitsOf(const std::string& typed, const std::string& set) {
  return SwitchCommandTypingFits(typed, set);
}

// ---------------------------------------------------------------- demo unit

// dtu-sim inside the page. args are dtu-sim's own options (for example
// ["--pace", "--refuse-writes"]); record is the unit's start record, the
// factory set when null. error() says why the options were refused.
class DemoUnitBinding {
public:
  DemoUnitBinding(const val& args, const val& record) {
    std::vector<std::string> words = {"dtu-sim"};
    const unsigned n = LengthOf(args);
    for (unsigned i = 0; i < n; ++i) words.push_back(StringOf(args[i]));
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    SimOptions options;
    if (!ParseSimOptions(int(argv.size()), argv.data(), options, error_)) return;
    const TAppParams start =
        record.isUndefined() || record.isNull() ? FactoryParams() : RecordFrom(record);
    unit_ = std::make_unique<DemoUnit>(options, start);
    if (!unit_->ok()) {
      error_ = "no output channel";
      unit_.reset();
    }
  }

  std::string error() const { return error_; }
  void write(const val& bytes, double nowMs) {
    if (unit_) unit_->Write(BytesFrom(bytes), nowMs);
  }
  void tick(double nowMs) {
    if (unit_) unit_->Tick(nowMs);
  }
  val take() { return BytesTo(unit_ ? unit_->Take() : std::vector<std::uint8_t>()); }
  double nextDeadline() const { return unit_ ? unit_->NextDeadlineMs() : -1; }
  val record() const { return unit_ ? BytesTo(unit_->record().bytes()) : val::null(); }
  bool inConfigMode() const { return unit_ && unit_->InConfigMode(); }
  bool downloadRunning() const { return unit_ && unit_->DownloadRunning(); }
  bool unplugged() const { return unit_ && unit_->Unplugged(); }

private:
  std::string error_;
  std::unique_ptr<DemoUnit> unit_;
};

} // namespace

EMSCRIPTEN_BINDINGS(k7v_core) {
  using namespace emscripten;
  constant("version", std::string(K7V_VERSION));
  constant("recordSize", unsigned(TAppParams::kSize));
  constant("largestImageBody", unsigned(k7v::kFirmwareImageSize));
  constant("imageVersionSize", unsigned(k7v::kImageVersionSize));

  function("factoryRecord", &FactoryRecord);
  function("recordFieldNames", &RecordFieldNames);
  function("recordValues", &RecordValues);
  function("applyProfile", &ApplyProfile);
  function("writeProfile", &WriteProfileOf);
  function("compareRecords", &CompareRecordsOf);

  function("gbkEncode", &GbkEncode);
  function("gbkDecode", &GbkDecode);
  function("gbkLength", &GbkLength);

  class_<CaptionFile>("CaptionFile").constructor<const val&>().function("text", &CaptionFile::text);

  function("linkSettingsFacts", &LinkSettingsFacts);
  function("checkSwitchCommand", &CheckSwitchCommandOf);
  function("switchCommandTypingFits", &SwitchCommandTypingFitsOf);

  class_<DemoUnitBinding>("DemoUnit")
      .constructor<const val&, const val&>()
      .function("error", &DemoUnitBinding::error)
      .function("write", &DemoUnitBinding::write)
      .function("tick", &DemoUnitBinding::tick)
      .function("take", &DemoUnitBinding::take)
      .function("nextDeadline", &DemoUnitBinding::nextDeadline)
      .function("record", &DemoUnitBinding::record)
      .function("inConfigMode", &DemoUnitBinding::inConfigMode)
      .function("downloadRunning", &DemoUnitBinding::downloadRunning)
      .function("unplugged", &DemoUnitBinding::unplugged);
}
