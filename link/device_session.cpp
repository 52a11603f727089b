#include "link/device_session.h"

#include <QLoggingCategory>
#include <QPointer>
#include <algorithm>
#include <array>
#include <optional>

#include "platform/system_error.h"

Q_LOGGING_CATEGORY(lcSession, "k7v.session")

DeviceSession::DeviceSession(std::unique_ptr<SerialPort> port, SessionTimings timings,
                             QObject* parent)
    : QObject(parent), link_(std::move(port), this), engine_(timings) {
  clock_.start();
}

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

VersionResult DeviceSession::enterConfiguration(const QByteArray& switchCommand,
                                                const RequestSentFn& sent) {
  const std::span<const std::uint8_t> bytes(
      reinterpret_cast<const std::uint8_t*>(switchCommand.constData()),
      std::size_t(switchCommand.size()));
  VersionResult result;
  result.reason =
      Run([&](ProtocolEngine& e, auto now) { return e.StartEnter(bytes, now); }, false, sent, {});
  if (result.ok()) result.version = QString::fromLatin1(engine_.version());
  return result;
}

VersionResult DeviceSession::reachConfiguration(const QByteArray& switchCommand) {
  const VersionResult first = enterConfiguration(switchCommand);
  if (first.reason != SessionReason::NoAnswer) return first;
  if (const SessionResult left = leaveConfiguration(); !left.ok()) {
    VersionResult r;
    r.reason = left.reason;
    return r;
  }
  return enterConfiguration(switchCommand);
}

VersionResult DeviceSession::returnAfterDownload(const QByteArray& switchCommand,
                                                 std::chrono::milliseconds limit) {
  VersionResult r;
  if (const SessionResult left = leaveConfiguration(); !left.ok()) {
    r.reason = left.reason;
    return r;
  }
  const ProtocolEngine::Millis start = Now();
  for (;;) {
    r = enterConfiguration(switchCommand);
    // A unit restarting may drop the line for a moment: only the limit ends the wait.
    if (r.ok() ||
        (r.reason != SessionReason::NoAnswer && r.reason != SessionReason::IncompleteAnswer))
      return r;
    if (Now() - start >= limit.count()) return r;
  }
}

ParamsResult DeviceSession::readParams(const RequestSentFn& sent) {
  ParamsResult result;
  result.reason =
      Run([](ProtocolEngine& e, auto now) { return e.StartReadParams(now); }, false, sent, {});
  if (result.ok()) result.params = engine_.params();
  return result;
}

SysInfoResult DeviceSession::readSysInfo(const RequestSentFn& sent) {
  SysInfoResult result;
  result.reason =
      Run([](ProtocolEngine& e, auto now) { return e.StartReadSysInfo(now); }, false, sent, {});
  if (result.ok()) result.info = engine_.sysInfo();
  return result;
}

SessionResult DeviceSession::writeParams(const TAppParams& params, const RequestSentFn& sent) {
  SessionResult result;
  result.reason = Run([&](ProtocolEngine& e, auto now) { return e.StartWriteParams(params, now); },
                      false, sent, {});
  return result;
}

SessionResult DeviceSession::download(const DownloadImage& image,
                                      const DownloadProgressFn& progress) {
  SessionResult result;
  result.reason = Run([&](ProtocolEngine& e, auto now) { return e.StartDownload(image, now); },
                      true, {}, progress);
  return result;
}

SessionResult DeviceSession::leaveConfiguration() {
  SessionResult result;
  result.reason = Send(ProtocolEngine::Leave().send.front().frame);
  return result;
}

void DeviceSession::close() { link_.CommHandle().Close(); }

void DeviceSession::cancel() { link_.AbortWaits(); }

void DeviceSession::clearCancel() { link_.ClearAbort(); }

bool DeviceSession::cancelled() const { return link_.Aborted(); }

bool DeviceSession::isOpen() const { return const_cast<DeviceLink&>(link_).CommHandle().IsOpen(); }

SessionReason DeviceSession::Run(const Start& start, bool download, const RequestSentFn& sent,
                                 const DownloadProgressFn& progress) {
  if (link_.Aborted()) return SessionReason::Cancelled; // nothing is sent once cancelled
  // An operation started inside another one's wait (a click during a read):
  // the outer one waits on once this one has ended.
  std::optional<ProtocolEngine::Operation> outer;
  if (engine_.Waiting()) outer = engine_.SetAside();
  const QPointer<DeviceSession> self(this);
  const SessionReason reason = Drive(start(engine_, Now()), download, sent, progress);
  if (self && outer) {
    engine_.TakeUp(std::move(*outer));
    link_.Wake();
  }
  return reason;
}

SessionReason DeviceSession::Drive(EngineStep step, bool download, const RequestSentFn& sent,
                                   const DownloadProgressFn& progress) {
  const QPointer<DeviceSession> self(this);
  SerialPort& port = link_.CommHandle();
  bool requestSent = false;
  std::array<std::uint8_t, k7v::kMaxRxBytesPerRead> received;
  for (;;) {
    for (const std::string& note : step.notes) qCInfo(lcSession).noquote() << note.c_str();
    for (const EngineSend& out : step.send) {
      const SessionReason written = Send(out.frame);
      if (!requestSent) {
        requestSent = true;
        if (sent) sent();
        if (!self) return SessionReason::Cancelled;
      }
      if (written != SessionReason::Ok) return engine_.End(written).reason;
      if (!out.piece) continue;
      if (progress) progress(out.progress);
      if (!self) return SessionReason::Cancelled;
      // A cancel while pieces go out: nothing more is sent.
      if (link_.Aborted()) return engine_.End(SessionReason::Cancelled).reason;
    }
    if (step.finished) return step.reason;

    // A download is stopped before anything more is read; an answer that has
    // arrived still counts.
    if (download && link_.Aborted()) return engine_.End(SessionReason::Cancelled).reason;
    std::uint16_t got = 0;
    if (const std::uint16_t waiting = port.RxBytesWaiting(); waiting > 0) {
      got = port.ReadPort(received.data(),
                          std::uint16_t(std::min<std::size_t>(waiting, received.size())));
      step = engine_.OnBytes({received.data(), got}, Now());
      if (step.finished || !step.send.empty()) continue;
      for (const std::string& note : step.notes) qCInfo(lcSession).noquote() << note.c_str();
    }
    if (link_.Aborted() || !port.IsOpen()) return engine_.End(WaitEnding()).reason;
    step = engine_.OnTime(Now());
    if (step.finished) continue;
    // More has arrived meanwhile, or was more than one pass takes in; a port
    // that offers bytes it then does not give is slept on, not spun on.
    if (got > 0 && port.RxBytesWaiting() > 0) continue;
    link_.Sleep(std::chrono::milliseconds(std::max<qint64>(step.deadline - Now(), 0)));
    if (!self) return SessionReason::Cancelled;
  }
}

// A cancel wins over a closed port: the window's disconnect does both.
SessionReason DeviceSession::WaitEnding() const {
  return cancelled() ? SessionReason::Cancelled : SessionReason::LinkLost;
}

// NotOpen before anything is written on a closed port; after a failed write,
// a port that has closed meanwhile means the device went away.
SessionReason DeviceSession::Send(const std::vector<std::uint8_t>& frame) {
  SerialPort& port = link_.CommHandle();
  if (!port.IsOpen()) return SessionReason::NotOpen;
  if (port.WriteFrame(frame.data(), frame.size())) return SessionReason::Ok;
  return port.IsOpen() ? SessionReason::WriteFailed : SessionReason::LinkLost;
}
