#include "cli/cli_options.h"

#include <QFileInfo>

#include "link/link_constants.h"
#include "link/link_settings_file.h"
#include "params/field_model.h"
#include "platform/code_page_936.h"
#include "platform/ini_text.h"

namespace {

struct CommandName {
  const char* name;
  CliCommand command;
  int minArgs, maxArgs;
  bool talksToUnits;
};

constexpr CommandName kCommands[] = {
    {"ports", CliCommand::Ports, 0, 0, false},   {"info", CliCommand::Info, 0, 0, true},
    {"read", CliCommand::Read, 0, 0, true},      {"write", CliCommand::Write, 1, 1, true},
    {"flash", CliCommand::Flash, 1, 1, true},    {"defaults", CliCommand::Defaults, 0, 0, false},
    {"diff", CliCommand::Diff, 2, 2, false},     {"convert", CliCommand::Convert, 2, 2, false},
    {"fields", CliCommand::Fields, 0, 0, false}, {"help", CliCommand::Help, 0, 0, false},
};

// The position of a word or number among what the field model offers for a
// unit's serial port; -1 when it is not offered.
int Position(const QString& given, AppField field) {
  const FieldRow& row = FieldRowOf(field);
  for (std::size_t k = 0; k < row.words.size(); ++k)
    if (given == QLatin1String(row.words[k].word.data(), qsizetype(row.words[k].word.size())))
      return int(k);
  for (std::size_t k = 0; k < row.values.size(); ++k)
    if (given == QString::number(row.values[k])) return int(k);
  return -1;
}

QString Allowed(AppField field) { return QString::fromStdString(AllowedText(field)); }

// nullptr for a word that is no command.
const CommandName* FindCommand(const QString& word) {
  for (const CommandName& c : kCommands)
    if (word == QLatin1String(c.name)) return &c;
  return nullptr;
}

} // namespace

// The built-in defaults for a missing file or key; a value out of place is noted and skipped.
LineSettings LinkDefaultsFromFile(const QString& path, QString& switchCommand, QStringList& notes) {
  LineSettings s;
  s.baudRate = parcfg::kBaudRates[parcfg::kDefaultBaudIndex];
  s.dataBits = parcfg::kDataBits[parcfg::kDefaultDataBitsIndex];
  s.stopBitsIndex = parcfg::kDefaultStopBitsIndex;
  s.parityIndex = parcfg::kDefaultParityIndex;
  switchCommand = QString::fromLatin1(parcfg::kDefaultSwitch);
  const IniTextFile ini(path);
  if (!ini.exists()) return s;
  const QString section = QString::fromLatin1(parcfg::kSection);
  auto index = [&](const char* key, int count, int& into) {
    const QString k = QString::fromLatin1(key);
    const QString raw = ini.GetString(section, k, QString());
    if (raw.isEmpty()) return;
    const auto v = ini.GetInt(section, k);
    if (v && *v >= 0 && *v < count)
      into = *v;
    else
      notes << QStringLiteral("%1: %2=%3 is not a position 0~%4, ignored")
                   .arg(path, k, raw)
                   .arg(count - 1);
  };
  int baud = parcfg::kDefaultBaudIndex, data = parcfg::kDefaultDataBitsIndex;
  int stop = parcfg::kDefaultStopBitsIndex, parity = parcfg::kDefaultParityIndex;
  index(parcfg::kKeyBaud, int(parcfg::kBaudRates.size()), baud);
  index(parcfg::kKeyDataBits, int(parcfg::kDataBits.size()), data);
  index(parcfg::kKeyStopBits, parcfg::kStopBitsPositions, stop);
  index(parcfg::kKeyParity, parcfg::kParityPositions, parity);
  s.baudRate = parcfg::kBaudRates[std::size_t(baud)];
  s.dataBits = parcfg::kDataBits[std::size_t(data)];
  s.stopBitsIndex = stop;
  s.parityIndex = parity;
  switchCommand = ini.GetString(section, QString::fromLatin1(parcfg::kKeySwitch), switchCommand);
  return s;
}

CliOptions ParseCliOptions(const QStringList& args, const LineSettings& linkDefaults,
                           const QString& switchDefault, QStringList& errors) {
  CliOptions o;
  o.line = linkDefaults;
  o.switchCommand = switchDefault;
  const CommandName* command = nullptr;
  bool linkGiven = false;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    // Options take their value as the next word or after '='.
    QString opt = a, inlineValue;
    bool hasInline = false;
    if (a.startsWith(QLatin1String("--")) && a.contains(u'=')) {
      opt = a.left(a.indexOf(u'='));
      inlineValue = a.mid(a.indexOf(u'=') + 1);
      hasInline = true;
    }
    auto value = [&]() -> std::optional<QString> {
      if (hasInline) return inlineValue;
      if (i + 1 < args.size()) return args[++i];
      errors << QStringLiteral("%1 needs a value").arg(opt);
      return std::nullopt;
    };
    auto number = [&](const QString& v) -> std::optional<int> {
      bool ok = false;
      const int n = v.toInt(&ok);
      return ok ? std::optional<int>(n) : std::nullopt;
    };
    if (opt == QLatin1String("--port")) {
      if (auto v = value()) o.ports << *v;
    } else if (opt == QLatin1String("--baud")) {
      if (auto v = value()) {
        const auto n = number(*v);
        if (n && *n > 0)
          o.line.baudRate = *n;
        else
          errors << QStringLiteral("--baud %1: a positive number of bit/s").arg(*v);
        linkGiven = true;
      }
    } else if (opt == QLatin1String("--data")) {
      if (auto v = value()) {
        if (const int k = Position(*v, AppField::databit); k >= 0)
          o.line.dataBits = int(kOfferedDataBits[std::size_t(k)]);
        else
          errors << QStringLiteral("--data %1: allowed %2").arg(*v, Allowed(AppField::databit));
        linkGiven = true;
      }
    } else if (opt == QLatin1String("--parity")) {
      if (auto v = value()) {
        if (const int k = Position(v->toLower(), AppField::paritybit); k >= 0)
          o.line.parityIndex = k;
        else
          errors << QStringLiteral("--parity %1: allowed %2").arg(*v, Allowed(AppField::paritybit));
        linkGiven = true;
      }
    } else if (opt == QLatin1String("--stop")) {
      if (auto v = value()) {
        // The link settings list the stop bits the other way round.
        if (const int k = Position(*v, AppField::stopbit); k >= 0)
          o.line.stopBitsIndex = parcfg::kStopBitsPositions - 1 - k;
        else
          errors << QStringLiteral("--stop %1: allowed %2").arg(*v, Allowed(AppField::stopbit));
        linkGiven = true;
      }
    } else if (opt == QLatin1String("--switch")) {
      if (auto v = value()) {
        o.switchCommand = *v;
        linkGiven = true;
      }
    } else if (opt == QLatin1String("--timeout")) {
      if (auto v = value()) {
        const auto n = number(*v);
        if (n && *n > 0)
          o.timeout = std::chrono::milliseconds(*n);
        else
          errors << QStringLiteral("--timeout %1: a positive number of milliseconds").arg(*v);
      }
    } else if (opt == QLatin1String("--json") && !hasInline) {
      o.json = true;
    } else if (opt == QLatin1String("--force") && !hasInline) {
      o.force = true;
    } else if (opt == QLatin1String("--set")) {
      if (auto v = value()) o.sets << *v;
    } else if (opt == QLatin1String("-o") || opt == QLatin1String("--output")) {
      if (auto v = value()) o.output = *v;
    } else if (opt == QLatin1String("-h") || opt == QLatin1String("--help")) {
      o.command = CliCommand::Help;
      return o;
    } else if (a.startsWith(u'-') && a.size() > 1) {
      errors << QStringLiteral("unknown option %1").arg(a);
    } else if (!command) {
      command = FindCommand(a);
      if (!command) errors << QStringLiteral("unknown command %1").arg(a);
    } else {
      o.args << a;
    }
  }
  if (!command) {
    if (errors.isEmpty()) errors << QStringLiteral("no command given");
    return o;
  }
  o.command = command->command;
  if (o.args.size() < command->minArgs || o.args.size() > command->maxArgs)
    errors << QStringLiteral("%1 takes %2 argument(s), %3 given")
                  .arg(QLatin1String(command->name))
                  .arg(command->maxArgs)
                  .arg(o.args.size());
  const bool diffWithDevice =
      o.command == CliCommand::Diff && o.args.contains(QStringLiteral("device"));
  if ((command->talksToUnits || diffWithDevice) && o.ports.isEmpty())
    errors << QStringLiteral("%1 needs --port").arg(QLatin1String(command->name));
  if (!command->talksToUnits && !diffWithDevice && (!o.ports.isEmpty() || linkGiven))
    errors << QStringLiteral("%1 talks to no unit: no --port or line settings")
                  .arg(QLatin1String(command->name));
  if (diffWithDevice && o.ports.size() > 1)
    errors << QStringLiteral("diff reads one unit: one --port");
  if (o.command != CliCommand::Write && (!o.sets.isEmpty() || o.force))
    errors << QStringLiteral("--set and --force belong to write");
  if (!o.output.isEmpty() && o.command != CliCommand::Read && o.command != CliCommand::Defaults)
    errors << QStringLiteral("-o belongs to read and defaults");
  if (o.command == CliCommand::Read && o.ports.size() > 1 &&
      !o.output.contains(QLatin1String("{port}")))
    errors << QStringLiteral("read on several ports: -o FILE must contain {port}");
  if (o.ports.removeDuplicates() > 0) errors << QStringLiteral("a port is named twice");
  // Sent as six bytes, a shorter command padded with zero bytes, as the window does.
  if (o.switchCommand.isEmpty() ||
      cp936::ByteLength(o.switchCommand.toStdString()) > k7v::kSwitchCommandLength)
    errors << QStringLiteral(
                  "switch command \"%1\" (--switch or parcfg.ini conf): 1 to %2 bytes in GBK")
                  .arg(o.switchCommand)
                  .arg(k7v::kSwitchCommandLength);
  return o;
}

// Never fails.
QString CliUsage() {
  return QStringLiteral(
      "Usage:\n"
      "  k7vconf-cli ports\n"
      "  k7vconf-cli [LINK] info\n"
      "  k7vconf-cli [LINK] read   [-o FILE]\n"
      "  k7vconf-cli [LINK] write  FILE [--set NAME=VALUE]... [--force]\n"
      "  k7vconf-cli [LINK] flash  IMAGE\n"
      "  k7vconf-cli defaults [-o FILE]\n"
      "  k7vconf-cli diff A B        (A, B: a .bin file, a profile, defaults, or device)\n"
      "  k7vconf-cli convert IN OUT  (.ini/.txt is a profile, anything else a raw record)\n"
      "  k7vconf-cli fields [--json]  every profile name: page / label, kind, what it takes,\n"
      "                               its byte limit, when the window shows it\n"
      "\n"
      "LINK:\n"
      "  --port P      serial port; repeat it to work on several units at once\n"
      "  --baud N  --data 8|7  --parity none|odd|even  --stop 1|2  --switch TEXT\n"
      "                (defaults: parcfg.ini in the working directory, else 115200 8 none 1 "
      "######)\n"
      "  --json        one JSON object per unit per result on stdout\n"
      "  --timeout MS  wait MS for each answer (and for each piece while flashing)\n"
      "\n"
      "read with several ports: FILE must contain {port}, the port's base name;\n"
      "{port} in a --set value gives each unit its own (--set dtu_id=SITE-{port}).\n"
      "write checks the profile and every --set first; --force lets through values\n"
      "the window's rules refuse but the record can hold.\n"
      "Exit status: 0 all units succeeded, 1 a unit failed or diff found differences,\n"
      "2 usage or profile error (nothing was sent).\n");
}
