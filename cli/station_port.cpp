#include "cli/station_port.h"

#include <QCryptographicHash>

#include "cli/cli_options.h"
#include "cli/ledger_db.h"
#include "cli/port_checks.h"
#include "cli/unit_steps.h"
#include "link/qt_serial_port.h"
#include "params/edited_config.h"
#include "platform/code_page_936.h"

namespace {

const QString kOk = QStringLiteral("ok");
const QString kFailed = QStringLiteral("failed");
const QString kStopped = QStringLiteral("stopped");

// The unit's texts are GBK bytes, like the record's.
QString UnitText(const std::string& s) { return QString::fromStdString(cp936::ToUtf8(s).utf8); }

// Why the port cannot be opened, as its waiting line shows it: an adapter
// that is unplugged is the ordinary state of a station, not an error.
QString WaitingDetail(const SessionResult& r) {
  const QString text = OpenFailureText(r);
  return text == QLatin1String("cannot open: no such port") ? QStringLiteral("no port") : text;
}

// True when the record makes the unit answer another switch command than
// the one sent (the session pads it with zero bytes).
bool ListensForOther(const TAppParams& record, const QByteArray& sent) {
  const auto field = record.FieldBytes(AppField::switch_cmd);
  for (std::size_t i = 0; i < field.size(); ++i)
    if (field[i] != (i < std::size_t(sent.size()) ? std::uint8_t(sent[qsizetype(i)]) : 0))
      return true;
  return false;
}

// The switch command in the record, as text.
QString SwitchCommandText(const TAppParams& record) {
  const auto field = record.FieldBytes(AppField::switch_cmd);
  return UnitText(std::string(field.begin(), std::find(field.begin(), field.end(), 0)));
}

// The report's record_sha256: of the record's bytes as sent with a write.
QString RecordSha256(const TAppParams& record) {
  const auto& bytes = record.bytes();
  return QString::fromLatin1(
      QCryptographicHash::hash(QByteArrayView(bytes.data(), qsizetype(bytes.size())),
                               QCryptographicHash::Sha256)
          .toHex());
}

QString ResultOf(const SessionResult& r) {
  return r.reason == SessionReason::Cancelled ? kStopped : kFailed;
}

} // namespace

std::vector<ProfileSource> StationPlan::SourcesFor(const UnitsRow* row) const {
  std::vector<ProfileSource> out = profile;
  if (row) out.push_back(row->values);
  return out;
}

StationPort::StationPort(int index, QString port, const StationPlan& plan, StationLedger& report)
    : index_(index), port_(std::move(port)), plan_(plan), report_(report) {}

StationPort::~StationPort() = default;

void StationPort::cancel() {
  const std::lock_guard lock(mutex_);
  cancelled_ = true;
  if (session_) session_->cancel();
  wake_.notify_all();
}

bool StationPort::Cancelled() {
  const std::lock_guard lock(mutex_);
  return cancelled_;
}

bool StationPort::Pause(std::chrono::milliseconds ms) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, std::max(ms, std::chrono::milliseconds(0)),
                         [this] { return cancelled_; });
}

bool StationPort::WatchDevice(DeviceSession& session, std::chrono::milliseconds ms) {
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    const QString device = PresentDevice(port_);
    if (session.isOpen() && !openedDevice_.isEmpty() && device != openedDevice_) {
      // Unplugged, or another device under the name: its unit went with it.
      session.close();
      Absent();
      Show(StationPortView{});
    }
    // Gone: whatever is there next is plugged in anew. A device still there
    // after its link was lost is tried at the next probe, not over and over.
    if (device.isEmpty()) openedDevice_.clear();
    if (!session.isOpen() && !device.isEmpty() && device != openedDevice_) return !Cancelled();
    const auto left = ms - std::chrono::milliseconds(waited.elapsed());
    if (left <= std::chrono::milliseconds(0)) return !Cancelled();
    if (!Pause(std::min(left, kStationPortWatchTick))) return false;
  }
}

// Tells the station only what changed.
void StationPort::Show(StationPortView view) {
  if (shownOnce_ && view == shown_) return;
  shown_ = view;
  shownOnce_ = true;
  emit changed(index_, view);
}

void StationPort::Working(const QString& step, int percent) {
  StationPortView v;
  v.state = StationPortView::State::Working;
  v.sn = shown_.sn;
  v.detail = step;
  v.percent = percent;
  Show(v);
}

// Never fails: every ending is shown and, for an attempt, in the report.
void StationPort::run() {
  DeviceSession* session = nullptr;
  {
    const std::lock_guard lock(mutex_);
    session_ = std::make_unique<DeviceSession>(std::make_unique<QtSerialPortLink>(), plan_.work);
    if (cancelled_) session_->cancel();
    session = session_.get();
  }
  Show(StationPortView{});
  // While a shared ledger cannot be reached, the unit at hand waits with it.
  report_.SetKeepTrying([this] {
    StationPortView v;
    v.sn = shown_.sn;
    v.detail = QStringLiteral("ledger unreachable, retrying");
    Show(v);
    return Pause(kLedgerRetryInterval);
  });
  // Probes start a probe interval apart whatever happened in one: a unit
  // that answers at once, fails at once or is unplugged is never asked
  // faster. A port whose device went away is opened as soon as it is back:
  // nothing there was asked since, and the next unit waits for no tick.
  while (!Cancelled()) {
    QElapsedTimer since;
    since.start();
    Probe(*session);
    const auto rest = plan_.probeInterval - std::chrono::milliseconds(since.elapsed());
    if (openRefused_)
      Pause(rest);
    else
      WatchDevice(*session, rest);
  }
  session->close();
  {
    // A cancel from another thread finds the session whole or not at all.
    const std::lock_guard lock(mutex_);
    session_.reset();
  }
  emit finished(index_);
}

void StationPort::Absent() {
  presentSn_.reset();
  presentEnded_ = false;
  silentProbes_ = 0;
  lastListensElsewhere_ = false;
}

// One probe: a unit that answers is handled (or shown as it ended, when it
// is the one present), silence counts towards its absence.
void StationPort::Probe(DeviceSession& session) {
  auto waiting = [&](const QString& detail) {
    Absent();
    StationPortView v;
    v.detail = detail;
    Show(v);
  };
  if (!session.isOpen()) {
    // Quietly, for as long as it takes: the adapter may be unplugged.
    if (const QString why = NotASerialPort(port_); !why.isEmpty()) {
      openRefused_ = true;
      return waiting(QStringLiteral("cannot open: ") + why);
    }
    LineSettings line = plan_.line;
    line.portName = port_;
    if (const SessionResult r = session.open(line); !r.ok()) {
      openRefused_ = !PresentDevice(port_).isEmpty();
      if (!openRefused_) openedDevice_.clear();
      return waiting(WaitingDetail(r));
    }
    openRefused_ = false;
    openedDevice_ = PresentDevice(port_);
  }
  session.setTimings(plan_.probe);
  const VersionResult v = session.reachConfiguration(plan_.switchBytes);
  session.setTimings(plan_.work);
  if (v.ok()) return HandleUnit(session, v.version);
  if (v.reason == SessionReason::Cancelled) {
    // The unit may have taken the switch command just as the stop came.
    session.leaveConfiguration();
    return;
  }
  // A port that went away with its unit is opened afresh when it is back.
  if (v.reason != SessionReason::NoAnswer) {
    session.close();
    return waiting({});
  }
  // The unit that ended here may be still plugged in: its ending stays for a
  // few silent probes, and for as long as its record makes it deaf to them.
  if (presentSn_ && (lastListensElsewhere_ || ++silentProbes_ < kAbsentAfterSilentProbes)) {
    if (presentEnded_) Show(ended_);
    return;
  }
  waiting({});
}

void StationPort::HandleUnit(DeviceSession& session, const QString& version) {
  unitClock_.start();
  UnitSteps steps(session, plan_.retries, plan_.switchBytes,
                  [this](const QString& line) { emit note(index_, line); });
  const SysInfoResult info = steps.readSysInfo();
  if (!info.ok()) {
    // Not known yet, so nothing is decided about it: the next probe asks
    // again. A unit unplugged just now is no failure.
    const SessionReason r = info.reason;
    if (r == SessionReason::LinkLost || r == SessionReason::NotOpen ||
        r == SessionReason::WriteFailed) {
      session.close();
      Absent();
      Show(StationPortView{});
      return;
    }
    if (presentSn_ && presentEnded_) {
      // Most likely the unit that ended here, busy a moment: it keeps its ending.
      Show(ended_);
    } else if (r != SessionReason::Cancelled) {
      StationPortView v;
      v.state = StationPortView::State::Failed;
      v.detail = steps.failureText(info) + QStringLiteral(": nothing written");
      Show(v);
    }
    steps.leave();
    return;
  }
  const QString sn = UnitText(info.info.sn).trimmed();
  silentProbes_ = 0;
  // The unit present here, its attempt over: told only to leave
  // configuration, and shown as it ended.
  if (presentSn_ == sn && presentEnded_) {
    steps.leave();
    Show(ended_);
    return;
  }
  lastListensElsewhere_ = false;
  presentSn_ = sn;
  presentEnded_ = true; // whatever happens from here is this unit's one attempt
  shown_.sn = sn;
  ReportLine line;
  line.port = port_;
  line.sn = sn;
  line.versionBefore = line.versionAfter = version;
  const StationLedger::Claim claim =
      sn.isEmpty() ? StationLedger::Claim{StationLedger::Claim::Kind::Refused,
                                          0,
                                          QStringLiteral("the unit gave no serial number"),
                                          {}}
                   : report_.ClaimFor(sn, port_, plan_.units ? &*plan_.units : nullptr);
  if (claim.kind == StationLedger::Claim::Kind::AlreadyDone)
    return DoneBefore(steps, line, claim.doneRecords);
  if (claim.kind == StationLedger::Claim::Kind::Unreachable) {
    // Stopped while the ledger was away: nothing was decided about the unit.
    steps.leave();
    presentEnded_ = false;
    return;
  }
  if (claim.kind != StationLedger::Claim::Kind::Row) {
    steps.leave();
    line.retries = steps.retriesUsed();
    Finish(line, kFailed, claim.reason + QStringLiteral(": nothing written"));
    return;
  }
  line.row = claim.row;
  ownRow_ = claim.ownRow;
  Provision(steps, line);
  report_.Release(sn);
}

void StationPort::DoneBefore(UnitSteps& steps, ReportLine& line, const QStringList& doneRecords) {
  Working(QStringLiteral("reading parameters"));
  const ParamsResult current = steps.readParams();
  steps.leave();
  line.retries = steps.retriesUsed();
  if (!current.ok()) {
    // Whether it is the unit done before is not known: nothing is decided.
    presentEnded_ = false;
    StationPortView v;
    v.state = StationPortView::State::Failed;
    v.sn = line.sn;
    v.detail = steps.failureText(current) + QStringLiteral(": nothing written");
    Show(v);
    return;
  }
  line.recordSha256 = RecordSha256(current.params);
  if (doneRecords.contains(line.recordSha256)) {
    StationPortView v;
    v.state = StationPortView::State::Done;
    v.sn = line.sn;
    v.detail = QStringLiteral("unplug");
    v.alreadyDone = true;
    Show(ended_ = v);
    return;
  }
  // A second unit under a serial number done before (a batch that kept its
  // factory serial number): writing it would give two units one identity.
  Finish(line, kFailed,
         QStringLiteral("serial number already provisioned to another unit: "
                        "nothing written"));
}

// The unit's work, from reading its record to its report line.
void StationPort::Provision(UnitSteps& steps, ReportLine& line) {
  const UnitsRow* row = ownRow_ ? &*ownRow_ : plan_.units ? plan_.units->RowAt(line.row) : nullptr;
  const std::vector<ProfileSource> sources = plan_.SourcesFor(row);
  QString result = kFailed, reason;
  auto failed = [&](const SessionResult& r) {
    result = ResultOf(r);
    reason = steps.failureText(r);
  };
  // Configuration is left whatever happened, then the line is appended.
  auto end = [&] {
    steps.leave();
    line.retries = steps.retriesUsed();
    Finish(line, result, reason);
  };
  // The values are laid over this unit's own record and checked there
  // before anything changes (a rule may look at a field they do not name).
  auto apply = [&](const QString& whatHappened) -> std::optional<TAppParams> {
    Working(QStringLiteral("reading parameters"));
    const ParamsResult current = steps.readParams();
    if (!current.ok()) {
      failed(current);
      return std::nullopt;
    }
    const UnitWrite prepared = PrepareUnitWrite(current.params, sources, ProfileChecks::FieldRules);
    if (!prepared.record) {
      reason = whatHappened + QString::fromStdString(prepared.refusal);
      return std::nullopt;
    }
    for (const std::string& told : prepared.notes)
      emit note(index_, QStringLiteral("note: ") + QString::fromStdString(told));
    return prepared.record;
  };
  std::optional<TAppParams> record = apply(QStringLiteral("nothing written: "));
  if (!record) return end();

  // From here on the row is this unit's, even should the station be cut off.
  ReportLine started = line;
  started.result = QStringLiteral("started");
  started.versionAfter.clear(); // not known yet
  started.seconds = double(unitClock_.elapsed()) / 1000.0;
  if (QString why; !report_.Append(started, why)) {
    steps.leave();
    line.retries = steps.retriesUsed();
    line.seconds = double(unitClock_.elapsed()) / 1000.0;
    Unrecorded(line, QStringLiteral("nothing written: the report cannot be written: ") + why, why);
    return;
  }

  if (plan_.flash && (plan_.reflash || line.versionBefore != QString::fromStdString(
                                                                 plan_.image.descriptor.version))) {
    line.imageChecksum =
        QStringLiteral("0x%1").arg(uint(plan_.image.descriptor.checksum), 4, 16, QChar(u'0'));
    Working(QStringLiteral("flashing"), 0);
    const SessionResult flashed =
        steps.download(plan_.image.ForDownload(), [&](const DownloadProgress& p) {
          const std::uint64_t total = std::uint64_t(std::max(p.total, 1));
          Working(QStringLiteral("flashing"),
                  int(std::min<std::uint64_t>(p.reached, total) * 100 / total));
        });
    if (!flashed.ok()) {
      failed(flashed);
      return end();
    }
    // What the unit runs now, and its record as the new firmware keeps it.
    // It may stay in configuration mode or restart: told to leave, it is
    // given the time a restart takes to answer the switch command again.
    Working(QStringLiteral("connecting after the flash"));
    const VersionResult again = steps.returnAfterDownload(k7v::kReturnAfterDownload);
    if (!again.ok()) {
      failed(again);
      return end();
    }
    line.versionAfter = again.version;
    record = apply(QStringLiteral("flashed, nothing written: "));
    if (!record) return end();
  }

  Working(QStringLiteral("writing parameters"));
  if (ListensForOther(*record, plan_.switchBytes)) {
    // From the write on, the station's probes no longer reach this unit.
    lastListensElsewhere_ = true;
    emit note(index_, QStringLiteral("warning: %1 listens for the switch command \"%2\" from now "
                                     "on; the station's probes do not reach it")
                          .arg(line.sn, SwitchCommandText(*record)));
  }
  line.recordSha256 = RecordSha256(*record);
  if (const SessionResult written = steps.write(*record); !written.ok()) {
    failed(written);
    return end();
  }
  Working(QStringLiteral("reading back"));
  const ParamsResult back = steps.readParams(UnitStep::ReadBack);
  if (!back.ok()) {
    failed(back);
    return end();
  }
  if (!(back.params == *record)) {
    const auto diffs = CompareRecords(*record, back.params);
    reason = QStringLiteral("read-back differs in %1 field(s), first %2")
                 .arg(diffs.size())
                 .arg(QLatin1String(FieldInfo(diffs.front().field).name));
    return end();
  }
  result = kOk;
  end();
}

// Appends the line, then shows how the unit ended; false when the report
// took no line (the port then says so, and the station stops).
bool StationPort::Finish(ReportLine& line, const QString& result, const QString& reason) {
  line.result = result;
  line.reason = reason;
  line.seconds = double(unitClock_.elapsed()) / 1000.0;
  StationPortView v;
  v.sn = line.sn;
  QString why;
  if (!report_.Append(line, why)) {
    Unrecorded(line,
               (result == kOk ? QStringLiteral("provisioned but not in the report: ")
                              : reason + QStringLiteral("; not in the report: ")) +
                   why,
               why);
    return false;
  }
  v.state = result == kOk        ? StationPortView::State::Done
            : result == kStopped ? StationPortView::State::Stopped
                                 : StationPortView::State::Failed;
  v.detail = result == kOk ? QStringLiteral("unplug") : reason;
  v.line = line;
  v.fresh = true;
  Show(v);
  v.fresh = false;
  ended_ = v;
  return true;
}

// An attempt the report did not take counts as failed wherever it is
// counted, and the station stops.
void StationPort::Unrecorded(ReportLine line, const QString& detail, const QString& why) {
  line.result = kFailed;
  line.reason = detail;
  StationPortView v;
  v.state = StationPortView::State::Failed;
  v.sn = line.sn;
  v.detail = detail;
  v.line = line;
  v.fresh = true;
  Show(v);
  v.fresh = false;
  ended_ = v;
  emit reportFailed(index_, why);
}
