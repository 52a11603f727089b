#include "link/protocol_engine.h"

#include <algorithm>

#include "firmware/download_frames.h"

// Never fails; an unknown value gives "unknown".
const char* SessionReasonName(SessionReason reason) {
  switch (reason) {
  case SessionReason::Ok:
    return "ok";
  case SessionReason::NoAnswer:
    return "no answer";
  case SessionReason::IncompleteAnswer:
    return "incomplete answer";
  case SessionReason::Refused:
    return "refused by the unit";
  case SessionReason::LinkLost:
    return "link lost";
  case SessionReason::Cancelled:
    return "cancelled";
  case SessionReason::PortError:
    return "port error";
  case SessionReason::SettingsRefused:
    return "settings refused";
  case SessionReason::StoppedAsking:
    return "unit stopped asking";
  case SessionReason::RepeatedPiece:
    return "same piece asked again and again";
  case SessionReason::WriteFailed:
    return "write failed";
  case SessionReason::NotOpen:
    return "port not open";
  }
  return "unknown";
}

namespace {

// The engine's kept bytes, offered to the receive parser as a port offers
// what has arrived.
class KeptBytes : public RxSource {
public:
  KeptBytes(const std::vector<std::uint8_t>& bytes, std::size_t& pos) : bytes_(bytes), pos_(pos) {}
  std::uint16_t RxBytesWaiting() override {
    return std::uint16_t(std::min<std::size_t>(bytes_.size() - pos_, 0xFFFF));
  }
  std::uint16_t ReadPort(std::uint8_t* dest, std::uint16_t n) override {
    const auto count = std::uint16_t(std::min<std::size_t>(n, bytes_.size() - pos_));
    std::copy_n(bytes_.begin() + std::ptrdiff_t(pos_), count, dest);
    pos_ += count;
    return count;
  }

private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t& pos_;
};

// A frame with no payload: the six bytes of a request.
std::vector<std::uint8_t> Request(std::uint8_t command) {
  std::vector<std::uint8_t> frame(k7v::kFrameOverhead);
  BuildFrame(command, {}, frame);
  return frame;
}

std::string Number(long long n) { return std::to_string(n); }

} // namespace

ProtocolEngine::ProtocolEngine(SessionTimings timings) : timings_(timings) { ResetRxBuffer(rx_); }

EngineStep ProtocolEngine::StartEnter(std::span<const std::uint8_t> switchCommand, Millis now) {
  // Zero bytes, which no DTU switch command contains, pad a short text, so
  // that it can never switch a unit by accident.
  std::vector<std::uint8_t> bytes(k7v::kSwitchCommandLength, 0);
  std::copy_n(switchCommand.begin(), std::min(switchCommand.size(), bytes.size()), bytes.begin());
  Forget();
  return StartAnswer(Kind::Enter, k7v::kCmdSwitchAnswer, timings_.connect, std::move(bytes), now);
}

EngineStep ProtocolEngine::StartReadParams(Millis now) {
  Forget();
  return StartAnswer(Kind::ReadParams, k7v::kCmdReadParams, timings_.params,
                     Request(k7v::kCmdReadParams), now);
}

EngineStep ProtocolEngine::StartReadSysInfo(Millis now) {
  return StartAnswer(Kind::ReadSysInfo, k7v::kCmdSysInfo, timings_.params,
                     Request(k7v::kCmdSysInfo), now);
}

EngineStep ProtocolEngine::StartWriteParams(const TAppParams& params, Millis now) {
  Forget();
  std::vector<std::uint8_t> frame(k7v::kAppParamsFrameLength);
  BuildFrame(k7v::kCmdWriteParams, params.bytes(), frame);
  return StartAnswer(Kind::WriteParams, k7v::kCmdWriteParams, timings_.params, std::move(frame),
                     now);
}

EngineStep ProtocolEngine::StartDownload(const DownloadImage& image, Millis now) {
  Forget();
  op_ = Operation{};
  op_.kind = Kind::Download;
  op_.body.assign(image.body.begin(), image.body.end());
  op_.length = image.length;
  op_.deadline = now + timings_.downloadStall.count();
  const DownloadStartFrame start =
      BuildDownloadStart(image.name, image.version, std::uint32_t(image.length), image.checksum);
  EngineStep step;
  step.send.push_back({{start.begin(), start.end()}, false, {}});
  return Run(std::move(step), now);
}

EngineStep ProtocolEngine::Leave() {
  EngineStep step;
  step.send.push_back({Request(k7v::kCmdLeaveConfig), false, {}});
  step.finished = true;
  return step;
}

EngineStep ProtocolEngine::OnBytes(std::span<const std::uint8_t> bytes, Millis now) {
  Keep(bytes);
  return Run({}, now);
}

EngineStep ProtocolEngine::OnTime(Millis now) { return Run({}, now); }

EngineStep ProtocolEngine::End(SessionReason reason) {
  EngineStep step;
  Finish(reason, step);
  return step;
}

ProtocolEngine::Operation ProtocolEngine::SetAside() {
  Operation out = std::move(op_);
  op_ = Operation{};
  return out;
}

void ProtocolEngine::TakeUp(Operation operation) { op_ = std::move(operation); }

EngineStep ProtocolEngine::StartAnswer(Kind kind, std::uint8_t answer,
                                       std::chrono::milliseconds limit,
                                       std::vector<std::uint8_t> frame, Millis now) {
  op_ = Operation{};
  op_.kind = kind;
  op_.answer = answer;
  // Over only once the limit is exceeded: an answer found at the limit counts.
  op_.deadline = now + std::max<Millis>(limit.count(), 0) + 1;
  EngineStep step;
  step.send.push_back({std::move(frame), false, {}});
  return Run(std::move(step), now);
}

// Frames already buffered are handled before the time is looked at, so a
// limit of 0 still finds an answer that is there, and a download's pending
// requests are served before its stall counts.
EngineStep ProtocolEngine::Run(EngineStep step, Millis now) {
  while (Waiting()) {
    const std::optional<TDeviceFrame> frame = NextFrame();
    if (!frame) break;
    OnFrame(*frame, now, step);
  }
  if (Waiting() && now >= op_.deadline) {
    if (op_.kind == Kind::Download) {
      step.notes.push_back("no request within " + Number(timings_.downloadStall.count()) + " ms");
      Finish(SessionReason::StoppedAsking, step);
    } else {
      Finish(SessionReason::NoAnswer, step);
    }
  }
  if (Waiting()) step.deadline = op_.deadline;
  return step;
}

std::optional<TDeviceFrame> ProtocolEngine::NextFrame() {
  KeptBytes source(input_, inputPos_);
  for (;;) {
    const std::size_t before = input_.size() - inputPos_;
    if (std::optional<TDeviceFrame> frame = ReadFrame(rx_, source)) return frame;
    // Stop when nothing is left to take in, or the parser took nothing more.
    const std::size_t left = input_.size() - inputPos_;
    if (left == 0 || left == before) return std::nullopt;
  }
}

void ProtocolEngine::OnFrame(const TDeviceFrame& frame, Millis now, EngineStep& step) {
  if (op_.kind == Kind::Download) {
    // The unit drives the transfer; the PC only answers.
    switch (frame.command()) {
    case k7v::kCmdChunk:
      OnPieceRequest(frame, now, step);
      return;
    case k7v::kCmdDownloadDone:
      Finish(SessionReason::Ok, step);
      return;
    case k7v::kCmdDownloadFailed:
      Finish(SessionReason::Refused, step);
      return;
    default:
      step.notes.push_back("frame " + Number(frame.command()) + " ignored during the download");
      return;
    }
  }
  if (frame.command() != op_.answer) {
    step.notes.push_back("dropped frame with command " + Number(frame.command()) +
                         " while waiting for " + Number(op_.answer));
    return;
  }
  OnAnswer(frame, step);
}

void ProtocolEngine::OnAnswer(const TDeviceFrame& frame, EngineStep& step) {
  const std::span<const std::uint8_t> payload = frame.payload();
  switch (op_.kind) {
  case Kind::Enter:
    // A short answer gives only the bytes it really holds.
    version_.clear();
    for (std::size_t i = 0; i < payload.size() && i < k7v::kImageVersionSize && payload[i] != 0;
         ++i)
      version_.push_back(char(payload[i]));
    Finish(SessionReason::Ok, step);
    return;
  case Kind::ReadParams:
    // Decoding a short answer would show bytes from outside the frame.
    if (payload.size() < k7v::kAppParamsSize) {
      step.notes.push_back("parameter answer of " + Number(static_cast<long long>(payload.size())) +
                           " bytes");
      Finish(SessionReason::IncompleteAnswer, step);
      return;
    }
    params_ = TAppParams::FromBytes(payload);
    Finish(SessionReason::Ok, step);
    return;
  case Kind::ReadSysInfo:
    sysInfo_ = ParseSysInfo(payload);
    Finish(SessionReason::Ok, step);
    return;
  case Kind::WriteParams:
    if (payload.empty())
      Finish(SessionReason::IncompleteAnswer, step);
    else
      Finish(payload[0] == 1 ? SessionReason::Ok : SessionReason::Refused, step);
    return;
  case Kind::None:
  case Kind::Download:
    return;
  }
}

void ProtocolEngine::OnPieceRequest(const TDeviceFrame& frame, Millis now, EngineStep& step) {
  ChunkRequest req;
  if (!ParseChunkRequest(frame, req)) return; // too short to ask for anything
  op_.sameInARow = op_.haveLast && req.offset == op_.lastOffset ? op_.sameInARow + 1 : 1;
  op_.haveLast = true;
  op_.lastOffset = req.offset;
  if (op_.sameInARow >= timings_.repeatLimit) {
    step.notes.push_back("offset " + Number(req.offset) + " asked " + Number(op_.sameInARow) +
                         " times in a row");
    Finish(SessionReason::RepeatedPiece, step);
    return;
  }
  ChunkAnswerBuffer answer;
  const std::size_t n = BuildChunkAnswer(req, op_.length, op_.body, answer);
  // The count the answer really carries (bytes 8 and 9, little-endian).
  const auto count = std::uint16_t(answer[8] | (answer[9] << 8));
  step.send.push_back({{answer.begin(), answer.begin() + std::ptrdiff_t(n)},
                       true,
                       {req.offset, count, std::uint64_t(req.offset) + count, op_.length}});
  // The stall counts from the last request: frames of other commands, noise
  // and damaged requests do not keep a download alive.
  op_.deadline = now + timings_.downloadStall.count();
}

void ProtocolEngine::Finish(SessionReason reason, EngineStep& step) {
  op_ = Operation{};
  step.finished = true;
  step.reason = reason;
  step.deadline = EngineStep::kNoDeadline;
}

void ProtocolEngine::Forget() {
  ResetRxBuffer(rx_);
  input_.clear();
  inputPos_ = 0;
}

void ProtocolEngine::Keep(std::span<const std::uint8_t> bytes) {
  input_.erase(input_.begin(), input_.begin() + std::ptrdiff_t(inputPos_));
  inputPos_ = 0;
  input_.insert(input_.end(), bytes.begin(), bytes.end());
  // A port that is never read keeps its newest bytes; so does the engine.
  if (input_.size() > k7v::kMaxKeptInput)
    input_.erase(input_.begin(), input_.end() - std::ptrdiff_t(k7v::kMaxKeptInput));
}
