#include "link/device_session.h"

#include <QDeadlineTimer>
#include <QLoggingCategory>
#include <algorithm>
#include <array>

#include "firmware/download_frames.h"
#include "platform/system_error.h"

Q_LOGGING_CATEGORY(lcSession, "k7v.session")

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
// A frame with no payload; the six bytes of a request.
std::array<std::uint8_t, k7v::kFrameOverhead> Request(std::uint8_t command) {
  std::array<std::uint8_t, k7v::kFrameOverhead> frame{};
  BuildFrame(command, {}, frame);
  return frame;
}

template <typename Result>
Result Ending(SessionReason reason) {
  Result r;
  r.reason = reason;
  return r;
}
} // namespace

DeviceSession::DeviceSession(std::unique_ptr<SerialPort> port, SessionTimings timings,
                             QObject* parent)
    : QObject(parent), link_(std::move(port), this), timings_(timings) {}

DeviceSession::~DeviceSession() {
  // A wait still on the stack (the owner went away inside it) must end.
  link_.AbortWaits();
}

SessionResult DeviceSession::open(const LineSettings& settings) {
  const OpenResult opened = link_.CommHandle().Open(settings);
  SessionResult result;
  switch (opened.kind) {
  case OpenResult::Kind::Ok:
    return result;
  case OpenResult::Kind::OpenFailed:
    result.reason = SessionReason::PortError;
    break;
  case OpenResult::Kind::SettingsRefused:
    result.reason = SessionReason::SettingsRefused;
    break;
  }
  result.systemError = opened.systemError;
  result.systemText = opened.systemText;
  if (result.systemText.isEmpty() && opened.systemError != 0)
    result.systemText = QString::fromStdString(SystemErrorText(opened.systemError));
  return result;
}

VersionResult DeviceSession::enterConfiguration(const QByteArray& switchCommand) {
  if (link_.Aborted()) // nothing is sent once cancelled
    return Ending<VersionResult>(SessionReason::Cancelled);
  // Always six bytes: a shorter command is padded with zero bytes, which no
  // DTU switch command contains, so a short text can never switch by accident.
  std::array<std::uint8_t, k7v::kSwitchCommandLength> bytes{};
  for (std::size_t i = 0; i < bytes.size() && i < std::size_t(switchCommand.size()); ++i)
    bytes[i] = std::uint8_t(switchCommand[qsizetype(i)]);
  link_.ResetRx();
  if (const SessionReason sent = Send(bytes); sent != SessionReason::Ok)
    return Ending<VersionResult>(sent);
  const DeviceLink::Reply reply = link_.WaitReply(k7v::kCmdSwitchAnswer, timings_.connect);
  if (reply.result != DeviceLink::WaitResult::Reply)
    return Ending<VersionResult>(WaitEnding(reply.result));

  // The version is the payload's first 8 bytes up to the first zero; a short
  // answer gives only the bytes it really holds.
  VersionResult result;
  const auto payload = reply.frame.payload();
  QByteArray version;
  for (std::size_t i = 0; i < payload.size() && i < k7v::kImageVersionSize && payload[i] != 0; ++i)
    version.append(char(payload[i]));
  result.version = QString::fromLatin1(version);
  return result;
}

ParamsResult DeviceSession::readParams() {
  if (link_.Aborted()) // nothing is sent once cancelled
    return Ending<ParamsResult>(SessionReason::Cancelled);
  link_.ResetRx();
  if (const SessionReason sent = Send(Request(k7v::kCmdReadParams)); sent != SessionReason::Ok)
    return Ending<ParamsResult>(sent);
  const DeviceLink::Reply reply = link_.WaitReply(k7v::kCmdReadParams, timings_.params);
  if (reply.result != DeviceLink::WaitResult::Reply)
    return Ending<ParamsResult>(WaitEnding(reply.result));
  // Decoding a short answer would show bytes from outside the frame.
  if (reply.frame.payload().size() < k7v::kAppParamsSize) {
    qCInfo(lcSession) << "parameter answer of" << reply.frame.payload().size() << "bytes";
    return Ending<ParamsResult>(SessionReason::IncompleteAnswer);
  }
  ParamsResult result;
  result.params = TAppParams::FromBytes(reply.frame.payload());
  return result;
}

SysInfoResult DeviceSession::readSysInfo() {
  if (link_.Aborted()) // nothing is sent once cancelled
    return Ending<SysInfoResult>(SessionReason::Cancelled);
  // The receive buffer is deliberately kept: this follows a parameter read.
  if (const SessionReason sent = Send(Request(k7v::kCmdSysInfo)); sent != SessionReason::Ok)
    return Ending<SysInfoResult>(sent);
  const DeviceLink::Reply reply = link_.WaitReply(k7v::kCmdSysInfo, timings_.params);
  if (reply.result != DeviceLink::WaitResult::Reply)
    return Ending<SysInfoResult>(WaitEnding(reply.result));
  SysInfoResult result;
  result.info = ParseSysInfo(reply.frame.payload());
  return result;
}

SessionResult DeviceSession::writeParams(const TAppParams& params) {
  if (link_.Aborted()) // nothing is sent once cancelled
    return Ending<SessionResult>(SessionReason::Cancelled);
  link_.ResetRx();
  std::array<std::uint8_t, k7v::kAppParamsFrameLength> frame{};
  BuildFrame(k7v::kCmdWriteParams, params.bytes(), frame);
  if (const SessionReason sent = Send(frame); sent != SessionReason::Ok)
    return Ending<SessionResult>(sent);
  const DeviceLink::Reply reply = link_.WaitReply(k7v::kCmdWriteParams, timings_.params);
  if (reply.result != DeviceLink::WaitResult::Reply)
    return Ending<SessionResult>(WaitEnding(reply.result));
  const auto payload = reply.frame.payload();
  if (payload.empty()) return Ending<SessionResult>(SessionReason::IncompleteAnswer);
  return Ending<SessionResult>(payload[0] == 1 ? SessionReason::Ok : SessionReason::Refused);
}

SessionResult DeviceSession::download(const DownloadImage& image,
                                      const DownloadProgressFn& progress) {
  if (link_.Aborted()) return Ending<SessionResult>(SessionReason::Cancelled);
  link_.ResetRx();
  const DownloadStartFrame start =
      BuildDownloadStart(image.name, image.version, std::uint32_t(image.length), image.checksum);
  if (const SessionReason sent = Send(start); sent != SessionReason::Ok)
    return Ending<SessionResult>(sent);

  // The unit drives the transfer; the PC only answers. What ends it besides
  // the unit's own verdict is silence, a unit stuck on one piece, a lost
  // device and a cancel.
  bool haveLast = false;
  std::uint32_t lastOffset = 0;
  unsigned sameInARow = 0;
  QDeadlineTimer stall(timings_.downloadStall, Qt::PreciseTimer);
  for (;;) {
    if (link_.Aborted()) return Ending<SessionResult>(SessionReason::Cancelled);
    const std::optional<TDeviceFrame> frame = link_.ReadFrame();
    if (!frame) {
      // The stall limit counts from the last request: frames of other
      // commands, noise and damaged requests do not keep a download alive.
      if (stall.hasExpired()) {
        qCInfo(lcSession) << "no request within" << timings_.downloadStall.count() << "ms";
        return Ending<SessionResult>(SessionReason::StoppedAsking);
      }
      const auto left = std::chrono::milliseconds(stall.remainingTime());
      const auto waited = link_.WaitForBytes(std::max(left, std::chrono::milliseconds(0)));
      if (waited == DeviceLink::WaitResult::Aborted)
        return Ending<SessionResult>(WaitEnding(waited));
      continue;
    }
    switch (frame->command()) {
    case k7v::kCmdChunk: {
      ChunkRequest req;
      if (!ParseChunkRequest(*frame, req)) break;
      sameInARow = haveLast && req.offset == lastOffset ? sameInARow + 1 : 1;
      haveLast = true;
      lastOffset = req.offset;
      if (sameInARow >= timings_.repeatLimit) {
        qCInfo(lcSession) << "offset" << req.offset << "asked" << sameInARow << "times in a row";
        return Ending<SessionResult>(SessionReason::RepeatedPiece);
      }
      ChunkAnswerBuffer answer;
      const std::size_t n = BuildChunkAnswer(req, image.length, image.body, answer);
      if (const SessionReason sent = Send(std::span(answer.data(), n)); sent != SessionReason::Ok)
        return Ending<SessionResult>(sent);
      if (progress) {
        // The count the answer really carries (bytes 8 and 9, little-endian).
        const auto count = std::uint16_t(answer[8] | (answer[9] << 8));
        progress({req.offset, count, std::uint64_t(req.offset) + count, image.length});
      }
      stall.setRemainingTime(timings_.downloadStall, Qt::PreciseTimer);
      break;
    }
    case k7v::kCmdDownloadDone:
      return Ending<SessionResult>(SessionReason::Ok);
    case k7v::kCmdDownloadFailed:
      return Ending<SessionResult>(SessionReason::Refused);
    default:
      qCDebug(lcSession) << "frame" << frame->command() << "ignored during the download";
      break;
    }
  }
}

SessionResult DeviceSession::leaveConfiguration() {
  return Ending<SessionResult>(Send(Request(k7v::kCmdLeaveConfig)));
}

void DeviceSession::close() { link_.CommHandle().Close(); }

void DeviceSession::cancel() { link_.AbortWaits(); }

void DeviceSession::clearCancel() { link_.ClearAbort(); }

bool DeviceSession::cancelled() const { return link_.Aborted(); }

bool DeviceSession::isOpen() const { return const_cast<DeviceLink&>(link_).CommHandle().IsOpen(); }

// A cancel wins over a closed port: the window's disconnect does both.
SessionReason DeviceSession::WaitEnding(DeviceLink::WaitResult result) const {
  if (result == DeviceLink::WaitResult::Timeout) return SessionReason::NoAnswer;
  if (cancelled()) return SessionReason::Cancelled;
  return SessionReason::LinkLost;
}

// NotOpen before anything is written on a closed port; after a failed write,
// a port that has closed meanwhile means the device went away.
SessionReason DeviceSession::Send(std::span<const std::uint8_t> frame) {
  if (!link_.CommHandle().IsOpen()) return SessionReason::NotOpen;
  if (link_.Write(frame)) return SessionReason::Ok;
  return link_.CommHandle().IsOpen() ? SessionReason::WriteFailed : SessionReason::LinkLost;
}
