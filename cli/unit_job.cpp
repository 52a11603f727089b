#include "cli/unit_job.h"

#include <QElapsedTimer>
#include <QThread>

#include "cli/port_checks.h"
#include "cli/unit_steps.h"
#include "link/device_session.h"
#include "link/qt_serial_port.h"
#include "params/edited_config.h"
#include "platform/code_page_936.h"

namespace {

// The switch command a record makes the unit listen for, as text.
QString SwitchCommandOf(const TAppParams& record) {
  const auto bytes = record.FieldBytes(AppField::switch_cmd);
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  return QString::fromStdString(cp936::ToUtf8(std::string(bytes.begin(), end)).utf8);
}

bool SameSwitchCommand(const TAppParams& a, const TAppParams& b) {
  const auto x = a.FieldBytes(AppField::switch_cmd), y = b.FieldBytes(AppField::switch_cmd);
  return std::equal(x.begin(), x.end(), y.begin(), y.end());
}

// True when a write may have reached the unit's memory: it went out and the
// unit did not say no.
bool WriteMayHaveTaken(SessionReason r) {
  return r != SessionReason::Refused && r != SessionReason::Cancelled &&
         r != SessionReason::NotOpen;
}

} // namespace

UnitJob::UnitJob(int index, QString port, const UnitPlan& plan)
    : index_(index), port_(std::move(port)), plan_(plan) {}

UnitJob::~UnitJob() = default;

// Never fails; before run() the cancel is remembered, after it nothing is left to stop.
void UnitJob::cancel() {
  const std::lock_guard lock(sessionMutex_);
  cancelled_ = true;
  if (session_) session_->cancel();
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
  DeviceSession* session = nullptr;
  {
    const std::lock_guard lock(sessionMutex_);
    session_ = std::make_unique<DeviceSession>(std::make_unique<QtSerialPortLink>(), timings);
    if (cancelled_) session_->cancel();
    session = session_.get();
  }
  UnitSteps steps(*session, plan_.retries, plan_.switchBytes,
                  [this](const QString& line) { emit note(index_, line); });
  UnitOutcome outcome = work(steps);
  outcome.retries = steps.retriesUsed();
  {
    // A cancel from another thread either finished with the session or
    // finds none: never one half destroyed.
    const std::lock_guard lock(sessionMutex_);
    session_.reset();
  }
  outcome.seconds = double(clock.elapsed()) / 1000.0;
  emit finished(index_, outcome);
}

// Failed or Stopped with the reason when a step did not succeed.
UnitOutcome UnitJob::work(UnitSteps& steps) {
  DeviceSession& session = steps.session();
  UnitOutcome out;
  auto fail = [&](const SessionResult& r) {
    out.result = r.reason == SessionReason::Cancelled ? UnitOutcome::Result::Stopped
                                                      : UnitOutcome::Result::Failed;
    out.reason = steps.failureText(r);
  };
  // Leaves configuration mode whatever happened before; a stop must not keep
  // the unit from being told.
  auto leave = [&] {
    if (!out.reachedConfiguration) return;
    say(QStringLiteral("leaving configuration"));
    const SessionResult r = steps.leave();
    if (!r.ok() && out.result == UnitOutcome::Result::Ok) fail(r);
  };

  if (const QString why = NotASerialPort(port_); !why.isEmpty()) {
    out.reason = QStringLiteral("cannot open: ") + why;
    return out;
  }
  if (plan_.command == CliCommand::Scan) {
    scan(steps, out);
    return out;
  }
  say(QStringLiteral("opening"));
  LineSettings line = plan_.line;
  line.portName = port_;
  if (const SessionResult r = steps.open(line); !r.ok()) {
    fail(r);
    return out;
  }
  say(QStringLiteral("connecting"));
  const VersionResult version = steps.enter();
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
    const SysInfoResult info = steps.readSysInfo();
    if (info.ok())
      out.sysInfo = info.info;
    else
      fail(info);
    break;
  }
  case CliCommand::Read: {
    say(QStringLiteral("reading parameters"));
    const ParamsResult params = steps.readParams();
    if (params.ok())
      out.record = params.params;
    else
      fail(params);
    break;
  }
  case CliCommand::Write: {
    say(QStringLiteral("reading parameters"));
    const ParamsResult current = steps.readParams();
    if (!current.ok()) {
      fail(current);
      break;
    }
    // The profile over this unit's own record: a partial profile changes
    // only what it names, rules that look at other fields see this unit's,
    // and what goes to the unit passes the store rules, each change told.
    const UnitWrite prepared =
        PrepareUnitWrite(current.params, ProfileForPort(plan_, port_), plan_.checks);
    if (!prepared.record) {
      out.result = UnitOutcome::Result::Failed;
      out.reason = QStringLiteral("nothing written: ") + QString::fromStdString(prepared.refusal);
      break;
    }
    for (const std::string& line : prepared.notes)
      emit note(index_, QStringLiteral("note: ") + QString::fromStdString(line));
    const TAppParams toWrite = *prepared.record;
    out.fieldsChanged = int(CompareRecords(current.params, toWrite).size());
    const bool switchChanges = !SameSwitchCommand(current.params, toWrite);
    say(QStringLiteral("writing parameters"));
    const SessionResult written = steps.write(toWrite);
    // Told at once and again in the summary: the next session needs it.
    if (switchChanges && WriteMayHaveTaken(written.reason)) {
      out.newSwitchCommand = SwitchCommandOf(toWrite);
      emit note(index_,
                QStringLiteral("warning: the unit's switch command is %1 \"%2\"; the "
                               "next session must use --switch '%2'")
                    .arg(written.ok() ? QStringLiteral("now") : QStringLiteral("perhaps now"),
                         *out.newSwitchCommand));
    }
    if (!written.ok()) {
      fail(written);
      break;
    }
    say(QStringLiteral("reading back"));
    const ParamsResult back = steps.readParams(UnitStep::ReadBack);
    if (!back.ok()) {
      fail(back);
      break;
    }
    out.record = toWrite;
    if (!(back.params == toWrite)) {
      const auto diffs = CompareRecords(toWrite, back.params);
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
    int shown = -1;
    const SessionResult r =
        steps.download(plan_.image.ForDownload(), [&](const DownloadProgress& p) {
          const std::uint64_t total = std::uint64_t(std::max(p.total, 1));
          const std::uint64_t reached = std::min<std::uint64_t>(p.reached, total);
          const int percent = int(reached * 100 / total);
          if (percent == shown) return;         // one step per percent is plenty
          if (percent < shown) clock.restart(); // announced again: the time left starts afresh
          shown = percent;
          int left = -1;
          if (reached > 0 && reached < total)
            left =
                int(double(clock.elapsed()) / double(reached) * double(total - reached) / 1000.0);
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

// Tries each of the scan's settings until a unit answers; Found leaves the
// unit at once. NotFound when none answered, Failed when the port is unusable.
void UnitJob::scan(UnitSteps& steps, UnitOutcome& out) {
  DeviceSession& session = steps.session();
  const std::vector<LineSettings> tries = ScanSettings(plan_.line);
  for (LineSettings line : tries) {
    line.portName = port_;
    say(QStringLiteral("trying ") + FramingText(line));
    if (const SessionResult r = steps.open(line); !r.ok()) {
      if (r.reason == SessionReason::SettingsRefused) continue; // the next may suit the port
      out.reason = steps.failureText(r);
      return;
    }
    // Every setting is a try of its own: no repeats here.
    const VersionResult v = session.reachConfiguration(plan_.switchBytes);
    if (v.ok()) {
      out.reachedConfiguration = true;
      out.version = v.version;
      out.foundAt = line;
      out.result = UnitOutcome::Result::Ok;
      say(QStringLiteral("reading product information"));
      const SysInfoResult info = steps.readSysInfo();
      if (info.ok()) {
        out.sysInfo = info.info;
      } else {
        out.result = info.reason == SessionReason::Cancelled ? UnitOutcome::Result::Stopped
                                                             : UnitOutcome::Result::Failed;
        out.reason = steps.failureText(info);
      }
      say(QStringLiteral("leaving configuration"));
      steps.leave();
      session.close();
      return;
    }
    session.close();
    if (v.reason == SessionReason::Cancelled) {
      out.result = UnitOutcome::Result::Stopped;
      out.reason = QStringLiteral("stopped during the scan");
      return;
    }
    if (v.reason == SessionReason::LinkLost) {
      out.reason = StepFailureText(UnitStep::Switch, v);
      return;
    }
  }
  out.result = UnitOutcome::Result::NotFound;
  out.reason = QStringLiteral("no unit answered at %1 settings").arg(tries.size());
}
