#include "cli/unit_job.h"

#include <QElapsedTimer>
#include <QThread>

#include "link/device_session.h"
#include "link/qt_serial_port.h"
#include "platform/code_page_936.h"

namespace {

// The session's reason in the command line's words, with the system's own
// when it gave some.
QString ReasonText(const SessionResult& r) {
  QString text = QString::fromLatin1(SessionReasonName(r.reason));
  if (!r.systemText.isEmpty()) text += QStringLiteral(": ") + r.systemText;
  if (r.systemError != 0) text += QStringLiteral(" (%1)").arg(r.systemError);
  return text;
}

} // namespace

UnitJob::UnitJob(int index, QString port, const UnitPlan& plan)
    : index_(index), port_(std::move(port)), plan_(plan) {}

UnitJob::~UnitJob() = default;

// Never fails; the session may not exist yet or any more.
void UnitJob::cancel() {
  cancelled_ = true;
  if (DeviceSession* s = session_.load()) s->cancel();
}

// Never fails.
void UnitJob::say(const QString& text, int percent, int secondsLeft) {
  emit step(index_, text, percent, secondsLeft);
}

// Never fails: every ending is an outcome.
void UnitJob::run() {
  QElapsedTimer clock;
  clock.start();
  SessionTimings timings;
  if (plan_.timeout) timings.connect = timings.params = timings.downloadStall = *plan_.timeout;
  DeviceSession session(std::make_unique<QtSerialPortLink>(), timings);
  session_ = &session;
  if (cancelled_) session.cancel();
  UnitOutcome outcome = work(session);
  session_ = nullptr;
  outcome.seconds = double(clock.elapsed()) / 1000.0;
  emit finished(index_, outcome);
}

// Failed or Stopped with the reason when a step did not succeed.
UnitOutcome UnitJob::work(DeviceSession& session) {
  UnitOutcome out;
  auto fail = [&](const SessionResult& r) {
    out.result = r.reason == SessionReason::Cancelled ? UnitOutcome::Result::Stopped
                                                      : UnitOutcome::Result::Failed;
    out.reason = r.reason == SessionReason::Cancelled ? QStringLiteral("interrupted (Ctrl+C)")
                                                      : ReasonText(r);
  };
  // Leaves configuration mode whatever happened before; a stop must not keep
  // the unit from being told.
  auto leave = [&] {
    if (!out.reachedConfiguration) return;
    say(QStringLiteral("leaving configuration"));
    session.clearCancel();
    const SessionResult r = session.leaveConfiguration();
    if (!r.ok() && out.result == UnitOutcome::Result::Ok) fail(r);
  };

  say(QStringLiteral("opening"));
  LineSettings line = plan_.line;
  line.portName = port_;
  if (const SessionResult r = session.open(line); !r.ok()) {
    fail(r);
    return out;
  }
  say(QStringLiteral("connecting"));
  // In the unit's code page, as the window sends it.
  const std::string switchBytes = cp936::FromUtf8(plan_.switchCommand.toStdString()).bytes;
  const VersionResult version =
      session.enterConfiguration(QByteArray(switchBytes.data(), qsizetype(switchBytes.size())));
  if (!version.ok()) {
    fail(version);
    session.close();
    return out;
  }
  out.reachedConfiguration = true;
  out.version = version.version;
  out.result = UnitOutcome::Result::Ok;

  switch (plan_.command) {
  case CliCommand::Info: {
    say(QStringLiteral("reading product information"));
    const SysInfoResult info = session.readSysInfo();
    if (info.ok())
      out.sysInfo = info.info;
    else
      fail(info);
    break;
  }
  case CliCommand::Read: {
    say(QStringLiteral("reading parameters"));
    const ParamsResult params = session.readParams();
    if (params.ok())
      out.record = params.params;
    else
      fail(params);
    break;
  }
  case CliCommand::Write: {
    say(QStringLiteral("reading parameters"));
    const ParamsResult current = session.readParams();
    if (!current.ok()) {
      fail(current);
      break;
    }
    // The profile over this unit's own record: a partial profile changes
    // only what it names, and rules that look at other fields see this unit's.
    const ProfileResult applied =
        ApplyProfiles(current.params, ProfileForPort(plan_, port_), plan_.checks);
    if (!applied.ok()) {
      out.result = UnitOutcome::Result::Failed;
      out.reason = QStringLiteral("nothing written: ") +
                   QString::fromStdString(FormatIssue(applied.errors.front()));
      break;
    }
    say(QStringLiteral("writing parameters"));
    if (const SessionResult r = session.writeParams(applied.record); !r.ok()) {
      fail(r);
      break;
    }
    say(QStringLiteral("reading back"));
    const ParamsResult back = session.readParams();
    if (!back.ok()) {
      fail(back);
      break;
    }
    out.record = applied.record;
    if (!(back.params == applied.record)) {
      const auto diffs = CompareRecords(applied.record, back.params);
      out.result = UnitOutcome::Result::Failed;
      out.reason = QStringLiteral("read-back differs in %1 field(s), first %2")
                       .arg(diffs.size())
                       .arg(QLatin1String(FieldInfo(diffs.front().field).name));
    }
    break;
  }
  case CliCommand::Flash: {
    say(QStringLiteral("flashing"), 0);
    QElapsedTimer clock;
    clock.start();
    DownloadImage image;
    image.body = std::span(reinterpret_cast<const std::uint8_t*>(plan_.imageBody.constData()),
                           std::size_t(plan_.imageBody.size()));
    image.length = std::int32_t(plan_.image.length);
    image.name = plan_.imageName;
    image.version = plan_.image.version;
    image.checksum = plan_.image.checksum;
    int shown = -1;
    const SessionResult r = session.download(image, [&](const DownloadProgress& p) {
      const std::uint64_t total = std::uint64_t(std::max(p.total, 1));
      const std::uint64_t reached = std::min<std::uint64_t>(p.reached, total);
      const int percent = int(reached * 100 / total);
      if (percent == shown) return; // one step per percent is plenty
      shown = percent;
      int left = -1;
      if (reached > 0 && reached < total)
        left = int(double(clock.elapsed()) / double(reached) * double(total - reached) / 1000.0);
      say(QStringLiteral("flashing"), percent, left);
    });
    if (!r.ok()) fail(r);
    break;
  }
  default:
    break;
  }
  leave();
  session.close();
  return out;
}
