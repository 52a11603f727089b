// The protocol engine (link/protocol_engine.h) for the page: web/js/session.js
// drives it with the page's wire and clock. Steps become plain objects
// {send: [{frame, piece, progress}], finished, reason, deadline, notes};
// reasons are SessionReason's names in lower camel case. Times are the page's
// milliseconds (performance.now()), taken whole.

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "firmware/firmware_image.h"
#include "firmware/image_check.h"
#include "link/link_constants.h"
#include "link/protocol_engine.h"
#include "platform/code_page_936.h"
#include "web/wasm/wasm_values.h"

using emscripten::val;

namespace {

struct ReasonName {
  SessionReason reason;
  const char* name;
};
constexpr ReasonName kReasonNames[] = {
    {SessionReason::Ok, "ok"},
    {SessionReason::NoAnswer, "noAnswer"},
    {SessionReason::IncompleteAnswer, "incompleteAnswer"},
    {SessionReason::Refused, "refused"},
    {SessionReason::LinkLost, "linkLost"},
    {SessionReason::Cancelled, "cancelled"},
    {SessionReason::PortError, "portError"},
    {SessionReason::SettingsRefused, "settingsRefused"},
    {SessionReason::StoppedAsking, "stoppedAsking"},
    {SessionReason::RepeatedPiece, "repeatedPiece"},
    {SessionReason::WriteFailed, "writeFailed"},
    {SessionReason::NotOpen, "notOpen"},
};

std::string NameOf(SessionReason reason) {
  for (const ReasonName& r : kReasonNames)
    if (r.reason == reason) return r.name;
  return "unknown";
}

// An unknown name is the page's own failure to keep going: the wire would not take a frame.
SessionReason ReasonOf(const std::string& name) {
  for (const ReasonName& r : kReasonNames)
    if (name == r.name) return r.reason;
  return SessionReason::WriteFailed;
}

ProtocolEngine::Millis Millis(double now) {
  return std::isfinite(now) ? ProtocolEngine::Millis(std::floor(now)) : 0;
}

val ProgressOf(const DownloadProgress& p) {
  val out = val::object();
  out.set("offset", p.offset);
  out.set("count", p.count);
  out.set("reached", double(p.reached));
  out.set("total", p.total);
  return out;
}

val StepOf(const EngineStep& step) {
  val send = val::array();
  for (const EngineSend& s : step.send) {
    val item = val::object();
    item.set("frame", wasm_values::BytesTo(s.frame));
    item.set("piece", s.piece);
    item.set("progress", ProgressOf(s.progress));
    send.call<void>("push", item);
  }
  val notes = val::array();
  for (const std::string& note : step.notes) notes.call<void>("push", note);
  val out = val::object();
  out.set("send", send);
  out.set("finished", step.finished);
  out.set("reason", NameOf(step.reason));
  out.set("deadline", double(step.deadline));
  out.set("notes", notes);
  return out;
}

// A number property in milliseconds, or the fallback when it is missing.
std::chrono::milliseconds MillisOf(const val& v, std::chrono::milliseconds fallback) {
  return v.isNumber() ? std::chrono::milliseconds(std::int64_t(v.as<double>())) : fallback;
}

class EngineBinding {
public:
  EngineBinding() = default;
  // timings: {connect, params, downloadStall, repeatLimit}, each optional;
  // the tests give short ones.
  explicit EngineBinding(const val& timings) {
    if (!wasm_values::IsObject(timings)) return;
    SessionTimings t;
    t.connect = MillisOf(timings["connect"], t.connect);
    t.params = MillisOf(timings["params"], t.params);
    t.downloadStall = MillisOf(timings["downloadStall"], t.downloadStall);
    if (timings["repeatLimit"].isNumber()) t.repeatLimit = timings["repeatLimit"].as<unsigned>();
    engine_.SetTimings(t);
  }

  val startEnter(const val& switchCommand, double now) {
    return StepOf(engine_.StartEnter(wasm_values::BytesFrom(switchCommand), Millis(now)));
  }
  val startReadParams(double now) { return StepOf(engine_.StartReadParams(Millis(now))); }
  val startReadSysInfo(double now) { return StepOf(engine_.StartReadSysInfo(Millis(now))); }
  val startWriteParams(const val& record, double now) {
    return StepOf(engine_.StartWriteParams(wasm_values::RecordFrom(record), Millis(now)));
  }
  // image: {body, length, name, version, checksum}, as downloadImage() gives it.
  val startDownload(const val& image, double now) {
    const std::vector<std::uint8_t> body = wasm_values::BytesFrom(image["body"]);
    const std::vector<std::uint8_t> name = wasm_values::BytesFrom(image["name"]);
    const std::vector<std::uint8_t> version = wasm_values::BytesFrom(image["version"]);
    DownloadImage d;
    d.body = body;
    d.length = image["length"].isNumber() ? image["length"].as<std::int32_t>() : 0;
    d.name.assign(name.begin(), name.end());
    d.version.assign(version.begin(), version.end());
    d.checksum = image["checksum"].isNumber() ? image["checksum"].as<std::uint16_t>() : 0;
    return StepOf(engine_.StartDownload(d, Millis(now)));
  }
  val onBytes(const val& bytes, double now) {
    return StepOf(engine_.OnBytes(wasm_values::BytesFrom(bytes), Millis(now)));
  }
  val onTime(double now) { return StepOf(engine_.OnTime(Millis(now))); }
  val end(const std::string& reason) { return StepOf(engine_.End(ReasonOf(reason))); }
  val leave() const { return StepOf(ProtocolEngine::Leave()); }
  bool waiting() const { return engine_.Waiting(); }

  std::string version() const { return cp936::ToUtf8(engine_.version()).utf8; }
  val params() const { return wasm_values::BytesTo(engine_.params().bytes()); }
  // The product information's texts, decoded from the unit's code page.
  val sysInfo() const {
    const TSysInfo& info = engine_.sysInfo();
    val out = val::object();
    out.set("product_type", cp936::ToUtf8(info.product_type).utf8);
    out.set("product_model", cp936::ToUtf8(info.product_model).utf8);
    out.set("serial_type", cp936::ToUtf8(info.serial_type).utf8);
    out.set("sn", cp936::ToUtf8(info.sn).utf8);
    return out;
  }

private:
  ProtocolEngine engine_;
};

// A firmware file as the firmware page takes it: what the page shows and
// what the download announces. fileName is the chosen file's name; the start
// frame carries it without its extension, cut to 13 bytes of the unit's code
// page (never inside a character). error: '' or the refusal's message key
// (bin_no_body, bin_too_large, bin_param_record, ...), its values in args and
// its English words in reason.
val DownloadImageOf(const val& file, const std::string& fileName) {
  const std::vector<std::uint8_t> bytes = wasm_values::BytesFrom(file);
  const ImageVerdict verdict = CheckFirmwareImage(bytes);
  val out = val::object();
  out.set("error", verdict.key);
  val args = val::array();
  for (const std::string& a : verdict.args) args.call<void>("push", a);
  out.set("args", args);
  out.set("reason", verdict.text);
  out.set("fileLength", double(bytes.size()));
  if (!verdict.accepted()) return out;
  const ImageDescriptor& d = verdict.descriptor;
  const std::string bare = BareImageName(fileName);
  const cp936::Encoded name = cp936::FromUtf8(bare, k7v::kDownloadNameSize);
  out.set("bareName", bare);
  out.set("name", wasm_values::BytesTo(name.bytes));
  out.set("nameCut", name.cut);
  out.set("deviceName", cp936::ToUtf8(name.bytes).utf8);
  out.set("version", wasm_values::BytesTo(d.version));
  out.set("versionText", cp936::ToUtf8(d.version).utf8);
  out.set("length", d.length);
  out.set("checksum", d.checksum);
  out.set("body", wasm_values::BytesTo(std::span(bytes).subspan(k7v::kImageVersionSize)));
  return out;
}

} // namespace

EMSCRIPTEN_BINDINGS(k7v_engine) {
  using namespace emscripten;
  class_<EngineBinding>("ProtocolEngine")
      .constructor<>()
      .constructor<const val&>()
      .function("startEnter", &EngineBinding::startEnter)
      .function("startReadParams", &EngineBinding::startReadParams)
      .function("startReadSysInfo", &EngineBinding::startReadSysInfo)
      .function("startWriteParams", &EngineBinding::startWriteParams)
      .function("startDownload", &EngineBinding::startDownload)
      .function("onBytes", &EngineBinding::onBytes)
      .function("onTime", &EngineBinding::onTime)
      .function("end", &EngineBinding::end)
      .function("leave", &EngineBinding::leave)
      .function("waiting", &EngineBinding::waiting)
      .function("version", &EngineBinding::version)
      .function("params", &EngineBinding::params)
      .function("sysInfo", &EngineBinding::sysInfo);
  function("downloadImage", &DownloadImageOf);
}
