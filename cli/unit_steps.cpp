#include "cli/unit_steps.h"

#include "cli/port_checks.h"

namespace {

// The step as the end of "no answer to the ...".
QString StepNoun(UnitStep step) {
  switch (step) {
  case UnitStep::Open:
    return QStringLiteral("open");
  case UnitStep::Switch:
    return QStringLiteral("switch command");
  case UnitStep::Read:
    return QStringLiteral("read");
  case UnitStep::SysInfo:
    return QStringLiteral("product information request");
  case UnitStep::Write:
    return QStringLiteral("write");
  case UnitStep::ReadBack:
    return QStringLiteral("read-back");
  case UnitStep::Download:
    return QStringLiteral("download");
  case UnitStep::Leave:
    return QStringLiteral("leave command");
  }
  return {};
}

// Endings after which the same request may simply go out again: nothing
// came, or what came was damaged.
bool AnswerMissing(SessionReason r) {
  return r == SessionReason::NoAnswer || r == SessionReason::IncompleteAnswer ||
         r == SessionReason::WriteFailed;
}

// Endings after which a download may be announced anew (once the unit
// answers the switch command again).
bool DownloadMayRestart(SessionReason r) {
  return AnswerMissing(r) || r == SessionReason::StoppedAsking ||
         r == SessionReason::RepeatedPiece || r == SessionReason::Refused;
}

} // namespace

QString StepFailureText(UnitStep step, const SessionResult& r) {
  if (step == UnitStep::Open) return OpenFailureText(r);
  const QString noun = StepNoun(step);
  switch (r.reason) {
  case SessionReason::Ok:
    return {};
  case SessionReason::NoAnswer:
    if (step == UnitStep::Switch)
      return QStringLiteral("no answer to the switch command (check speed, framing, switch "
                            "command and cable)");
    if (step == UnitStep::Write)
      return QStringLiteral("no answer to the write (the unit may have stored the record; "
                            "--retries reads it back to tell)");
    return QStringLiteral("no answer to the ") + noun;
  case SessionReason::IncompleteAnswer:
    return QStringLiteral("incomplete answer to the ") + noun;
  case SessionReason::Refused:
    return step == UnitStep::Download ? QStringLiteral("the unit refused the image")
                                      : QStringLiteral("the unit refused the ") + noun;
  case SessionReason::LinkLost:
    return QStringLiteral("link lost during the ") + noun;
  case SessionReason::Cancelled:
    return QStringLiteral("stopped during the ") + noun;
  case SessionReason::PortError:
  case SessionReason::SettingsRefused:
    return OpenFailureText(r);
  case SessionReason::StoppedAsking:
    return QStringLiteral("the unit stopped asking for the image");
  case SessionReason::RepeatedPiece:
    return QStringLiteral("the unit asked for the same piece again and again");
  case SessionReason::WriteFailed:
    return QStringLiteral("could not send the ") + noun;
  case SessionReason::NotOpen:
    return QStringLiteral("port not open for the ") + noun;
  }
  return QString::fromLatin1(SessionReasonName(r.reason));
}

UnitSteps::UnitSteps(DeviceSession& session, int retries, QByteArray switchBytes, RetryLog log)
    : session_(session), retries_(retries), switchBytes_(std::move(switchBytes)),
      log_(std::move(log)) {}

// False when the ending is final or the repeats are used up.
bool UnitSteps::retryAfter(UnitStep step, const SessionResult& r, int attempt,
                           const QString& next) {
  if (attempt >= retries_) return false;
  ++retriesUsed_;
  if (log_) {
    QString line = QStringLiteral("retry %1 of %2: %3")
                       .arg(attempt + 1)
                       .arg(retries_)
                       .arg(StepFailureText(step, r));
    if (!next.isEmpty()) line += QStringLiteral("; ") + next;
    log_(line);
  }
  return true;
}

SessionResult UnitSteps::open(const LineSettings& line) {
  const SessionResult r = session_.open(line);
  return r.ok() ? r : failed(UnitStep::Open, r);
}

VersionResult UnitSteps::enter() {
  for (int attempt = 0;; ++attempt) {
    const VersionResult r = session_.reachConfiguration(switchBytes_);
    if (r.ok()) return r;
    if (!AnswerMissing(r.reason) || !retryAfter(UnitStep::Switch, r, attempt))
      return failed(UnitStep::Switch, r);
  }
}

VersionResult UnitSteps::returnAfterDownload(std::chrono::milliseconds limit) {
  const VersionResult r = session_.returnAfterDownload(switchBytes_, limit);
  return r.ok() ? r : failed(UnitStep::Switch, r);
}

ParamsResult UnitSteps::readParams(UnitStep step) {
  for (int attempt = 0;; ++attempt) {
    const ParamsResult r = session_.readParams();
    if (r.ok()) return r;
    if (!AnswerMissing(r.reason) || !retryAfter(step, r, attempt)) return failed(step, r);
  }
}

SysInfoResult UnitSteps::readSysInfo() {
  for (int attempt = 0;; ++attempt) {
    const SysInfoResult r = session_.readSysInfo();
    if (r.ok()) return r;
    if (!AnswerMissing(r.reason) || !retryAfter(UnitStep::SysInfo, r, attempt))
      return failed(UnitStep::SysInfo, r);
  }
}

SessionResult UnitSteps::write(const TAppParams& record) {
  for (int attempt = 0;; ++attempt) {
    const SessionResult r = session_.writeParams(record);
    if (r.ok()) return r;
    // A refusal is the unit's verdict; only a lost answer leaves it open
    // whether the record was stored.
    if (!AnswerMissing(r.reason) ||
        !retryAfter(UnitStep::Write, r, attempt,
                    QStringLiteral("reading back to see whether it took")))
      return failed(UnitStep::Write, r);
    const ParamsResult back = readParams(UnitStep::ReadBack);
    if (!back.ok()) return back;
    if (back.params == record) {
      if (log_) log_(QStringLiteral("the read-back shows the write took"));
      return back;
    }
    if (log_) log_(QStringLiteral("the read-back shows the write did not take; writing again"));
  }
}

SessionResult UnitSteps::download(const DownloadImage& image, const DownloadProgressFn& progress) {
  for (int attempt = 0;; ++attempt) {
    const SessionResult r = session_.download(image, progress);
    if (r.ok()) return r;
    if (!DownloadMayRestart(r.reason) ||
        !retryAfter(UnitStep::Download, r, attempt,
                    QStringLiteral("announcing the image again once the unit answers the switch "
                                   "command")))
      return failed(UnitStep::Download, r);
    // Only a unit back in configuration mode is ready for an announcement.
    if (const VersionResult back = enter(); !back.ok()) return back;
  }
}

SessionResult UnitSteps::leave() {
  session_.clearCancel();
  const SessionResult r = session_.leaveConfiguration();
  return r.ok() ? r : failed(UnitStep::Leave, r);
}
