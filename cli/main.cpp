// k7vconf-cli: the configuration tool for scripts and for many units at once.
// QtCore and QtSerialPort only; the device conversation is DeviceSession's.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSerialPortInfo>

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/field_list.h"
#include "cli/fleet.h"
#include "cli/ledger_command.h"
#include "cli/record_io.h"
#include "cli/station.h"
#include "k7v_build_info.h"
#include "link/link_settings_file.h"
#include "params/edited_config.h"
#include "params/factory_set.h"
#include "platform/interrupt_notifier.h"

namespace {

// Problems found before anything was sent: text on stderr, and with --json one
// object per problem. Always the usage exit status.
int UsageErrors(const CliOptions& o, const QStringList& errors) {
  for (const QString& e : errors) {
    PrintError(e);
    if (o.json) PrintJson(JsonLine(QString(), CommandWord(o.command), QStringLiteral("error"), e));
  }
  PrintError(QStringLiteral("k7vconf-cli help shows the usage"));
  return cli_exit::kUsage;
}

// Always the usage exit status: nothing was sent.
int PrintIssues(const CliOptions& o, const std::vector<ProfileIssue>& issues) {
  QStringList lines;
  for (const ProfileIssue& i : issues) lines << QString::fromStdString(FormatIssue(i));
  for (const QString& l : lines) {
    PrintError(l);
    if (o.json) PrintJson(JsonLine(QString(), CommandWord(o.command), QStringLiteral("error"), l));
  }
  return cli_exit::kUsage;
}

// A file command's one result line; status is returned as it is.
int FileResult(const CliOptions& o, int status, const QString& reason, QJsonObject extra = {}) {
  if (status != cli_exit::kOk) PrintError(reason);
  if (!o.json) return status;
  QJsonObject json =
      JsonLine(QString(), CommandWord(o.command),
               status == cli_exit::kOk ? QStringLiteral("ok") : QStringLiteral("failed"),
               status == cli_exit::kOk ? QString() : reason);
  for (auto it = extra.begin(); it != extra.end(); ++it) json.insert(it.key(), it.value());
  PrintJson(json);
  return status;
}

// Always 0: no ports is an empty list.
int ListPorts(const CliOptions& o) {
  const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
  for (const QSerialPortInfo& info : ports) {
    if (o.json) {
      QJsonObject json = JsonLine(info.portName(), CommandWord(o.command), QStringLiteral("found"));
      json[QStringLiteral("path")] = info.systemLocation();
      json[QStringLiteral("description")] = info.description();
      json[QStringLiteral("manufacturer")] = info.manufacturer();
      PrintJson(json);
    } else {
      QString line = info.portName();
      if (!info.description().isEmpty()) line += QStringLiteral("  ") + info.description();
      PrintOut(line);
    }
  }
  if (o.json) {
    QJsonObject json = JsonLine(QString(), CommandWord(o.command), QStringLiteral("ok"));
    json[QStringLiteral("summary")] = true;
    json[QStringLiteral("ports")] = int(ports.size());
    PrintJson(json);
  }
  return cli_exit::kOk;
}

// 1 when the output cannot be written.
int Defaults(const CliOptions& o) {
  const TAppParams record = FactoryParams();
  if (o.output.isEmpty() && o.json)
    return FileResult(o, cli_exit::kOk, {},
                      {{QStringLiteral("profile"), QString::fromStdString(WriteProfile(record))}});
  QString reason;
  if (!SaveRecordAs(o.output, o.format, record, reason)) {
    if (o.output.isEmpty()) return cli_exit::kFailed; // stdout's failure is told at the end
    return FileResult(o, cli_exit::kFailed, QStringLiteral("%1: %2").arg(o.output, reason));
  }
  return FileResult(o, cli_exit::kOk, {},
                    o.output.isEmpty() ? QJsonObject{}
                                       : QJsonObject{{QStringLiteral("file"), o.output}});
}

// 2 for a file that cannot be read or a profile with errors, 1 when OUT cannot be written.
int Convert(const CliOptions& o) {
  std::vector<ProfileIssue> issues;
  // A file conversion keeps whatever the record can hold: the window's rules
  // guard what is sent to a unit, not what a file may describe. --format is
  // OUT's: IN is known by its name.
  const auto record = LoadRecordFile(o.args[0], FactoryParams(), ProfileChecks::RecordOnly, issues);
  if (!record) return PrintIssues(o, issues);
  // Lossless all the same; what a unit would receive instead is told.
  for (const StoredNote& note : StoreNotesFor(*record))
    PrintError(QStringLiteral("note: %1: a write stores %2")
                   .arg(o.args[0], QString::fromStdString(NoteText(note))));
  QString reason;
  if (!SaveRecordAs(o.args[1], o.format, *record, reason))
    return FileResult(o, cli_exit::kFailed, QStringLiteral("%1: %2").arg(o.args[1], reason));
  return FileResult(o, cli_exit::kOk, {}, {{QStringLiteral("file"), o.args[1]}});
}

// A value as diff shows it: an empty one, or one with blanks at its ends,
// in quotes so it can be seen.
QString Shown(const std::string& value) {
  const QString v = QString::fromStdString(value);
  if (v.isEmpty() || v.front().isSpace() || v.back().isSpace()) return u'"' + v + u'"';
  return v;
}

// diff: A and B, each a file, "defaults" or "device". A profile on one side is
// laid over the other side's unit record when that is "device", so a partial
// profile checks only the fields it names; otherwise over the factory set.
// 0 the same, 1 they differ, 2 a file is unusable, 3 the unit could not be read.
int Diff(const CliOptions& o, Fleet& fleet) {
  std::optional<TAppParams> device;
  const QString port = o.args.contains(QStringLiteral("device")) ? o.ports.value(0) : QString();
  if (!port.isNull()) {
    device = fleet.ReadOne();
    if (!device) return cli_exit::kDiffNoUnit;
  }
  const TAppParams base = device ? *device : FactoryParams();
  std::vector<ProfileIssue> issues;
  auto load = [&](const QString& what) -> std::optional<TAppParams> {
    if (what == QLatin1String("device")) return device;
    if (what == QLatin1String("defaults")) return FactoryParams();
    return LoadRecordFile(what, base, ProfileChecks::RecordOnly, issues, o.format);
  };
  const auto a = load(o.args[0]);
  const auto b = load(o.args[1]);
  if (!a || !b) return PrintIssues(o, issues);
  const auto diffs = CompareRecords(*a, *b);
  const QString command = CommandWord(o.command);
  for (const FieldDifference& d : diffs) {
    const QString name = QString::fromLatin1(FieldInfo(d.field).name);
    if (o.json) {
      QJsonObject json = JsonLine(port, command, QStringLiteral("differs"));
      json[QStringLiteral("field")] = name;
      json[QStringLiteral("a")] = QString::fromStdString(d.a);
      json[QStringLiteral("b")] = QString::fromStdString(d.b);
      PrintJson(json);
    } else {
      PrintOut(QStringLiteral("%1: %2 → %3").arg(name, Shown(d.a), Shown(d.b)));
    }
  }
  if (o.json) {
    QJsonObject json =
        JsonLine(port, command, diffs.empty() ? QStringLiteral("same") : QStringLiteral("differs"));
    json[QStringLiteral("summary")] = true;
    json[QStringLiteral("differences")] = qint64(diffs.size());
    PrintJson(json);
  }
  return diffs.empty() ? cli_exit::kOk : cli_exit::kFailed;
}

// A run refused by Prepare: usage problems as UsageErrors, others (an output
// that cannot be made) one line each. status is returned as it is.
int PrepareFailed(const CliOptions& o, int status, const QStringList& errors) {
  if (status == cli_exit::kUsage) return UsageErrors(o, errors);
  for (const QString& e : errors) {
    PrintError(e);
    if (o.json) PrintJson(JsonLine(QString(), CommandWord(o.command), QStringLiteral("failed"), e));
  }
  return status;
}

// The exit status of the whole command.
int RunCommand(const QCoreApplication& app, InterruptNotifier& stopRequests, CliCommand& command) {
  QStringList errors;
  CliOptions o = ParseCliOptions(app.arguments().mid(1), errors);
  command = o.command;
  // With stdout closed nothing could be told: touch nothing.
  if (StdoutProblem())
    return o.command == CliCommand::Diff ? cli_exit::kDiffNoUnit : cli_exit::kFailed;
  if (o.command == CliCommand::Help) {
    if (o.json)
      PrintJson([&] {
        QJsonObject json = JsonLine(QString(), CommandWord(o.command), QStringLiteral("ok"));
        json[QStringLiteral("usage")] = CliUsage();
        return json;
      }());
    else
      PrintRaw(CliUsage().toUtf8());
    return cli_exit::kOk;
  }
  if (o.command == CliCommand::Version) {
    const QString version = QStringLiteral(K7V_VERSION);
    if (o.json) {
      QJsonObject json = JsonLine(QString(), CommandWord(o.command), QStringLiteral("ok"));
      json[QStringLiteral("version")] = version;
      PrintJson(json);
    } else {
      PrintOut(QStringLiteral("k7vconf-cli ") + version);
    }
    return cli_exit::kOk;
  }
  if (!errors.isEmpty()) return UsageErrors(o, errors);
  if (TalksToUnits(o)) {
    // Only a command that talks to units has a use for the window's link settings.
    QStringList notes;
    ResolveLink(o, QDir::current().filePath(QString::fromLatin1(parcfg::kFileName)), notes, errors);
    if (!errors.isEmpty()) return UsageErrors(o, errors);
    for (const QString& n : notes) PrintError(n);
  }

  if (o.command == CliCommand::Station) {
    Station station(o, stopRequests);
    if (const int status = station.Prepare(errors); status != cli_exit::kOk)
      return PrepareFailed(o, status, errors);
    return station.Run();
  }
  if (o.command == CliCommand::Ledger) return RunLedgerCommand(o);
  Fleet fleet(o, stopRequests);
  switch (o.command) {
  case CliCommand::Ports:
    return ListPorts(o);
  case CliCommand::Defaults:
    return Defaults(o);
  case CliCommand::Convert:
    return Convert(o);
  case CliCommand::Fields:
    return PrintFieldModel(o.json);
  case CliCommand::Diff:
    return Diff(o, fleet);
  case CliCommand::Info:
  case CliCommand::Read:
  case CliCommand::Write:
  case CliCommand::Flash:
  case CliCommand::Scan: {
    // Everything that can be checked is checked before the first unit is touched.
    if (const int status = fleet.Prepare(errors); status != cli_exit::kOk)
      return PrepareFailed(o, status, errors);
    return fleet.Run() ? cli_exit::kOk : cli_exit::kFailed;
  }
  case CliCommand::None:
  case CliCommand::Station:
  case CliCommand::Ledger:
  case CliCommand::Help:
  case CliCommand::Version:
    break;
  }
  return cli_exit::kUsage;
}

} // namespace

int main(int argc, char** argv) {
  // Before anything opens a file: a closed stdout must not become a port.
  GuardStandardStreams();
  QCoreApplication app(argc, argv);
  IgnoreBrokenPipe(); // a reader that goes away must not stop a unit mid-write
  QCoreApplication::setApplicationName(QStringLiteral("k7vconf-cli"));
  QCoreApplication::setApplicationVersion(QStringLiteral(K7V_VERSION));
  // Developer diagnostics stay quiet unless asked for (QT_LOGGING_RULES).
  if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
    QLoggingCategory::setFilterRules(QStringLiteral("k7v.*=false"));

  // From here to the end a stop request is ours to handle: one arriving
  // between two units' steps or during the summary must not kill the process.
  InterruptNotifier stopRequests;
  CliCommand command = CliCommand::None;
  const int status = RunCommand(app, stopRequests, command);
  stopRequests.IgnoreLaterRequests();
  // Results that did not reach stdout are a failure, whatever the units did.
  if (FinishOutput() && status != cli_exit::kUsage)
    return command == CliCommand::Diff ? cli_exit::kDiffNoUnit : cli_exit::kFailed;
  return status;
}
