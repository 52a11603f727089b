#include "cli/station.h"

#include <QCoreApplication>
#include <QJsonObject>
#include <QThread>
#include <set>

#include "cli/cli_output.h"
#include "cli/image_checks.h"
#include "cli/port_checks.h"
#include "cli/record_io.h"
#include "params/factory_set.h"
#include "platform/interrupt_notifier.h"

namespace {

constexpr int kMaxErrorLines = 50; // problems listed before "… and N more"

QString StateWord(StationPortView::State s) {
  switch (s) {
  case StationPortView::State::Waiting:
    return QStringLiteral("waiting");
  case StationPortView::State::Working:
    return QStringLiteral("working");
  case StationPortView::State::Done:
    return QStringLiteral("done");
  case StationPortView::State::Failed:
    return QStringLiteral("failed");
  case StationPortView::State::Stopped:
    return QStringLiteral("stopped");
  }
  return {};
}

// "working K7S…01: flashing 45 %", "done K7S…01 (row 3), unplug". Never fails.
QString ViewText(const StationPortView& v) {
  const QString sn = v.sn.isEmpty() ? QString() : u' ' + v.sn;
  switch (v.state) {
  case StationPortView::State::Waiting:
    return v.detail.isEmpty() ? QStringLiteral("waiting")
                              : QStringLiteral("waiting (%1)").arg(v.detail);
  case StationPortView::State::Working:
    return QStringLiteral("working%1: %2").arg(sn, v.detail) +
           (v.percent >= 0 ? QStringLiteral(" %1 %").arg(v.percent) : QString());
  case StationPortView::State::Done: {
    QString text = QStringLiteral("done") + sn;
    if (v.line && v.line->row > 0) text += QStringLiteral(" (row %1)").arg(v.line->row);
    if (v.alreadyDone) text += QStringLiteral(" (done before, in the report)");
    return text + QStringLiteral(", unplug");
  }
  case StationPortView::State::Failed:
    // An attempt that ended stays so until the unit is unplugged.
    return StateWord(v.state) + sn + QStringLiteral(": ") + v.detail +
           (v.line ? QStringLiteral(", unplug") : QString());
  case StationPortView::State::Stopped:
    return StateWord(v.state) + sn + QStringLiteral(": ") + v.detail;
  }
  return {};
}

} // namespace

// Never fails; Prepare does the checking.
Station::Station(const CliOptions& options, InterruptNotifier& stopRequests, QObject* parent)
    : QObject(parent), options_(options) {
  qRegisterMetaType<StationPortView>();
  connect(&stopRequests, &InterruptNotifier::interrupted, this, &Station::OnStopRequest);
  plan_.switchBytes = options.switchBytes;
  plan_.line = options.line;
  plan_.retries = options.retries;
  plan_.probeInterval = options.probeInterval.value_or(kStationProbeInterval);
  if (options.timeout)
    plan_.work.connect = plan_.work.params = plan_.work.downloadStall = *options.timeout;
  // A probe may send the switch command twice (the second time after
  // command 2): both waits fit between two probes.
  plan_.probe = plan_.work;
  plan_.probe.connect =
      options.timeout
          ? *options.timeout
          : std::min<std::chrono::milliseconds>(k7v::kConnectTimeout, plan_.probeInterval / 2);
  for (const QString& name : options.ports)
    ports_.push_back({name, {}, false, -1, nullptr, nullptr});
  live_ = !options.json && StdoutIsLiveTerminal();
}

Station::~Station() { StopAll(); }

// 0, or the exit status with the reasons in errors; no port has been opened.
int Station::Prepare(QStringList& errors) {
  std::vector<ProfileIssue> issues;
  const QString profile = options_.args.value(0);
  if (auto file = ProfileFileSource(profile, options_.format, issues)) {
    // One port sees unit after unit: {port} would give them all the same value.
    if (const std::size_t at = file->fromRecord ? std::string::npos : file->text.find("{port}");
        at != std::string::npos)
      issues.push_back({file->name,
                        int(std::count(file->text.begin(), file->text.begin() + at, '\n')) + 1,
                        {},
                        "{port}",
                        "the station gives every unit on a port the same {port}: give each "
                        "unit its own value in --values"});
    plan_.profile.push_back(std::move(*file));
  }
  if (!options_.values.isEmpty())
    if (auto units = LoadUnitsFile(options_.values, issues)) plan_.units = std::move(*units);
  // A shared ledger's rows are checked as a values file's are, so it is
  // opened first; nothing is written to it before a unit is claimed.
  if (options_.ledger && issues.empty()) {
    if (const QString why = LedgerDb::CheckConnInfo(*options_.ledger); !why.isEmpty()) {
      errors << why;
      return cli_exit::kUsage;
    }
    database_ = std::make_unique<DatabaseLedger>();
    UnitsFile rows;
    if (QString reason; !database_->Open(*options_.ledger, options_.bench, reason) ||
                        !database_->Rows(rows, reason)) {
      errors << reason;
      return cli_exit::kFailed;
    }
    ledger_ = database_.get();
    ledgerRows_ = std::move(rows);
  }
  // Every row with the profile, as each unit will get it, on the factory
  // set; each unit's own record is checked again before it is written.
  const UnitsFile* rows = plan_.units ? &*plan_.units : ledgerRows_ ? &*ledgerRows_ : nullptr;
  if (issues.empty() && rows)
    CheckUnitsRows(*rows, plan_.profile, issues, profile.toStdString());
  else if (issues.empty())
    CheckUnitsRows(UnitsFile{{}, false, {UnitsRow{}}}, plan_.profile, issues,
                   profile.toStdString());
  for (const ProfileIssue& i : issues) errors << QString::fromStdString(FormatIssue(i));

  if (!options_.flashImage.isEmpty()) {
    // The flash command's checks and wording.
    QString error, refusal;
    if (std::optional<FlashImage> image = LoadFlashImage(options_.flashImage, error, refusal)) {
      if (!refusal.isEmpty())
        errors << QStringLiteral("%1: %2, not a firmware image").arg(image->path, refusal);
      plan_.flash = true;
      plan_.reflash = options_.reflash;
      plan_.image = std::move(*image);
    } else {
      errors << error;
    }
  }
  errors << CheckPortNames(options_.ports, false);
  if (!errors.isEmpty()) {
    if (errors.size() > kMaxErrorLines) {
      const qsizetype more = errors.size() - kMaxErrorLines;
      errors = errors.mid(0, kMaxErrorLines);
      errors << QStringLiteral("… and %1 more").arg(more);
    }
    return cli_exit::kUsage;
  }
  // Last, so a usage error never creates a report; before any port, so a
  // report that cannot be written stops the station before any unit.
  if (QString reason; !database_ && !report_.Open(options_.report, reason, skipped_)) {
    errors << reason;
    return cli_exit::kFailed;
  }
  return cli_exit::kOk;
}

// Plain lines on stdout, or with --json on stderr (a JSON object too when
// jsonResult is given); under the ports in the live view.
void Station::Tell(const QString& line, const QString& jsonResult) {
  if (options_.json) {
    PrintError(line);
    if (!jsonResult.isEmpty())
      PrintJson(JsonLine(QString(), CommandWord(CliCommand::Station), jsonResult, line));
  } else if (live_ && liveLines_.drawn()) {
    liveLines_.AddNote(line);
    DrawLive(true);
  } else {
    PrintOut(line);
  }
}

void Station::StartAll() {
  running_ = int(ports_.size());
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    Port& p = ports_[i];
    p.thread = new QThread(this);
    p.worker = new StationPort(int(i), p.name, plan_, *ledger_);
    p.worker->moveToThread(p.thread);
    connect(p.thread, &QThread::started, p.worker, &StationPort::run);
    connect(p.thread, &QThread::finished, p.worker, &QObject::deleteLater);
    connect(p.worker, &StationPort::changed, this, &Station::OnChanged);
    connect(p.worker, &StationPort::note, this, &Station::OnNote);
    connect(p.worker, &StationPort::reportFailed, this, &Station::OnReportFailed);
    connect(p.worker, &StationPort::finished, this, &Station::OnFinished);
    p.thread->start();
  }
}

// Never fails; a worker exists until StopAll has waited for its thread.
void Station::CancelAll() {
  for (Port& p : ports_)
    if (p.worker) p.worker->cancel();
}

// Cancels every port and waits for its thread; safe to repeat.
void Station::StopAll() {
  CancelAll();
  for (Port& p : ports_) {
    if (!p.thread) continue;
    p.thread->quit();
    p.thread->wait();
    p.thread = nullptr;
    p.worker = nullptr;
  }
}

void Station::OnStopRequest(const QString& what) {
  if (!stoppedBy_.isEmpty()) return;
  stoppedBy_ = what;
  Tell(what + QStringLiteral(": stopping every port"));
  CancelAll();
}

void Station::OnReportFailed(int port, const QString& reason) {
  Q_UNUSED(port);
  if (!reportProblem_.isEmpty()) return;
  reportProblem_ = reason;
  Tell(QStringLiteral("the report cannot be written: %1; stopping every port").arg(reason),
       QStringLiteral("failed"));
  CancelAll();
}

void Station::OnNote(int port, const QString& line) {
  Tell(ports_[std::size_t(port)].name + QStringLiteral(": ") + line);
}

void Station::OnFinished(int port) {
  Q_UNUSED(port);
  if (--running_ == 0) QCoreApplication::instance()->exit(0);
}

void Station::OnChanged(int port, const StationPortView& view) {
  Port& p = ports_[std::size_t(port)];
  const bool sameStep = p.told && p.view.state == view.state && p.view.detail == view.detail &&
                        p.view.sn == view.sn && !view.line;
  p.told = true;
  p.view = view;
  if (view.state == StationPortView::State::Working && !sinceFirstUnit_.isValid())
    sinceFirstUnit_.start();
  const bool finished = view.fresh && view.line;
  if (finished) {
    const QString& r = view.line->result;
    done_ += r == QLatin1String("ok");
    if (r == QLatin1String("ok")) lastDoneAt_ = std::max<qint64>(sinceFirstUnit_.elapsed(), 1);
    failed_ += r == QLatin1String("failed");
    stopped_ += r == QLatin1String("stopped");
    retries_ += view.line->retries;
  }
  if (live_) {
    DrawLive(finished || !sameStep);
    return;
  }
  // Plain and JSON lines: each new state or step, and a flash at every quarter.
  const int quarter = view.percent >= 0 ? view.percent / 25 : -1;
  if (sameStep && quarter == p.reportedQuarter) return;
  p.reportedQuarter = quarter;
  PrintView(p);
  if (finished) PrintTotals();
}

void Station::PrintView(const Port& p) {
  const StationPortView& v = p.view;
  if (!options_.json) {
    PrintOut(p.name + QStringLiteral(": ") + ViewText(v));
    return;
  }
  const bool problem = v.state == StationPortView::State::Failed ||
                       v.state == StationPortView::State::Stopped ||
                       v.state == StationPortView::State::Waiting;
  QJsonObject json = JsonLine(p.name, CommandWord(CliCommand::Station), StateWord(v.state),
                              problem ? v.detail : QString());
  if (!v.sn.isEmpty()) json[QStringLiteral("sn")] = v.sn;
  if (v.state == StationPortView::State::Working) json[QStringLiteral("step")] = v.detail;
  if (v.percent >= 0) json[QStringLiteral("percent")] = v.percent;
  if (v.state == StationPortView::State::Done) json[QStringLiteral("already")] = v.alreadyDone;
  if (const auto& l = v.line; l && v.fresh) { // once, when the line was appended
    json[QStringLiteral("time")] = l->time;
    json[QStringLiteral("row")] = l->row > 0 ? QJsonValue(l->row) : QJsonValue();
    json[QStringLiteral("version_before")] = l->versionBefore;
    json[QStringLiteral("version_after")] = l->versionAfter;
    json[QStringLiteral("image_checksum")] = l->imageChecksum;
    json[QStringLiteral("record_sha256")] = l->recordSha256;
    json[QStringLiteral("retries")] = l->retries;
    json[QStringLiteral("seconds")] = l->seconds;
  }
  PrintJson(json);
}

// From the first unit worked on to the last one done, once two are done: a
// single unit says nothing about the pace. The same figure in the totals
// after the last unit and in the summary.
std::optional<double> Station::UnitsPerHour() const {
  if (done_ < 2 || !sinceFirstUnit_.isValid()) return std::nullopt;
  return double(done_) * 3600000.0 / double(std::max<qint64>(lastDoneAt_, 1));
}

QString Station::TotalsText() const {
  QString text = QStringLiteral("done %1, failed %2").arg(done_).arg(failed_);
  if (stopped_ > 0) text += QStringLiteral(", stopped %1").arg(stopped_);
  if (const auto rate = UnitsPerHour())
    text += QStringLiteral(", %1 units/h").arg(*rate, 0, 'f', 0);
  return text;
}

void Station::PrintTotals() {
  if (!options_.json) {
    PrintOut(QStringLiteral("totals: ") + TotalsText());
    return;
  }
  QJsonObject json =
      JsonLine(QString(), CommandWord(CliCommand::Station), QStringLiteral("totals"));
  json[QStringLiteral("done")] = done_;
  json[QStringLiteral("failed")] = failed_;
  json[QStringLiteral("stopped")] = stopped_;
  json[QStringLiteral("units_per_hour")] =
      UnitsPerHour() ? QJsonValue(*UnitsPerHour()) : QJsonValue();
  PrintJson(json);
}

// Every port's line, the totals and the latest notes, redrawn in place;
// skipped when the last redraw is too recent.
void Station::DrawLive(bool force) {
  int width = 0;
  for (const Port& p : ports_) width = std::max(width, int(p.name.size()));
  QStringList lines;
  for (const Port& p : ports_) {
    const QString line = p.name.leftJustified(width) + QStringLiteral("  ") + ViewText(p.view);
    // A failed unit in red, so it is not taken for one to ship.
    lines << (p.view.state == StationPortView::State::Failed
                  ? QStringLiteral("\x1b[31m") + line + QStringLiteral("\x1b[0m")
                  : line);
  }
  lines << QStringLiteral("totals: ") + TotalsText();
  liveLines_.Draw(lines, force);
}

void Station::PrintSummary() {
  const double seconds = double(clock_.elapsed()) / 1000.0;
  const bool failedRun = failed_ > 0 || stopped_ > 0 || !reportProblem_.isEmpty();
  if (options_.json) {
    QJsonObject json = JsonLine(
        QString(), CommandWord(CliCommand::Station),
        failedRun ? QStringLiteral("failed") : QStringLiteral("ok"),
        !reportProblem_.isEmpty() ? QStringLiteral("the report cannot be "
                                                   "written: ") +
                                        reportProblem_
        : failedRun ? QStringLiteral("%1 unit(s) failed, %2 stopped").arg(failed_).arg(stopped_)
                    : QString());
    json[QStringLiteral("summary")] = true;
    json[QStringLiteral("stopped_by")] = stoppedBy_;
    json[QStringLiteral("ports")] = int(ports_.size());
    json[QStringLiteral("done")] = done_;
    json[QStringLiteral("failed")] = failed_;
    json[QStringLiteral("stopped")] = stopped_;
    json[QStringLiteral("retries")] = retries_;
    json[QStringLiteral("units_per_hour")] =
        UnitsPerHour() ? QJsonValue(*UnitsPerHour()) : QJsonValue();
    json[QStringLiteral("seconds")] = seconds;
    json[QStringLiteral("report")] = ledger_->where();
    json[QStringLiteral("done_in_report")] = ledger_->doneCount();
    json[QStringLiteral("ledger_waited")] = ledger_->waitedText();
    if (database_) {
      const DatabaseLedger::ClaimTimes t = database_->claimTimes();
      json[QStringLiteral("ledger_claims")] = t.count;
      json[QStringLiteral("ledger_claim_ms_median")] = t.median;
      json[QStringLiteral("ledger_claim_ms_p95")] = t.p95;
    }
    PrintJson(json);
    return;
  }
  if (live_) DrawLive(true);
  PrintOut(QString());
  PrintOut(QStringLiteral("station %1 after %2 s: %3, retries %4")
               .arg(stoppedBy_.isEmpty() ? QStringLiteral("stopped")
                                         : QStringLiteral("stopped by ") + stoppedBy_)
               .arg(seconds, 0, 'f', 0)
               .arg(TotalsText())
               .arg(retries_));
  PrintOut(QStringLiteral("report: %1 (%2 unit(s) done in all)")
               .arg(ledger_->where())
               .arg(ledger_->doneCount()));
  if (const QString waited = ledger_->waitedText(); !waited.isEmpty()) PrintOut(waited);
  if (database_ && database_->claimTimes().count > 0) {
    const DatabaseLedger::ClaimTimes t = database_->claimTimes();
    PrintOut(QStringLiteral("ledger claims: %1, median %2 ms, 95th percentile %3 ms")
                 .arg(t.count)
                 .arg(t.median, 0, 'f', 1)
                 .arg(t.p95, 0, 'f', 1));
  }
  if (!reportProblem_.isEmpty())
    PrintOut(QStringLiteral("the report could not be written: ") + reportProblem_);
}

int Station::Run() {
  clock_.start();
  for (const QString& s : skipped_)
    Tell(QStringLiteral("warning: ") + s, QStringLiteral("warning"));
  if (plan_.flash) {
    const QString what = ImageDescription(plan_.image.path, plan_.image.descriptor);
    if (options_.json) {
      QJsonObject json = FlashImageJson(CommandWord(CliCommand::Station), plan_.image);
      json[QStringLiteral("reflash")] = plan_.reflash;
      PrintJson(json);
    }
    Tell(QStringLiteral("image %1; flashed into every unit%2")
             .arg(what, plan_.reflash ? QString() : QStringLiteral(" of another version")));
  }
  const UnitsFile* rows = plan_.units ? &*plan_.units : ledgerRows_ ? &*ledgerRows_ : nullptr;
  const QString values = !rows ? QStringLiteral("no values file")
                               : QStringLiteral("values %1: %2 row(s) %3")
                                     .arg(rows->path)
                                     .arg(rows->rows.size())
                                     .arg(rows->keyedBySn ? QStringLiteral("by serial number")
                                                          : QStringLiteral("in order"));
  if (options_.json) {
    QJsonObject json =
        JsonLine(QString(), CommandWord(CliCommand::Station), QStringLiteral("ready"));
    json[QStringLiteral("ports")] = int(ports_.size());
    json[QStringLiteral("report")] = ledger_->where();
    json[QStringLiteral("done_in_report")] = ledger_->doneCount();
    json[QStringLiteral("rows")] = rows ? int(rows->rows.size()) : 0;
    json[QStringLiteral("rows_used")] = ledger_->rowsUsedCount();
    PrintJson(json);
  }
  Tell(QStringLiteral("station on %1 port(s); %2; report %3: %4 unit(s) done, %5 row(s) used; "
                      "Ctrl+C stops")
           .arg(ports_.size())
           .arg(values, ledger_->where())
           .arg(ledger_->doneCount())
           .arg(ledger_->rowsUsedCount()));
  if (live_) DrawLive(true);
  if (!ports_.empty()) {
    StartAll();
    QCoreApplication::exec();
  }
  StopAll();
  PrintSummary();
  return failed_ > 0 || stopped_ > 0 || !reportProblem_.isEmpty() ? cli_exit::kFailed
                                                                  : cli_exit::kOk;
}
