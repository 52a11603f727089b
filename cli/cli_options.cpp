#include "cli/cli_options.h"

#include "link/link_constants.h"
#include "link/link_settings.h"
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
    {"scan", CliCommand::Scan, 0, 0, true},      {"station", CliCommand::Station, 1, 1, true},
    {"ledger", CliCommand::Ledger, 1, 2, false}, {"fields", CliCommand::Fields, 0, 0, false},
    {"help", CliCommand::Help, 0, 0, false},     {"version", CliCommand::Version, 0, 0, false},
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

// nullptr for None.
const CommandName* FindCommand(CliCommand command) {
  for (const CommandName& c : kCommands)
    if (c.command == command) return &c;
  return nullptr;
}

bool DiffWithDevice(const CliOptions& o) {
  return o.command == CliCommand::Diff && o.args.contains(QStringLiteral("device"));
}

} // namespace

// Empty for None.
QString CommandWord(CliCommand command) {
  const CommandName* c = FindCommand(command);
  return c ? QString::fromLatin1(c->name) : QString();
}

// False for None.
bool TalksToUnits(const CliOptions& o) {
  const CommandName* c = FindCommand(o.command);
  return (c && c->talksToUnits) || DiffWithDevice(o);
}

// Never fails.
bool UsesPortName(const CliOptions& o) {
  const QLatin1String mark("{port}");
  if (o.output.contains(mark)) return true;
  for (const QString& s : o.sets)
    if (s.contains(mark)) return true;
  return false;
}

// Problems in the file go to notes; the file's values are used where sound.
void ResolveLink(CliOptions& o, const QString& parcfgPath, QStringList& notes,
                 QStringList& errors) {
  LineSettings s;
  int baud = parcfg::kDefaultBaudIndex, data = parcfg::kDefaultDataBitsIndex;
  int stop = parcfg::kDefaultStopBitsIndex, parity = parcfg::kDefaultParityIndex;
  QString fileSwitch = QString::fromLatin1(parcfg::kDefaultSwitch);
  const IniTextFile ini(parcfgPath);
  if (ini.exists()) {
    const QString section = QString::fromLatin1(parcfg::kSection);
    const LinkSettingsRead read = ReadLinkSettings([&](std::string_view key) {
      const std::optional<QString> v =
          ini.Find(section, QString::fromLatin1(key.data(), qsizetype(key.size())));
      return v ? std::optional<std::string>(v->toStdString()) : std::nullopt;
    });
    // A run cannot go without a speed: where the window leaves a list without
    // a selection, the default stands.
    const std::tuple<const char*, int, int, int*> lists[] = {
        {parcfg::kKeyBaud, int(parcfg::kBaudRates.size()), read.baudIndex, &baud},
        {parcfg::kKeyDataBits, int(parcfg::kDataBits.size()), read.dataBitsIndex, &data},
        {parcfg::kKeyStopBits, parcfg::kStopBitsPositions, read.stopBitsIndex, &stop},
        {parcfg::kKeyParity, parcfg::kParityPositions, read.parityIndex, &parity}};
    for (const auto& [key, count, index, into] : lists) {
      if (index >= 0) *into = index;
      for (const LinkSettingsRead::Unusable& u : read.unusable)
        if (u.key == key)
          notes << QStringLiteral("%1: %2=%3 is not a position 0~%4, ignored")
                       .arg(parcfgPath, QString::fromLatin1(key), QString::fromStdString(u.raw))
                       .arg(count - 1);
    }
    fileSwitch = QString::fromStdString(read.switchCommand);
  }
  s.baudRate = o.given.baud.value_or(parcfg::kBaudRates[std::size_t(baud)]);
  s.dataBits = o.given.dataBits.value_or(parcfg::kDataBits[std::size_t(data)]);
  s.stopBitsIndex = o.given.stopBitsIndex.value_or(stop);
  s.parityIndex = o.given.parityIndex.value_or(parity);
  o.line = s;

  if (o.given.switchText) {
    // Typed for this run: a command that does not fit is a mistake to point out.
    const QString& text = *o.given.switchText;
    const SwitchCommandCheck check = CheckSwitchCommand(text.toStdString());
    if (text.isEmpty() || check.cut || !check.key.empty())
      errors << QStringLiteral("--switch \"%1\": 1 to %2 bytes in GBK%3")
                    .arg(text)
                    .arg(k7v::kSwitchCommandLength)
                    .arg(check.key.empty()
                             ? QString()
                             : QStringLiteral(" (%1)").arg(QString::fromStdString(check.text)));
    o.switchText = text;
    o.switchBytes = QByteArray::fromStdString(check.bytes);
    return;
  }
  // The window sends what its field holds, cut to six bytes in the unit's
  // code page; a file the window works with must work here too.
  const SwitchCommandCheck check = CheckSwitchCommand(fileSwitch.toStdString());
  o.switchText = fileSwitch;
  o.switchBytes = QByteArray::fromStdString(check.bytes);
  if (check.cut)
    notes << QStringLiteral("%1: conf=%2 is longer than %3 bytes; the units get %4, as from the "
                            "window (--switch overrides it)")
                 .arg(parcfgPath, fileSwitch)
                 .arg(k7v::kSwitchCommandLength)
                 .arg(QString::fromStdString(check.sent));
  if (fileSwitch.isEmpty())
    notes << QStringLiteral("%1: conf is empty; the units get six zero bytes, as from the window "
                            "(--switch overrides it)")
                 .arg(parcfgPath);
}

CliOptions ParseCliOptions(const QStringList& args, QStringList& errors) {
  CliOptions o;
  const CommandName* command = nullptr;
  bool outputGiven = false;
  CliCommand asked = CliCommand::None; // --help, --version: whatever else the line holds
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
    auto flag = [&](const char* name) { return opt == QLatin1String(name) && !hasInline; };
    if (opt == QLatin1String("--port")) {
      if (auto v = value()) {
        if (v->trimmed().isEmpty())
          errors << QStringLiteral("--port \"%1\": a port name, not an empty text").arg(*v);
        else
          o.ports << *v;
      }
    } else if (opt == QLatin1String("--baud")) {
      if (auto v = value()) {
        const auto n = number(*v);
        if (n && *n > 0)
          o.given.baud = *n;
        else
          errors << QStringLiteral("--baud %1: a positive number of bit/s").arg(*v);
      }
    } else if (opt == QLatin1String("--data")) {
      if (auto v = value()) {
        if (const int k = Position(*v, AppField::databit); k >= 0)
          o.given.dataBits = int(kOfferedDataBits[std::size_t(k)]);
        else
          errors << QStringLiteral("--data %1: allowed %2").arg(*v, Allowed(AppField::databit));
      }
    } else if (opt == QLatin1String("--parity")) {
      if (auto v = value()) {
        if (const int k = Position(v->toLower(), AppField::paritybit); k >= 0)
          o.given.parityIndex = k;
        else
          errors << QStringLiteral("--parity %1: allowed %2").arg(*v, Allowed(AppField::paritybit));
      }
    } else if (opt == QLatin1String("--stop")) {
      if (auto v = value()) {
        // The link settings list the stop bits the other way round.
        if (const int k = Position(*v, AppField::stopbit); k >= 0)
          o.given.stopBitsIndex = parcfg::kStopBitsPositions - 1 - k;
        else
          errors << QStringLiteral("--stop %1: allowed %2").arg(*v, Allowed(AppField::stopbit));
      }
    } else if (opt == QLatin1String("--switch")) {
      if (auto v = value()) o.given.switchText = *v;
    } else if (opt == QLatin1String("--timeout")) {
      if (auto v = value()) {
        const auto n = number(*v);
        if (n && *n > 0)
          o.timeout = std::chrono::milliseconds(*n);
        else
          errors << QStringLiteral("--timeout %1: a positive number of milliseconds").arg(*v);
      }
    } else if (opt == QLatin1String("--probe-interval")) {
      if (auto v = value()) {
        const auto n = number(*v);
        if (n && *n > 0 && *n <= kMaxProbeInterval.count())
          o.probeInterval = std::chrono::milliseconds(*n);
        else
          errors << QStringLiteral("--probe-interval %1: 1 to %2 milliseconds")
                        .arg(*v)
                        .arg(kMaxProbeInterval.count());
      }
    } else if (opt == QLatin1String("--values")) {
      if (auto v = value()) o.values = *v;
    } else if (opt == QLatin1String("--flash")) {
      if (auto v = value()) o.flashImage = *v;
    } else if (opt == QLatin1String("--report")) {
      if (auto v = value()) o.report = *v;
    } else if (opt == QLatin1String("--ledger")) {
      if (auto v = value()) o.ledger = *v;
    } else if (opt == QLatin1String("--bench")) {
      if (auto v = value()) {
        if (v->trimmed().isEmpty() || v->trimmed() != *v || v->contains(u':'))
          errors << QStringLiteral("--bench \"%1\": a name without blanks at its ends or a colon")
                        .arg(*v);
        else
          o.bench = *v;
      }
    } else if (flag("--reflash")) {
      o.reflash = true;
    } else if (opt == QLatin1String("--retries")) {
      if (auto v = value()) {
        const auto n = number(*v);
        if (n && *n >= 0 && *n <= kMaxRetries)
          o.retries = *n;
        else
          errors << QStringLiteral("--retries %1: 0 to %2").arg(*v).arg(kMaxRetries);
      }
    } else if (opt == QLatin1String("--format")) {
      if (auto v = value()) {
        if (*v == QLatin1String("ini"))
          o.format = FileFormat::Profile;
        else if (*v == QLatin1String("bin"))
          o.format = FileFormat::Raw;
        else
          errors << QStringLiteral("--format %1: allowed ini | bin").arg(*v);
      }
    } else if (flag("--json")) {
      o.json = true;
    } else if (flag("--force")) {
      o.force = true;
    } else if (opt == QLatin1String("--set")) {
      if (auto v = value()) o.sets << *v;
    } else if (opt == QLatin1String("-o") || opt == QLatin1String("--output")) {
      if (auto v = value()) {
        o.output = *v;
        outputGiven = true;
        if (v->isEmpty()) errors << QStringLiteral("-o needs a file name, or - for stdout");
      }
    } else if (flag("-h") || flag("--help")) {
      asked = CliCommand::Help;
    } else if (flag("-V") || flag("--version")) {
      asked = CliCommand::Version;
    } else if (a.startsWith(u'-') && a.size() > 1) {
      errors << QStringLiteral("unknown option %1").arg(a);
    } else if (!command) {
      command = FindCommand(a);
      if (!command) errors << QStringLiteral("unknown command %1").arg(a);
    } else {
      o.args << a;
    }
  }
  if (command && (command->command == CliCommand::Help || command->command == CliCommand::Version))
    asked = command->command;
  if (asked != CliCommand::None) {
    o.command = asked;
    errors.clear();
    return o;
  }
  if (!command) {
    if (errors.isEmpty()) errors << QStringLiteral("no command given");
    return o;
  }
  o.command = command->command;
  const QString name = QLatin1String(command->name);
  if ((o.args.size() < command->minArgs || o.args.size() > command->maxArgs) &&
      o.command != CliCommand::Ledger) // told below, in its own words
    errors << QStringLiteral("%1 takes %2 argument(s), %3 given")
                  .arg(name)
                  .arg(command->maxArgs)
                  .arg(o.args.size());
  const bool units = TalksToUnits(o);
  if (units && o.ports.isEmpty() && o.command != CliCommand::Scan)
    errors << QStringLiteral("%1 needs --port").arg(name);
  if (!units && (!o.ports.isEmpty() || o.given.any()))
    errors << QStringLiteral("%1 talks to no unit: no --port or line settings").arg(name);
  if (!units && o.retries > 0)
    errors << QStringLiteral("--retries belongs to commands that talk to units");
  if (DiffWithDevice(o) && o.ports.size() > 1)
    errors << QStringLiteral("diff reads one unit: one --port");
  if (!o.sets.isEmpty() && o.command != CliCommand::Write)
    errors << QStringLiteral("--set belongs to write");
  if (o.force && o.command != CliCommand::Write && o.command != CliCommand::Flash)
    errors << QStringLiteral("--force belongs to write and flash");
  if (outputGiven && o.command != CliCommand::Read && o.command != CliCommand::Defaults)
    errors << QStringLiteral("-o belongs to read and defaults");
  const bool formatFits = o.command == CliCommand::Read || o.command == CliCommand::Defaults ||
                          o.command == CliCommand::Write || o.command == CliCommand::Diff ||
                          o.command == CliCommand::Convert;
  if (o.format != FileFormat::ByName && !formatFits)
    errors << QStringLiteral("--format belongs to read, defaults, write, diff and convert");
  const bool stationOptions = !o.values.isEmpty() || !o.flashImage.isEmpty() || o.reflash ||
                              !o.report.isEmpty() || o.probeInterval;
  if (o.command == CliCommand::Station && o.ledger) {
    if (!o.report.isEmpty() || !o.values.isEmpty())
      errors << QStringLiteral("station --ledger takes its rows from the ledger and writes its "
                               "report there: no --values or --report");
    if (o.reflash && o.flashImage.isEmpty())
      errors << QStringLiteral("--reflash needs --flash IMAGE");
  } else if (o.command == CliCommand::Station) {
    if (o.report.isEmpty())
      errors << QStringLiteral("station needs --report REPORT.csv (or --ledger CONNINFO): every "
                               "unit's line goes there");
    if (o.reflash && o.flashImage.isEmpty())
      errors << QStringLiteral("--reflash needs --flash IMAGE");
  } else if (stationOptions) {
    errors << QStringLiteral("--values, --flash, --reflash and --report belong to station");
  }
  if (o.command == CliCommand::Ledger) {
    const QString what = o.args.value(0);
    const bool file = what == QLatin1String("load") || what == QLatin1String("export");
    if (o.args.size() > 2)
      errors << QStringLiteral("ledger %1 takes at most one file").arg(what);
    else if (!file && what != QLatin1String("init") && what != QLatin1String("status"))
      errors << (what.isEmpty() ? QStringLiteral("ledger needs one of")
                                : QStringLiteral("ledger %1: allowed").arg(what)) +
                    QStringLiteral(" init | load UNITS.csv | status | export REPORT.csv");
    else if (file != (o.args.size() == 2))
      errors << (file ? QStringLiteral("ledger %1 needs a file").arg(what)
                      : QStringLiteral("ledger %1 takes no file").arg(what));
  } else if (o.ledger && o.command != CliCommand::Station) {
    errors << QStringLiteral("--ledger belongs to station and ledger");
  }
  if (!o.bench.isEmpty() && !(o.command == CliCommand::Station && o.ledger))
    errors << QStringLiteral("--bench belongs to station --ledger");
  if (o.output == QLatin1String("-")) o.output.clear(); // stdout, as without -o
  // One stdout cannot hold several profiles apart; JSON lines can.
  if (o.command == CliCommand::Read && o.ports.size() > 1 && !o.json &&
      !o.output.contains(QLatin1String("{port}")))
    errors << QStringLiteral("read on several ports: -o FILE must contain {port} (or use --json)");
  if (o.ports.removeDuplicates() > 0) errors << QStringLiteral("a port is named twice");
  return o;
}

// Never fails.
QString CliUsage() {
  return QStringLiteral(
      "Usage:\n"
      "  k7vconf-cli ports\n"
      "  k7vconf-cli [LINK] scan                (every port the system knows without --port)\n"
      "  k7vconf-cli [LINK] info\n"
      "  k7vconf-cli [LINK] read   [-o FILE|-]\n"
      "  k7vconf-cli [LINK] write  FILE [--set NAME=VALUE]... [--force]\n"
      "  k7vconf-cli [LINK] flash  IMAGE [--force]\n"
      "  k7vconf-cli [LINK] station PROFILE [--values UNITS.csv] [--flash IMAGE [--reflash]]\n"
      "                     --report REPORT.csv [--probe-interval MS]\n"
      "  k7vconf-cli [LINK] station PROFILE --ledger CONNINFO [--bench NAME]\n"
      "                     [--flash IMAGE [--reflash]]\n"
      "  k7vconf-cli [--ledger CONNINFO] ledger init | load UNITS.csv | status | export "
      "REPORT.csv\n"
      "  k7vconf-cli defaults [-o FILE|-]\n"
      "  k7vconf-cli diff A B        (A, B: a .bin file, a profile, defaults, or device)\n"
      "  k7vconf-cli convert IN OUT  (IN by its content; OUT a profile for .ini/.txt)\n"
      "  k7vconf-cli fields [--json]  every profile name: page / label, kind, what it takes,\n"
      "                               its byte limit, when the window shows it\n"
      "  k7vconf-cli help | --help | -h      k7vconf-cli version | --version | -V\n"
      "\n"
      "LINK:\n"
      "  --port P      serial port; repeat it to work on several units at once\n"
      "  --baud N  --data 8|7  --parity none|odd|even  --stop 1|2  --switch TEXT\n"
      "                (defaults: parcfg.ini in the working directory, else 115200 8 none 1 "
      "######)\n"
      "  --timeout MS  wait MS for each answer (and for each piece while flashing)\n"
      "  --retries N   repeat a step that got no answer up to N times (default 0); a\n"
      "                download is announced again only after the unit answers the\n"
      "                switch command again\n"
      "\n"
      "Everywhere:\n"
      "  --json        one JSON object per line on stdout, each with port, command,\n"
      "                result and reason\n"
      "  --format ini|bin  the kind of FILE, -o and OUT, whatever their names say\n"
      "  -o FILE, --output FILE   where read and defaults write; -o - is stdout\n"
      "\n"
      "read with several ports: FILE must contain {port}, the port's base name;\n"
      "{port} in a --set value gives each unit its own (--set dtu_id=SITE-{port}).\n"
      "write checks the profile and every --set first; --force lets through values\n"
      "the window's rules refuse but the record can hold. flash refuses what is not\n"
      "a firmware image; --force flashes a file refused only for its content (a\n"
      "record, a profile, text, an archive, a blank body), never one that breaks\n"
      "the image rules (size, version field).\n"
      "\n"
      "station watches every --port until Ctrl+C, SIGTERM or SIGHUP. A unit that\n"
      "answers is known by its serial number: flashed when its version differs from\n"
      "IMAGE's (--reflash: always), written with PROFILE and its row of UNITS.csv\n"
      "(a header of field names; with an sn column a unit takes its own row, else\n"
      "the next one unused), read back, and told to leave configuration; then one\n"
      "line goes into REPORT.csv and the port shows \"done, unplug\". A unit done\n"
      "before (the report says so) or still plugged in is not written again.\n"
      "--probe-interval MS: how often a port without a unit is sent the switch\n"
      "command (default 1000, at most 60000).\n"
      "\n"
      "--ledger CONNINFO: many benches share one PostgreSQL database for the rows\n"
      "and the report (a libpq connection string or URI; the password only from\n"
      "PGPASSWORD, ~/.pgpass or a service file). ledger init creates its tables,\n"
      "load adds the rows of a values file (all or none), status counts rows and\n"
      "units per bench, export writes the report's columns (port: BENCH:PORT).\n"
      "--bench NAME names the station in the ledger (default: the host name).\n"
      "\n"
      "Exit status: 0 every unit succeeded (scan: a unit was found; diff: A and B are\n"
      "  the same);\n"
      "1 a unit failed, or an output (stdout, -o, OUT) could not be written\n"
      "  (diff: A and B differ);\n"
      "2 usage or profile error, nothing was sent;\n"
      "3 diff: the unit could not be read, the run was stopped, or the output failed.\n"
      "station, once stopped: 0 no unit failed; 1 a unit failed or was stopped mid-work,\n"
      "  or the report could not be written (1 at start: nothing was touched).\n"
      "Ctrl+C, SIGTERM and SIGHUP stop every unit cleanly (exit status 1; diff 3).\n");
}
