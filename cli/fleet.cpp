#include "cli/fleet.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <QThread>

#include "cli/cli_output.h"
#include "cli/image_checks.h"
#include "cli/port_checks.h"
#include "cli/record_io.h"
#include "cli/unit_job.h"
#include "link/link_settings_file.h"
#include "params/factory_set.h"
#include "platform/code_page_936.h"
#include "platform/interrupt_notifier.h"

namespace {

// Never fails.
QString ResultWord(UnitOutcome::Result r) {
  switch (r) {
  case UnitOutcome::Result::Ok:
    return QStringLiteral("ok");
  case UnitOutcome::Result::Failed:
    return QStringLiteral("failed");
  case UnitOutcome::Result::Stopped:
    return QStringLiteral("stopped");
  case UnitOutcome::Result::NotFound:
    return QStringLiteral("none");
  }
  return {};
}

QString Seconds(double s) { return QString::number(s, 'f', 1) + QStringLiteral(" s"); }

QString PadRight(const QString& s, int width) { return s.leftJustified(width, u' '); }

// The unit's texts are GBK bytes, like the record's.
QString UnitText(const std::string& s) { return QString::fromStdString(cp936::ToUtf8(s).utf8); }

} // namespace

// Never fails; a plan without {port} comes back as it is.
std::vector<ProfileSource> ProfileForPort(const UnitPlan& plan, const QString& port) {
  std::vector<ProfileSource> out = plan.profile;
  const std::string base = PortBaseName(port).toStdString();
  for (ProfileSource& src : out) {
    if (src.fromRecord) continue; // a unit's own texts are not the technician's pattern
    for (std::size_t at; (at = src.text.find("{port}")) != std::string::npos;)
      src.text.replace(at, 6, base);
  }
  return out;
}

// Never fails.
std::vector<LineSettings> ScanSettings(const LineSettings& first) {
  std::vector<LineSettings> out{first};
  for (const int baud : parcfg::kBaudRates) {
    LineSettings s;
    s.baudRate = baud;
    s.dataBits = 8;
    s.stopBitsIndex = parcfg::kStopBitsOne;
    s.parityIndex = 0;
    if (s.baudRate != first.baudRate || s.dataBits != first.dataBits ||
        s.stopBitsIndex != first.stopBitsIndex || s.parityIndex != first.parityIndex)
      out.push_back(s);
  }
  return out;
}

QString FramingText(const LineSettings& line) {
  const char parity = line.parityIndex == 1 ? 'O' : line.parityIndex == 2 ? 'E' : 'N';
  return QStringLiteral("%1 %2%3%4")
      .arg(line.baudRate)
      .arg(line.dataBits)
      .arg(QChar::fromLatin1(parity))
      .arg(line.stopBitsIndex == parcfg::kStopBitsOne ? 1 : 2);
}

// Never fails; Prepare does the checking.
Fleet::Fleet(const CliOptions& options, InterruptNotifier& stopRequests, QObject* parent)
    : QObject(parent), options_(options) {
  qRegisterMetaType<UnitOutcome>();
  connect(&stopRequests, &InterruptNotifier::interrupted, this, &Fleet::OnStopRequest);
  plan_.command = options.command;
  plan_.switchBytes = options.switchBytes;
  plan_.line = options.line;
  plan_.timeout = options.timeout;
  plan_.retries = options.retries;
  plan_.checks = options.force ? ProfileChecks::RecordOnly : ProfileChecks::FieldRules;
  for (const QString& port : options.ports) {
    Unit u;
    u.port = port;
    u.step = QStringLiteral("waiting");
    units_.push_back(u);
  }
  // Results and data on stdout; the human-readable progress goes beside them.
  const bool readToStdout = options.command == CliCommand::Read && options.output.isEmpty();
  statusToStderr_ = options.json || readToStdout || options.command == CliCommand::Diff;
  live_ = !statusToStderr_ && StdoutIsLiveTerminal();
}

Fleet::~Fleet() { StopAll(); }

// Empty when no -o was given (stdout).
QString Fleet::OutputPathFor(const QString& port) const {
  QString path = options_.output;
  return path.replace(QLatin1String("{port}"), PortBaseName(port));
}

// 0, or the exit status with the reasons in errors; nothing has been opened then.
int Fleet::Prepare(QStringList& errors) {
  bool usage = false;
  bool usesPortName = UsesPortName(options_);
  if (plan_.command == CliCommand::Write) {
    const QString path = options_.args.value(0);
    std::vector<ProfileIssue> issues;
    std::optional<ProfileSource> file = ProfileFileSource(path, options_.format, issues);
    if (!file) {
      for (const ProfileIssue& i : issues) errors << QString::fromStdString(FormatIssue(i));
      return cli_exit::kUsage;
    }
    usesPortName =
        usesPortName || (!file->fromRecord && file->text.find("{port}") != std::string::npos);
    plan_.profile.push_back(std::move(*file));
    for (const QString& set : options_.sets)
      plan_.profile.push_back({"--set", set.toStdString(), true});
    // Checked on the factory set here; each unit's own record is checked again
    // before anything is sent to it (a rule may look at a field the profile
    // does not name).
    const ProfileChecks pre = plan_.checks == ProfileChecks::FieldRules
                                  ? ProfileChecks::FieldRulesNamedOnly
                                  : plan_.checks;
    bool namesSome = false;
    for (const QString& port : options_.ports) {
      const ProfileResult r = ApplyProfiles(FactoryParams(), ProfileForPort(plan_, port), pre);
      namesSome = namesSome || r.named.any();
      for (const ProfileIssue& i : r.errors) {
        const QString line = QString::fromStdString(FormatIssue(i));
        if (!errors.contains(line)) errors << line;
      }
    }
    if (errors.isEmpty() && !namesSome)
      errors << QStringLiteral("%1 sets no field%2: nothing to write")
                    .arg(path,
                         options_.sets.isEmpty() ? QString() : QStringLiteral(" nor does --set"));
    usage = !errors.isEmpty();
  } else if (plan_.command == CliCommand::Flash) {
    // The window's checks and wording.
    QString error, refusal;
    std::optional<FlashImage> image = LoadFlashImage(options_.args.value(0), error, refusal);
    if (!image) {
      errors << error;
      return cli_exit::kUsage;
    }
    if (!refusal.isEmpty() && !options_.force) {
      errors << QStringLiteral("%1: %2, not a firmware image (--force flashes it all the same)")
                    .arg(image->path, refusal);
      return cli_exit::kUsage;
    }
    plan_.image = std::move(*image);
  } else if (plan_.command == CliCommand::Scan && units_.empty()) {
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
      Unit u;
      u.port = info.systemLocation();
      u.step = QStringLiteral("waiting");
      units_.push_back(u);
      options_.ports << u.port;
    }
  }
  for (const QString& e : CheckPortNames(options_.ports, usesPortName)) {
    errors << e;
    usage = true;
  }
  if (plan_.command == CliCommand::Read && !options_.output.isEmpty()) {
    for (const QString& port : options_.ports) {
      const QString path = OutputPathFor(port);
      if (const QString why = OutputPathProblem(path); !why.isEmpty())
        errors << QStringLiteral("%1: %2").arg(path, why);
    }
  }
  if (errors.isEmpty()) return 0;
  return usage ? cli_exit::kUsage : cli_exit::kFailed;
}

// Never fails.
void Fleet::Status(const QString& line) {
  if (statusToStderr_)
    PrintError(line);
  else
    PrintOut(line);
}

// Never fails.
void Fleet::OnNote(int unit, const QString& line) {
  const QString text = units_[std::size_t(unit)].port + QStringLiteral(": ") + line;
  if (recordOnly_ && !line.startsWith(QLatin1String("retry"))) return;
  if (live_) {
    liveLines_.AddNote(text);
    DrawLive(true);
  } else {
    Status(text);
  }
}

// One thread per unit; never fails (a unit that cannot start reports through its outcome).
void Fleet::StartAll() {
  running_ = int(units_.size());
  for (std::size_t i = 0; i < units_.size(); ++i) {
    Unit& u = units_[i];
    u.thread = new QThread(this);
    u.job = new UnitJob(int(i), u.port, plan_);
    u.job->moveToThread(u.thread);
    connect(u.thread, &QThread::started, u.job, &UnitJob::run);
    connect(u.thread, &QThread::finished, u.job, &QObject::deleteLater);
    connect(u.job, &UnitJob::step, this, &Fleet::OnStep);
    connect(u.job, &UnitJob::note, this, &Fleet::OnNote);
    connect(u.job, &UnitJob::finished, this, &Fleet::OnFinished);
    u.thread->start();
  }
}

// Never fails; a job exists until StopAll has waited for its thread.
void Fleet::CancelRunning() {
  for (Unit& u : units_)
    if (u.job && !u.outcome) u.job->cancel();
}

// Cancels what still runs and waits for every thread; safe to repeat.
void Fleet::StopAll() {
  CancelRunning();
  for (Unit& u : units_) {
    if (u.thread) {
      u.thread->quit();
      u.thread->wait();
      u.thread = nullptr;
      u.job = nullptr;
    }
  }
}

// A stop request cancels every running unit; the first one names the stop.
void Fleet::OnStopRequest(const QString& what) {
  if (!stoppedBy_.isEmpty()) return;
  stoppedBy_ = what;
  const QString line = what + QStringLiteral(": stopping every unit");
  if (live_) {
    liveLines_.AddNote(line);
    DrawLive(true);
  } else if (!recordOnly_ || !options_.json) {
    Status(line);
  }
  CancelRunning();
}

// Never fails.
void Fleet::OnStep(int unit, const QString& step, int percent, int secondsLeft) {
  Unit& u = units_[std::size_t(unit)];
  const bool changed = u.step != step;
  u.step = step;
  u.percent = percent;
  u.secondsLeft = secondsLeft;
  if (live_) {
    DrawLive(false);
  } else if (!options_.json && !recordOnly_) { // diff prints only the differences
    // Plain lines for logs: each new step, and a flash at every quarter.
    const bool quarter = percent >= 0 && percent / 25 != u.reportedQuarter;
    if (changed || quarter) {
      u.reportedQuarter = percent >= 0 ? percent / 25 : -1;
      Status(percent >= 0 ? QStringLiteral("%1: %2 %3 %").arg(u.port, step).arg(percent)
                          : QStringLiteral("%1: %2").arg(u.port, step));
    }
  }
}

// Ends the run when it was the last unit; never fails.
void Fleet::OnFinished(int unit, const UnitOutcome& outcome) {
  Unit& u = units_[std::size_t(unit)];
  u.outcome = outcome;
  if (outcome.result == UnitOutcome::Result::Stopped && !stoppedBy_.isEmpty())
    u.outcome->reason = stoppedBy_ + QStringLiteral(": ") + outcome.reason;
  const UnitOutcome& o = *u.outcome;
  u.step =
      ResultWord(o.result) + (o.reason.isEmpty() ? QString() : QStringLiteral(": ") + o.reason);
  u.percent = -1;
  if (recordOnly_) {
    if (o.result != UnitOutcome::Result::Ok && !options_.json)
      PrintError(QStringLiteral("%1: %2").arg(u.port, u.step));
  } else {
    Report(unit);
  }
  if (live_) DrawLive(true);
  if (--running_ == 0) QCoreApplication::instance()->exit(0);
}

// What the summary shows beside an outcome: the reason of a failure, what an
// ok unit gave.
QString Fleet::Details(const UnitOutcome& o) const {
  if (o.result != UnitOutcome::Result::Ok) return o.reason;
  switch (plan_.command) {
  case CliCommand::Write:
    return o.fieldsChanged == 0 ? QStringLiteral("already so: 0 fields changed")
                                : QStringLiteral("%1 field(s) changed").arg(o.fieldsChanged);
  case CliCommand::Info:
    return QStringLiteral("version %1, sn %2").arg(o.version, UnitText(o.sysInfo.sn));
  case CliCommand::Scan:
    return QStringLiteral("%1, version %2, sn %3")
        .arg(o.foundAt ? FramingText(*o.foundAt) : QString(), o.version, UnitText(o.sysInfo.sn));
  default:
    return {};
  }
}

// The unit's result: a JSON line, a file, or plain lines.
void Fleet::Report(int unit) {
  Unit& u = units_[std::size_t(unit)];
  UnitOutcome& o = *u.outcome;
  QJsonObject json = JsonLine(u.port, CommandWord(plan_.command), {}, {});
  json[QStringLiteral("seconds")] = o.seconds;
  json[QStringLiteral("retries")] = o.retries;
  QStringList lines;
  const bool ok = o.result == UnitOutcome::Result::Ok;
  if (ok && (plan_.command == CliCommand::Info || plan_.command == CliCommand::Scan)) {
    json[QStringLiteral("version")] = o.version;
    json[QStringLiteral("product_type")] = UnitText(o.sysInfo.product_type);
    json[QStringLiteral("product_model")] = UnitText(o.sysInfo.product_model);
    json[QStringLiteral("serial_type")] = UnitText(o.sysInfo.serial_type);
    json[QStringLiteral("sn")] = UnitText(o.sysInfo.sn);
    if (o.foundAt) {
      json[QStringLiteral("baud")] = o.foundAt->baudRate;
      json[QStringLiteral("framing")] = FramingText(*o.foundAt).section(u' ', 1);
      lines << QStringLiteral("%1: unit at %2, version %3, sn %4")
                   .arg(u.port, FramingText(*o.foundAt), o.version, UnitText(o.sysInfo.sn));
    } else {
      lines << QStringLiteral("%1: version %2, product %3, model %4, serial port %5, sn %6")
                   .arg(u.port, o.version, UnitText(o.sysInfo.product_type),
                        UnitText(o.sysInfo.product_model), UnitText(o.sysInfo.serial_type),
                        UnitText(o.sysInfo.sn));
    }
  }
  if (plan_.command == CliCommand::Write && o.fieldsChanged >= 0)
    json[QStringLiteral("fields_changed")] = o.fieldsChanged;
  if (o.newSwitchCommand) json[QStringLiteral("switch_cmd")] = *o.newSwitchCommand;
  if (ok && plan_.command == CliCommand::Read && o.record) {
    const QString path = OutputPathFor(u.port);
    if (path.isEmpty() && options_.json) {
      json[QStringLiteral("profile")] = QString::fromStdString(WriteProfile(*o.record));
    } else {
      QString reason;
      if (SaveRecordAs(path, options_.format, *o.record, reason)) {
        if (!path.isEmpty()) json[QStringLiteral("file")] = path;
      } else {
        o.result = UnitOutcome::Result::Failed;
        o.reason = path.isEmpty() ? reason : QStringLiteral("%1: %2").arg(path, reason);
        u.step = ResultWord(o.result) + QStringLiteral(": ") + o.reason;
      }
    }
  }
  json[QStringLiteral("result")] = ResultWord(o.result);
  json[QStringLiteral("reason")] = o.reason;
  if (options_.json) {
    PrintJson(json);
  } else if (!live_) {
    for (const QString& l : lines) Status(l);
    Status(QStringLiteral("%1: %2").arg(u.port, u.step));
  } else {
    for (const QString& l : lines) u.step += QStringLiteral(" · ") + l.mid(u.port.size() + 2);
  }
}

// Redraws every unit's line, and the latest notes under them, in place;
// skipped when the last redraw is too recent.
void Fleet::DrawLive(bool force) {
  int width = 0;
  for (const Unit& u : units_) width = std::max(width, int(u.port.size()));
  QStringList lines;
  for (const Unit& u : units_) {
    QString line = PadRight(u.port, width) + QStringLiteral("  ") + u.step;
    if (u.percent >= 0) line += QStringLiteral("  %1 %").arg(u.percent, 3);
    if (u.secondsLeft >= 0) line += QStringLiteral("  %1 s left").arg(u.secondsLeft);
    lines << line;
  }
  liveLines_.Draw(lines, force);
}

// A table in plain text; with --json one closing object.
void Fleet::PrintSummary() {
  int okCount = 0, failed = 0, stopped = 0, found = 0, retries = 0;
  QStringList warnings;
  for (const Unit& u : units_) {
    const UnitOutcome o = u.outcome.value_or(UnitOutcome{});
    okCount += o.result == UnitOutcome::Result::Ok;
    failed += o.result == UnitOutcome::Result::Failed;
    stopped += o.result == UnitOutcome::Result::Stopped;
    found += o.foundAt.has_value();
    retries += o.retries;
    if (o.newSwitchCommand)
      warnings << QStringLiteral("%1: the unit's switch command is now \"%2\"; the next session "
                                 "must use --switch '%2'")
                      .arg(u.port, *o.newSwitchCommand);
  }
  const int total = int(units_.size());
  if (options_.json) {
    // A scan is judged by what it found: ports without a unit are its normal case.
    const bool scan = plan_.command == CliCommand::Scan;
    const QString result = !stoppedBy_.isEmpty() ? QStringLiteral("stopped")
                           : scan && found == 0  ? QStringLiteral("none")
                           : !scan && failed > 0 ? QStringLiteral("failed")
                                                 : QStringLiteral("ok");
    QString reason;
    if (!stoppedBy_.isEmpty())
      reason = QStringLiteral("stopped by %1").arg(stoppedBy_);
    else if (!scan && failed > 0)
      reason = QStringLiteral("%1 of %2 unit(s) failed").arg(failed).arg(total);
    QJsonObject json = JsonLine(QString(), CommandWord(plan_.command), result, reason);
    json[QStringLiteral("summary")] = true;
    json[QStringLiteral("units")] = total;
    json[QStringLiteral("succeeded")] = okCount;
    json[QStringLiteral("failed")] = failed;
    json[QStringLiteral("stopped")] = stopped;
    json[QStringLiteral("retries")] = retries;
    if (plan_.command == CliCommand::Scan) json[QStringLiteral("found")] = found;
    json[QStringLiteral("warnings")] = QJsonArray::fromStringList(warnings);
    PrintJson(json);
    for (const QString& w : warnings) PrintError(QStringLiteral("warning: ") + w);
    return;
  }
  int portWidth = 4, detailWidth = 7;
  for (const Unit& u : units_) {
    portWidth = std::max(portWidth, int(u.port.size()));
    if (u.outcome) detailWidth = std::max(detailWidth, int(Details(*u.outcome).size()));
  }
  Status(QString());
  Status(PadRight(QStringLiteral("port"), portWidth) + QStringLiteral("  ") +
         PadRight(QStringLiteral("result"), 7) + QStringLiteral("  retries  ") +
         PadRight(QStringLiteral("details"), detailWidth) + QStringLiteral("  time"));
  for (const Unit& u : units_) {
    const UnitOutcome o = u.outcome.value_or(UnitOutcome{});
    Status(PadRight(u.port, portWidth) + QStringLiteral("  ") + PadRight(ResultWord(o.result), 7) +
           QStringLiteral("  ") + PadRight(QString::number(o.retries), 7) + QStringLiteral("  ") +
           PadRight(Details(o), detailWidth) + QStringLiteral("  ") + Seconds(o.seconds));
  }
  if (plan_.command == CliCommand::Scan)
    Status(QStringLiteral("%1 unit(s) found on %2 port(s)").arg(found).arg(total));
  for (const QString& w : warnings) Status(QStringLiteral("warning: ") + w);
  if (!stoppedBy_.isEmpty()) Status(QStringLiteral("stopped by %1").arg(stoppedBy_));
}

// False when any unit failed or was stopped, or a stop was requested.
bool Fleet::Run() {
  if (plan_.command == CliCommand::Flash) {
    // What is about to go into every unit, for a last look in the log.
    const QString what = ImageDescription(plan_.image.path, plan_.image.descriptor);
    if (options_.json) {
      PrintJson(FlashImageJson(CommandWord(plan_.command), plan_.image));
    } else {
      Status(QStringLiteral("flashing ") + what);
    }
    if (plan_.image.name.size() > k7v::kDownloadNameSize)
      Status(QStringLiteral("the image name is longer than %1 bytes; the units get: %2")
                 .arg(k7v::kDownloadNameSize)
                 .arg(QString::fromStdString(plan_.image.name.substr(0, k7v::kDownloadNameSize))));
  }
  if (live_) DrawLive(true);
  if (!units_.empty()) {
    StartAll();
    QCoreApplication::exec();
  }
  StopAll();
  PrintSummary();
  if (!stoppedBy_.isEmpty()) return false;
  // A scan is judged by what it found: ports without a unit are its normal case.
  if (plan_.command == CliCommand::Scan)
    return std::any_of(units_.begin(), units_.end(),
                       [](const Unit& u) { return u.outcome && u.outcome->foundAt; });
  return std::all_of(units_.begin(), units_.end(), [](const Unit& u) {
    return u.outcome && u.outcome->result == UnitOutcome::Result::Ok;
  });
}

// nullopt when the unit failed or a stop was requested; the reason is on stderr.
std::optional<TAppParams> Fleet::ReadOne() {
  plan_.command = CliCommand::Read;
  statusToStderr_ = true;
  live_ = false;
  recordOnly_ = true;
  StartAll();
  QCoreApplication::exec();
  StopAll();
  const Unit& u = units_.front();
  if (u.outcome && u.outcome->result == UnitOutcome::Result::Ok && stoppedBy_.isEmpty())
    return u.outcome->record;
  const QString result = u.outcome ? ResultWord(u.outcome->result) : QStringLiteral("stopped");
  const QString reason = u.outcome && u.outcome->result != UnitOutcome::Result::Ok
                             ? u.outcome->reason
                             : QStringLiteral("stopped by %1").arg(stoppedBy_);
  if (options_.json) PrintJson(JsonLine(u.port, CommandWord(CliCommand::Diff), result, reason));
  return std::nullopt;
}
