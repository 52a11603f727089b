#include "cli/fleet.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonObject>
#include <QThread>
#include <cstdio>

#include "cli/cli_output.h"
#include "cli/unit_job.h"
#include "firmware/image_file.h"
#include "params/factory_set.h"
#include "params/record_file.h"
#include "platform/code_page_936.h"
#include "platform/interrupt_notifier.h"

namespace {

constexpr int kLiveRedrawMs = 100; // a terminal line is redrawn at most this often

// Empty for the commands that talk to no unit.
const char* CommandWord(CliCommand c) {
  switch (c) {
  case CliCommand::Info:
    return "info";
  case CliCommand::Read:
    return "read";
  case CliCommand::Write:
    return "write";
  case CliCommand::Flash:
    return "flash";
  default:
    return "";
  }
}

// Never fails.
QString ResultWord(UnitOutcome::Result r) {
  switch (r) {
  case UnitOutcome::Result::Ok:
    return QStringLiteral("ok");
  case UnitOutcome::Result::Failed:
    return QStringLiteral("failed");
  case UnitOutcome::Result::Stopped:
    return QStringLiteral("stopped");
  }
  return {};
}

QString Seconds(double s) { return QString::number(s, 'f', 1) + QStringLiteral(" s"); }

QString PadRight(const QString& s, int width) { return s.leftJustified(width, u' '); }

} // namespace

QString PortBaseName(const QString& port) { return QFileInfo(port).fileName(); }

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

// Never fails; Prepare does the checking.
Fleet::Fleet(const CliOptions& options, QObject* parent) : QObject(parent), options_(options) {
  qRegisterMetaType<UnitOutcome>();
  plan_.command = options.command;
  plan_.switchCommand = options.switchCommand;
  plan_.line = options.line;
  plan_.timeout = options.timeout;
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

// Empty when no -o was given.
QString Fleet::OutputPathFor(const QString& port) const {
  QString path = options_.output;
  return path.replace(QLatin1String("{port}"), PortBaseName(port));
}

// False with the reasons in errors; nothing has been opened then.
bool Fleet::Prepare(QStringList& errors) {
  if (plan_.command == CliCommand::Write) {
    const QString path = options_.args.value(0);
    if (!IsProfilePath(path)) {
      // A raw record names every field.
      std::vector<ProfileIssue> issues;
      const auto raw = LoadRecordFile(path, FactoryParams(), ProfileChecks::RecordOnly, issues);
      if (!raw) {
        for (const ProfileIssue& i : issues) errors << QString::fromStdString(FormatIssue(i));
        return false;
      }
      plan_.profile.push_back({path.toStdString(), WriteProfile(*raw), false, true});
    } else {
      QString reason;
      const auto bytes = ReadPlainFile(path, reason);
      if (!bytes) {
        errors << QStringLiteral("%1: %2").arg(path, reason);
        return false;
      }
      plan_.profile.push_back(
          {path.toStdString(), ProfileTextFromFileBytes(bytes->toStdString()), false});
    }
    for (const QString& set : options_.sets)
      plan_.profile.push_back({"--set", set.toStdString(), true});
    // Checked on the factory set here; each unit's own record is checked again
    // before anything is sent to it (a rule may look at a field the profile
    // does not name).
    const ProfileChecks pre = plan_.checks == ProfileChecks::FieldRules
                                  ? ProfileChecks::FieldRulesNamedOnly
                                  : plan_.checks;
    for (const QString& port : options_.ports) {
      const ProfileResult r = ApplyProfiles(FactoryParams(), ProfileForPort(plan_, port), pre);
      for (const ProfileIssue& i : r.errors) {
        const QString line = QString::fromStdString(FormatIssue(i));
        if (!errors.contains(line)) errors << line;
      }
    }
  } else if (plan_.command == CliCommand::Flash) {
    // The window's checks and wording.
    QString reason;
    const QString path = options_.args.value(0);
    const std::optional<ImageFile> image = ReadImageFile(path, reason);
    if (!image) {
      errors << QStringLiteral("%1: %2").arg(path, reason);
      return false;
    }
    plan_.image = image->descriptor;
    plan_.imageBody = image->body;
    plan_.imageName = BareImageName(path.toStdString());
  } else if (plan_.command == CliCommand::Read && !options_.output.isEmpty()) {
    for (const QString& port : options_.ports) {
      const QFileInfo out(OutputPathFor(port));
      if (out.exists() && !out.isFile())
        errors << QStringLiteral("%1: exists and is not a plain file").arg(out.filePath());
      if (!out.absoluteDir().exists())
        errors << QStringLiteral("%1: no such directory").arg(out.absolutePath());
    }
  }
  return errors.isEmpty();
}

// Never fails.
void Fleet::Status(const QString& line) {
  if (statusToStderr_)
    PrintError(line);
  else
    PrintOut(line);
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
    connect(u.job, &UnitJob::finished, this, &Fleet::OnFinished);
    u.thread->start();
  }
}

// Cancels what still runs and waits for every thread; safe to repeat.
void Fleet::StopAll() {
  for (Unit& u : units_) {
    if (u.job && !u.outcome) u.job->cancel();
  }
  for (Unit& u : units_) {
    if (u.thread) {
      u.thread->quit();
      u.thread->wait();
      u.thread = nullptr;
      u.job = nullptr;
    }
  }
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
  u.step = ResultWord(outcome.result) +
           (outcome.reason.isEmpty() ? QString() : QStringLiteral(": ") + outcome.reason);
  u.percent = -1;
  if (recordOnly_) {
    if (outcome.result != UnitOutcome::Result::Ok)
      PrintError(QStringLiteral("%1: %2").arg(u.port, u.step));
  } else {
    Report(unit);
  }
  if (live_) DrawLive(true);
  if (--running_ == 0) QCoreApplication::instance()->exit(0);
}

// The unit's result: a JSON line, a file, or plain lines.
void Fleet::Report(int unit) {
  Unit& u = units_[std::size_t(unit)];
  UnitOutcome& o = *u.outcome;
  QJsonObject json{{QStringLiteral("port"), u.port},
                   {QStringLiteral("command"), QLatin1String(CommandWord(plan_.command))},
                   {QStringLiteral("result"), ResultWord(o.result)},
                   {QStringLiteral("reason"), o.reason},
                   {QStringLiteral("seconds"), o.seconds}};
  QStringList lines;
  if (o.result == UnitOutcome::Result::Ok && plan_.command == CliCommand::Info) {
    // The unit's texts are GBK bytes, like the record's.
    const auto text = [](const std::string& s) {
      return QString::fromStdString(cp936::ToUtf8(s).utf8);
    };
    json[QStringLiteral("version")] = o.version;
    json[QStringLiteral("product_type")] = text(o.sysInfo.product_type);
    json[QStringLiteral("product_model")] = text(o.sysInfo.product_model);
    json[QStringLiteral("serial_type")] = text(o.sysInfo.serial_type);
    json[QStringLiteral("sn")] = text(o.sysInfo.sn);
    lines << QStringLiteral("%1: version %2, product %3, model %4, serial port %5, sn %6")
                 .arg(u.port, o.version, text(o.sysInfo.product_type),
                      text(o.sysInfo.product_model), text(o.sysInfo.serial_type),
                      text(o.sysInfo.sn));
  }
  if (o.result == UnitOutcome::Result::Ok && plan_.command == CliCommand::Read && o.record &&
      !recordOnly_) {
    if (options_.output.isEmpty()) {
      const QString profile = QString::fromStdString(WriteProfile(*o.record));
      if (options_.json)
        json[QStringLiteral("profile")] = profile;
      else
        PrintRaw(profile.toUtf8());
    } else {
      QString reason;
      const QString path = OutputPathFor(u.port);
      if (SaveRecordFile(path, *o.record, reason)) {
        json[QStringLiteral("file")] = path;
      } else {
        o.result = UnitOutcome::Result::Failed;
        o.reason = QStringLiteral("%1: %2").arg(path, reason);
        json[QStringLiteral("result")] = ResultWord(o.result);
        json[QStringLiteral("reason")] = o.reason;
      }
    }
  }
  if (options_.json) {
    PrintJson(json);
  } else if (!live_) {
    for (const QString& l : lines) Status(l);
    Status(QStringLiteral("%1: %2").arg(u.port, u.step));
  } else {
    for (const QString& l : lines) u.step += QStringLiteral(" · ") + l.mid(u.port.size() + 2);
  }
}

// Redraws every unit's line in place; skipped when the last redraw is too recent.
void Fleet::DrawLive(bool force) {
  if (!force && sinceDraw_.isValid() && sinceDraw_.elapsed() < kLiveRedrawMs) return;
  sinceDraw_.start();
  QString out;
  if (drawnLines_ > 0) out += QStringLiteral("\x1b[%1A").arg(drawnLines_);
  int width = 0;
  for (const Unit& u : units_) width = std::max(width, int(u.port.size()));
  for (const Unit& u : units_) {
    QString line = PadRight(u.port, width) + QStringLiteral("  ") + u.step;
    if (u.percent >= 0) line += QStringLiteral("  %1 %").arg(u.percent, 3);
    if (u.secondsLeft >= 0) line += QStringLiteral("  %1 s left").arg(u.secondsLeft);
    out += QStringLiteral("\r\x1b[2K") + line + u'\n';
  }
  drawnLines_ = int(units_.size());
  PrintRaw(out.toUtf8());
}

// Nothing with --json: the JSON lines are the summary.
void Fleet::PrintSummary() {
  if (options_.json) return;
  int portWidth = 4, reasonWidth = 6;
  for (const Unit& u : units_) {
    portWidth = std::max(portWidth, int(u.port.size()));
    if (u.outcome) reasonWidth = std::max(reasonWidth, int(u.outcome->reason.size()));
  }
  Status(QString());
  Status(PadRight(QStringLiteral("port"), portWidth) + QStringLiteral("  ") +
         PadRight(QStringLiteral("result"), 7) + QStringLiteral("  ") +
         PadRight(QStringLiteral("reason"), reasonWidth) + QStringLiteral("  time"));
  for (const Unit& u : units_) {
    const UnitOutcome o = u.outcome.value_or(UnitOutcome{});
    Status(PadRight(u.port, portWidth) + QStringLiteral("  ") + PadRight(ResultWord(o.result), 7) +
           QStringLiteral("  ") + PadRight(o.reason, reasonWidth) + QStringLiteral("  ") +
           Seconds(o.seconds));
  }
}

// False when any unit failed or was stopped.
bool Fleet::Run() {
  InterruptNotifier interrupt;
  connect(&interrupt, &InterruptNotifier::interrupted, this, [this] {
    if (interrupted_) return;
    interrupted_ = true;
    if (!options_.json) Status(QStringLiteral("Ctrl+C: stopping every unit"));
    for (Unit& u : units_)
      if (u.job && !u.outcome) u.job->cancel();
  });
  if (plan_.command == CliCommand::Flash && plan_.imageName.size() > k7v::kDownloadNameSize)
    Status(QStringLiteral("the image name is longer than %1 bytes; the units get: %2")
               .arg(k7v::kDownloadNameSize)
               .arg(QString::fromStdString(plan_.imageName.substr(0, k7v::kDownloadNameSize))));
  if (live_) DrawLive(true);
  StartAll();
  QCoreApplication::exec();
  StopAll();
  PrintSummary();
  return std::all_of(units_.begin(), units_.end(), [](const Unit& u) {
    return u.outcome && u.outcome->result == UnitOutcome::Result::Ok;
  });
}

// nullopt when the unit failed; the reason is on stderr.
std::optional<TAppParams> Fleet::ReadOne() {
  plan_.command = CliCommand::Read;
  statusToStderr_ = true;
  live_ = false;
  recordOnly_ = true;
  InterruptNotifier interrupt;
  connect(&interrupt, &InterruptNotifier::interrupted, this, [this] {
    for (Unit& u : units_)
      if (u.job && !u.outcome) u.job->cancel();
  });
  running_ = int(units_.size());
  StartAll();
  QCoreApplication::exec();
  StopAll();
  const Unit& u = units_.front();
  if (!u.outcome || u.outcome->result != UnitOutcome::Result::Ok) return std::nullopt;
  return u.outcome->record;
}
