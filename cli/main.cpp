// k7vconf-cli: the configuration tool for scripts and for many units at once.
// QtCore and QtSerialPort only; the device conversation is DeviceSession's.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSerialPortInfo>
#include <cstdio>

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/field_list.h"
#include "cli/fleet.h"
#include "link/link_settings_file.h"
#include "params/factory_set.h"
#include "params/record_file.h"
#include "platform/interrupt_notifier.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Always the usage exit status: nothing was sent.
int PrintIssues(const std::vector<ProfileIssue>& issues) {
  for (const ProfileIssue& i : issues) PrintError(QString::fromStdString(FormatIssue(i)));
  return kExitUsage;
}

// Always 0: no ports is an empty list.
int ListPorts(const CliOptions& o) {
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    if (o.json) {
      PrintJson({{QStringLiteral("port"), info.portName()},
                 {QStringLiteral("path"), info.systemLocation()},
                 {QStringLiteral("description"), info.description()},
                 {QStringLiteral("manufacturer"), info.manufacturer()}});
    } else {
      QString line = info.portName();
      if (!info.description().isEmpty()) line += QStringLiteral("  ") + info.description();
      PrintOut(line);
    }
  }
  return kExitOk;
}

// 1 when -o cannot be written.
int Defaults(const CliOptions& o) {
  const TAppParams record = FactoryParams();
  if (o.output.isEmpty()) {
    PrintRaw(QByteArray::fromStdString(WriteProfile(record)));
    return kExitOk;
  }
  QString reason;
  if (!SaveRecordFile(o.output, record, reason)) {
    PrintError(QStringLiteral("%1: %2").arg(o.output, reason));
    return kExitFailed;
  }
  return kExitOk;
}

// 2 for a file that cannot be read or a profile with errors, 1 when OUT cannot be written.
int Convert(const CliOptions& o) {
  std::vector<ProfileIssue> issues;
  // A file conversion keeps whatever the record can hold: the window's rules
  // guard what is sent to a unit, not what a file may describe.
  const auto record = LoadRecordFile(o.args[0], FactoryParams(), ProfileChecks::RecordOnly, issues);
  if (!record) return PrintIssues(issues);
  QString reason;
  if (!SaveRecordFile(o.args[1], *record, reason)) {
    PrintError(QStringLiteral("%1: %2").arg(o.args[1], reason));
    return kExitFailed;
  }
  return kExitOk;
}

// diff: A and B, each a file, "defaults" or "device". A profile on one side is
// laid over the other side's unit record when that is "device", so a partial
// profile checks only the fields it names; otherwise over the factory set.
int Diff(const CliOptions& o, Fleet& fleet) {
  std::optional<TAppParams> device;
  if (o.args.contains(QStringLiteral("device"))) {
    device = fleet.ReadOne();
    if (!device) return kExitFailed;
  }
  const TAppParams base = device ? *device : FactoryParams();
  std::vector<ProfileIssue> issues;
  auto load = [&](const QString& what) -> std::optional<TAppParams> {
    if (what == QLatin1String("device")) return device;
    if (what == QLatin1String("defaults")) return FactoryParams();
    return LoadRecordFile(what, base, ProfileChecks::RecordOnly, issues);
  };
  const auto a = load(o.args[0]);
  const auto b = load(o.args[1]);
  if (!a || !b) return PrintIssues(issues);
  const auto diffs = CompareRecords(*a, *b);
  for (const FieldDifference& d : diffs) {
    const QString name = QString::fromLatin1(FieldInfo(d.field).name);
    if (o.json)
      PrintJson({{QStringLiteral("field"), name},
                 {QStringLiteral("a"), QString::fromStdString(d.a)},
                 {QStringLiteral("b"), QString::fromStdString(d.b)}});
    else
      PrintOut(QStringLiteral("%1: %2 → %3")
                   .arg(name, QString::fromStdString(d.a), QString::fromStdString(d.b)));
  }
  return diffs.empty() ? kExitOk : kExitFailed;
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  IgnoreBrokenPipe(); // a reader that goes away must not stop a unit mid-write
  QCoreApplication::setApplicationName(QStringLiteral("k7vconf-cli"));
  // Developer diagnostics stay quiet unless asked for (QT_LOGGING_RULES).
  if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
    QLoggingCategory::setFilterRules(QStringLiteral("k7v.*=false"));

  QStringList notes, errors;
  QString switchDefault;
  const LineSettings linkDefaults = LinkDefaultsFromFile(
      QDir::current().filePath(QString::fromLatin1(parcfg::kFileName)), switchDefault, notes);
  const CliOptions o = ParseCliOptions(app.arguments().mid(1), linkDefaults, switchDefault, errors);
  if (o.command == CliCommand::Help) {
    PrintOut(CliUsage());
    return kExitOk;
  }
  if (!errors.isEmpty()) {
    for (const QString& e : errors) PrintError(e);
    PrintError(QStringLiteral("k7vconf-cli help shows the usage"));
    return kExitUsage;
  }
  for (const QString& n : notes) PrintError(n);

  Fleet fleet(o);
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
  case CliCommand::Flash: {
    // Everything that can be checked is checked before the first unit is touched.
    if (!fleet.Prepare(errors)) {
      for (const QString& e : errors) PrintError(e);
      return kExitUsage;
    }
    return fleet.Run() ? kExitOk : kExitFailed;
  }
  case CliCommand::None:
  case CliCommand::Help:
    break;
  }
  return kExitUsage;
}
