// k7vconf-cli end to end against simulated DTUs: profiles through real units,
// several units at once, a muted unit, stop signals, retries, scan, JSON,
// exit statuses, and checks before anything is sent.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPort>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <memory>
#include <vector>

#include <csignal>

#include "params/field_model.h"
#include "params/param_profile.h"
#include "support/bytes.h"
#include "support/dtu_sim_process.h"
#include "support/records.h"

namespace {

struct CliRun {
  int exitCode = -1;
  QString out, err;
};

// Answer waits (--timeout). A wait ends as soon as its answer comes, so where
// every unit answers a long one costs nothing and no loaded machine runs it
// out. Where a silent unit must run it out, the run waits the short one; the
// units that answer in the same run then have that long to do it.
constexpr int kAnswersComeMs = 5000;
constexpr int kSilentUnitMs = 100;   // only silent units in the run
constexpr int kSilenceAmongMs = 300; // silent requests beside answered ones

// Starts the program with the answer wait timeoutMs; redirect (a shell's
// "> /dev/full", ">&-") is applied to it by sh.
std::unique_ptr<QProcess> StartCli(QStringList args, const QString& dir = {},
                                   const QString& redirect = {}, int timeoutMs = kAnswersComeMs) {
  auto p = std::make_unique<QProcess>();
  if (!dir.isEmpty()) p->setWorkingDirectory(dir);
  args = QStringList{QStringLiteral("--timeout"), QString::number(timeoutMs)} + args;
  if (redirect.isEmpty())
    p->start(QStringLiteral(K7V_CLI), args);
  else
    p->start(QStringLiteral("/bin/sh"),
             QStringList{QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$@\" ") + redirect,
                         QStringLiteral(K7V_CLI)} +
                 args);
  return p;
}

// How a run StartCli began ends, once it has.
CliRun Finished(QProcess& p) {
  p.waitForFinished(60000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          QString::fromUtf8(p.readAllStandardOutput()),
          QString::fromUtf8(p.readAllStandardError())};
}

// Runs the program to its end; the arguments are StartCli's.
CliRun RunCli(QStringList args, const QString& dir = {}, const QString& redirect = {},
              int timeoutMs = kAnswersComeMs) {
  return Finished(*StartCli(std::move(args), dir, redirect, timeoutMs));
}

// Units started at once; their ports as --port arguments.
struct Units {
  std::vector<std::unique_ptr<DtuSimProcess>> sims;
  QStringList ports;
  bool start(const QList<QStringList>& argsPerUnit) {
    for (const QStringList& args : argsPerUnit) {
      sims.push_back(std::make_unique<DtuSimProcess>());
      if (!sims.back()->start(args)) return false;
      ports << QStringLiteral("--port") << sims.back()->devicePath();
    }
    return true;
  }
  TAppParams record(int i) const { return RecordFrom(sims[std::size_t(i)]->stateRecord()); }
};

// A unit that leaves its first request of one kind unanswered, beside a sound
// one, and how a run with --retries ends for it.
struct FirstAttemptFault {
  const char* name;
  const char* fault; // --silent-once CMD
  const char* command;
  int retries;
  const char* reason; // empty: the unit succeeds
  int retriesUsed;    // ... after this many retries
};
// A switch command without an answer is followed by command 2 and the switch
// command once more in the same try: no retry is needed for it.
const FirstAttemptFault kFirstAttemptFaults[] = {
    {"switch ignored", "1", "info", 2, "", 0},
    {"read unanswered", "3", "read", 2, "", 1},
    {"write answer lost", "4", "write", 2, "", 1},
    {"product information unanswered", "7", "info", 2, "", 1},
    {"announcement ignored", "0xE1", "flash", 2, "", 1},
    {"switch ignored, no retries", "1", "info", 0, "", 0},
    {"write answer lost, no retries", "4", "write", 0,
     "no answer to the write (the unit may have stored the record; --retries reads it back to "
     "tell)",
     0},
};

// A fault's run: the faulty unit first, the sound one, and the program at work.
struct FaultRun {
  Units units;
  QTemporaryDir dir;
  std::unique_ptr<QProcess> cli; // null when the units did not start
};

std::unique_ptr<FaultRun> StartFaultRun(const FirstAttemptFault& f) {
  auto run = std::make_unique<FaultRun>();
  if (!run->units.start({{QStringLiteral("--silent-once"), QString::fromLatin1(f.fault)}, {}}))
    return run;
  const QString command = QString::fromLatin1(f.command);
  const bool flash = command == QLatin1String("flash");
  const QString file = run->dir.filePath(flash ? "fw.bin" : "site.ini");
  WriteFile(file, flash ? QByteArray("V5\0\0\0\0\0\0", 8) + QByteArray(3999, '\x81') + '\x01'
                        : QByteArray("[params]\nport1 = 40404\n"));
  QStringList args =
      run->units.ports + QStringList{QStringLiteral("--json"), QStringLiteral("--retries"),
                                     QString::number(f.retries), command};
  if (command == QLatin1String("write") || flash) args << file;
  run->cli = StartCli(args, {}, {}, kSilenceAmongMs);
  return run;
}

// The summary's row of a port: the last line that starts with it.
QString SummaryRow(const QString& out, const QString& port) {
  QString row;
  for (const QString& line : out.split(u'\n'))
    if (line.startsWith(port + u' ')) row = line;
  return row;
}

bool SentLeave(const DtuSimProcess& sim) {
  for (const QByteArray& f : sim.framesReceived())
    if (f.size() > 1 && std::uint8_t(f[1]) == k7v::kCmdLeaveConfig) return true;
  return false;
}

// Every stdout line as a JSON object; a line that is not one fails the test.
QList<QJsonObject> JsonLines(const QString& out) {
  QList<QJsonObject> objects;
  for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts)) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
    if (!doc.isObject()) qWarning() << "not a JSON object:" << line;
    objects << doc.object();
  }
  return objects;
}

// Placeholders in a table's words: @0 @1 the units' ports, @l0 @l1 links
// named bay1/tty and bay2/tty to them, @d the test's folder.
QStringList Expanded(QStringList words, const Units& u, const QString& dir) {
  for (QString& w : words) {
    for (int i = 0; i < int(u.sims.size()); ++i) {
      w.replace(QStringLiteral("@l%1").arg(i), QStringLiteral("%1/bay%2/tty").arg(dir).arg(i + 1));
      w.replace(QStringLiteral("@%1").arg(i), u.sims[std::size_t(i)]->devicePath());
    }
    w.replace(QStringLiteral("@d"), dir);
  }
  return words;
}

} // namespace

class TestCli : public QObject {
  Q_OBJECT

private slots:
  void readEditWriteChangesOnlyThatField();
  void perUnitValueOnFourUnitsAtOnceAfterABadProfile();
  void flashFourUnitsAtOnce();
  void mutedUnitAmongFour();
  void interruptMidFlashTellsEveryUnitToLeave_data();
  void interruptMidFlashTellsEveryUnitToLeave();
  void singleRuns_data();
  void singleRuns();
  void retriesOnFirstAttemptFaults_data();
  void retriesOnFirstAttemptFaults();
  void everyCommandSpeaksJson_data();
  void everyCommandSpeaksJson();
  void scanFindsUnitsAtFourSpeedsAtOnce();
  void fieldsAndProfileChecksBeforeAnyUnit();
  void unitsOwnRecordGoesBack();

private:
  std::map<QByteArray, std::unique_ptr<FaultRun>> faultRuns_; // by data tag
};

void TestCli::readEditWriteChangesOnlyThatField() {
  Units u;
  QVERIFY(u.start({{}}));
  QTemporaryDir dir;
  const QString first = dir.filePath(QStringLiteral("first.ini")),
                edited = dir.filePath(QStringLiteral("edited.ini"));
  CliRun r = RunCli(u.ports + QStringList{QStringLiteral("read"), QStringLiteral("-o"), first});
  QVERIFY2(r.exitCode == 0, qPrintable(r.err + r.out));
  QByteArray text = ReadFile(first);
  QVERIFY(text.contains("\nport1 = 51001\n"));
  WriteFile(edited, text.replace("\nport1 = 51001\n", "\nport1 = 40123\n"));

  r = RunCli(u.ports + QStringList{QStringLiteral("write"), edited});
  QVERIFY2(r.exitCode == 0, qPrintable(r.err + r.out));
  // The raw record on stdout: --format overrides what "-" cannot say.
  QProcess raw;
  raw.start(QStringLiteral(K7V_CLI),
            u.ports + QStringList{QStringLiteral("read"), QStringLiteral("-o"), QStringLiteral("-"),
                                  QStringLiteral("--format"), QStringLiteral("bin")});
  QVERIFY(raw.waitForFinished(20000));
  QCOMPARE(raw.readAllStandardOutput(), u.sims[0]->stateRecord());
  r = RunCli(u.ports + QStringList{QStringLiteral("diff"), first, QStringLiteral("device")});
  QCOMPARE(r.exitCode, 1);
  QCOMPARE(r.out, QStringLiteral("port1: 51001 → 40123\n"));
  QCOMPARE(RunCli(u.ports + QStringList{QStringLiteral("diff"), edited, QStringLiteral("device")})
               .exitCode,
           0);
}

void TestCli::perUnitValueOnFourUnitsAtOnceAfterABadProfile() {
  Units u;
  QVERIFY(u.start({{}, {}, {}, {}}));
  QTemporaryDir dir;
  const QString profile = dir.filePath(QStringLiteral("site.ini"));
  const auto write = [&](const QByteArray& text, const char* set) {
    WriteFile(profile, text);
    return RunCli(u.ports + QStringList{QStringLiteral("write"), profile, QStringLiteral("--set"),
                                        QString::fromLatin1(set)});
  };
  // Every wrong line is told, and not one unit hears a byte.
  CliRun r = write("[params]\nport1 = 70000\ndelay = 99\nip1 = 1.2.3.4\nnosuch = 1\n",
                   "run_mode=sometimes");
  QCOMPARE(r.exitCode, 2);
  for (const char* expected :
       {"site.ini:2: port1: 70000:", "site.ini:5: nosuch: 1:", "--set: run_mode: sometimes:"})
    QVERIFY2(r.err.contains(QLatin1String(expected)), qPrintable(r.err));
  for (const auto& sim : u.sims) QVERIFY(sim->bytesReceived().isEmpty());
  // A value the field rules refuse may be a unit's own: each unit's record
  // decides, and a unit that would change to it is written nothing.
  const TAppParams before = u.record(0);
  r = write("[params]\ndelay = 99\n", "dtu_id=X");
  QVERIFY(r.exitCode != 0);
  QVERIFY2((r.out + r.err).contains(QLatin1String("site.ini:2: delay: 99: allowed 100~1000")),
           qPrintable(r.out + r.err));
  QCOMPARE(u.record(0), before);

  r = write("[params]\nhostname1 = {port}.example.net\n", "dtu_id=U-{port}");
  QVERIFY2(r.exitCode == 0, qPrintable(r.err + r.out));
  for (int i = 0; i < 4; ++i) {
    const TAppParams got = u.record(i);
    const auto diffs = CompareRecords(u.record(0), got);
    if (i > 0) QCOMPARE(diffs.size(), std::size_t(2)); // dtu_id and hostname1
    QCOMPARE(QString::fromStdString(got.GetText(AppField::dtu_id)),
             QStringLiteral("U-") + u.sims[std::size_t(i)]->devicePath().section(u'/', -1));
    QCOMPARE(QString::fromStdString(got.GetText(AppField::hostname1)),
             u.sims[std::size_t(i)]->devicePath().section(u'/', -1) + ".example.net");
  }
}

void TestCli::flashFourUnitsAtOnce() {
  Units u;
  QVERIFY(u.start({{}, {}, {}, {}}));
  QTemporaryDir dir;
  QByteArray body;
  for (int i = 0; i < 5000; ++i) body.append(char(i * 7));
  WriteFile(dir.filePath(QStringLiteral("fw.bin")), QByteArray("V9.99\0\0\0", 8) + body);
  const CliRun r = RunCli(
      u.ports + QStringList{QStringLiteral("flash"), dir.filePath(QStringLiteral("fw.bin"))});
  QVERIFY2(r.exitCode == 0, qPrintable(r.err + r.out));
  for (const auto& sim : u.sims) QCOMPARE(sim->stateImage(), body);
}

void TestCli::mutedUnitAmongFour() {
  Units u;
  QVERIFY(u.start({{}, {QStringLiteral("--silent"), QStringLiteral("1")}, {}, {}}));
  const CliRun r = RunCli(u.ports + QStringList{QStringLiteral("info")}, {}, {}, kSilenceAmongMs);
  QCOMPARE(r.exitCode, 1);
  for (int i = 0; i < 4; ++i) {
    const QString row = SummaryRow(r.out, u.sims[std::size_t(i)]->devicePath());
    const bool muted = i == 1;
    QVERIFY2(muted
                 ? row.contains(QLatin1String("failed")) && row.contains(QLatin1String("no answer"))
                 : row.contains(QLatin1String(" ok ")),
             qPrintable(row));
  }
}

void TestCli::interruptMidFlashTellsEveryUnitToLeave_data() {
  QTest::addColumn<int>("sig");
  QTest::addColumn<QString>("trigger"); // the line after which the signal goes
  QTest::addColumn<bool>("everyUnit");  // ... once every unit showed it, else once one did
  QTest::addColumn<int>("imageSize");
  // The first progress line: most of the image is still to go.
  QTest::newRow("Ctrl+C mid-flash") << int(SIGINT) << ": flashing " << true << 16000;
  QTest::newRow("SIGTERM mid-flash") << int(SIGTERM) << ": flashing " << true << 16000;
  QTest::newRow("SIGHUP mid-flash") << int(SIGHUP) << ": flashing " << true << 16000;
  // The stop races the first unit's session being torn down.
  QTest::newRow("SIGTERM as a unit ends")
      << int(SIGTERM) << ": leaving configuration" << false << 3000;
}

void TestCli::interruptMidFlashTellsEveryUnitToLeave() {
  QFETCH(int, sig);
  QFETCH(QString, trigger);
  QFETCH(bool, everyUnit);
  QFETCH(int, imageSize);
  Units u;
  const QStringList paced{QStringLiteral("--baud"), QStringLiteral("115200"),
                          QStringLiteral("--pace")};
  QVERIFY(u.start({paced, paced, paced, paced}));
  QTemporaryDir dir;
  WriteFile(dir.filePath(QStringLiteral("fw.bin")),
            QByteArray("V1\0\0\0\0\0\0", 8) + QByteArray(imageSize - 1, '\x5A') + '\x01');
  QProcess p;
  p.start(QStringLiteral(K7V_CLI),
          u.ports + QStringList{QStringLiteral("flash"), dir.filePath(QStringLiteral("fw.bin"))});
  const pid_t pid = pid_t(p.processId());
  QString out;
  auto triggered = [&] {
    int seen = 0;
    for (const auto& sim : u.sims) seen += out.contains(sim->devicePath() + trigger);
    return everyUnit ? seen == int(u.sims.size()) : seen > 0;
  };
  while (!triggered() && p.waitForReadyRead(10000))
    out += QString::fromUtf8(p.readAllStandardOutput());
  QVERIFY2(triggered(), qPrintable(out));
  if (p.state() == QProcess::Running) ::kill(pid, sig);
  QVERIFY(p.waitForFinished(20000));
  out += QString::fromUtf8(p.readAllStandardOutput());
  QCOMPARE(p.exitStatus(), QProcess::NormalExit);
  QVERIFY2(everyUnit ? p.exitCode() == 1 : p.exitCode() <= 1, qPrintable(out));
  for (const auto& sim : u.sims) {
    const QString row = SummaryRow(out, sim->devicePath());
    QVERIFY2(everyUnit ? row.contains(QLatin1String("stopped")) : !row.isEmpty(), qPrintable(out));
    // A paced unit reads the leave frame after the answer it was taking in.
    QVERIFY(sim->waitForLog([&] { return SentLeave(*sim); }));
  }
}

void TestCli::singleRuns_data() {
  QTest::addColumn<QString>("parcfg"); // parcfg.ini in the working folder, when not empty
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<QString>("redirect");
  QTest::addColumn<int>("status");
  QTest::addColumn<QString>("expected"); // in stdout or stderr
  QTest::addColumn<bool>("touches");     // false: no unit may hear a byte
  const QString none;
  auto row = [&](const char* name, const QStringList& args, int status, const char* expected,
                 bool touches, const QString& redirect = {}, const QString& parcfg = {}) {
    QTest::newRow(name) << parcfg << args << redirect << status << QString::fromUtf8(expected)
                        << touches;
  };
  row("flash a parameter record", {"--port", "@0", "flash", "@d/record.bin"}, 2,
      "a parameter record (693 bytes), not a firmware image", false);
  row("flash a profile", {"--port", "@0", "flash", "@d/profile.bin"}, 2, "a parameter profile",
      false);
  row("flash a text", {"--port", "@0", "flash", "@d/notes.bin"}, 2, "notes.bin: text (", false);
  row("flash a text, forced", {"--port", "@0", "flash", "@d/notes.bin", "--force"}, 0,
      "flashing notes.bin: version Release , ", true);
  row("{port} the same for two ports",
      {"--port", "@l0", "--port", "@l1", "write", "@d/site.ini", "--set", "dtu_id=X-{port}"}, 2,
      "{port} would be \"tty\" for both", false);
  row("one port under two names", {"--port", "@0", "--port", "@l0", "info"}, 2, "are the same port",
      false);
  row("a profile that sets nothing", {"--port", "@0", "write", "@d/empty.ini"}, 2,
      "empty.ini sets no field: nothing to write", false);
  row("an empty port name", {"--port", "", "info"}, 2, "a port name, not an empty text", false);
  row("a plain file as port", {"--port", "@d/site.ini", "info"}, 1,
      "cannot open: not a serial port", false);
  row("a port held by another program", {"--port", "@0", "--port", "@1", "info"}, 1,
      "cannot open: in use by another program", true);
  row("read into a full disk", {"--port", "@0", "read"}, 1,
      "standard output: No space left on device", true, "> /dev/full");
  row("defaults into a full disk", {"defaults"}, 1, "No space left on device", false,
      "> /dev/full");
  row("diff into a full disk", {"diff", "defaults", "@d/site.ini"}, 3, "No space left on device",
      false, "> /dev/full");
  row("read with stdout closed", {"--port", "@0", "read"}, 1,
      "standard output: Bad file descriptor", false, ">&-");
  row("read into a missing folder", {"--port", "@0", "read", "-o", "@d/no/x.ini"}, 1,
      "no such directory", false);
  row("defaults into a missing folder", {"defaults", "-o", "@d/no/x.ini"}, 1, "x.ini", false);
  row("convert into a missing folder", {"convert", "@d/site.ini", "@d/no/x.bin"}, 1, "x.bin",
      false);
  row("an empty value in diff", {"diff", "defaults", "@d/site.ini"}, 1, "dtu_id: \"\" → SITE-1",
      false);
  row("--format ini on a Notepad \"Unicode\" profile",
      {"diff", "--format", "ini", "@d/unicode.prof", "defaults"}, 1, "dtu_id: 中文 → \"\"", false);
  row("version", {"-V"}, 0, "k7vconf-cli 1.", false);
  row("write changes one field", {"--port", "@0", "write", "@d/site.ini"}, 0, "1 field(s) changed",
      true);
  row("write of what the unit holds", {"--port", "@0", "write", "@d/same.ini"}, 0,
      "already so: 0 fields changed", true);
  row("write of a new switch command",
      {"--port", "@0", "write", "@d/same.ini", "--set", "switch_cmd=$$$$$$"}, 0,
      "warning: @0: the unit's switch command is now \"$$$$$$\"; the next session must use "
      "--switch '$$$$$$'",
      true);
  const auto station = [](const char* values, const char* report) {
    return QStringList{"--port",   "@0",   "station",  "@d/site.ini",
                       "--values", values, "--report", report};
  };
  row("station: a value the rules refuse", station("@d/units.csv", "@d/rep.csv"), 2,
      "units.csv:3: port1: 70000:", false);
  row("station: a column that is no field", station("@d/columns.csv", "@d/rep.csv"), 2,
      "columns.csv:1: nosuch: : no such field", false);
  row("station: a quote never closed", station("@d/quote.csv", "@d/rep.csv"), 2,
      "quote.csv:3: a quote opened on line 3 is never closed", false);
  row("station: {port} in a row", station("@d/portcell.csv", "@d/rep.csv"), 2,
      "portcell.csv:3: dtu_id: X-{port}: {port} in a row", false);
  row("station: a serial number longer than a unit reports", station("@d/longsn.csv", "@d/rep.csv"),
      2, "longsn.csv:5: sn: K7S00000000000017: longer than the 16 bytes a unit reports", false);
  row("station: {port} in the profile",
      {"--port", "@0", "station", "@d/port.ini", "--report", "@d/rep.csv"}, 2,
      "port.ini:2: {port}: the station gives every unit on a port the same {port}", false);
  row("station: a Notepad \"Unicode\" profile",
      {"--port", "@0", "station", "@d/unicode-refused.ini", "--report", "@d/rep.csv"}, 2,
      "unicode-refused.ini:3: port1: 70000: too large for the record", false);
  row("station: a report that cannot be written",
      {"--port", "@0", "station", "@d/site.ini", "--report", "@d/no/rep.csv"}, 1,
      "no such directory", false);
  row("station --ledger with a values file",
      {"--port", "@0", "station", "@d/site.ini", "--ledger", "host=/nowhere", "--values",
       "@d/units.csv"},
      2, "station --ledger takes its rows from the ledger", false);
  row("station --ledger with a password in it",
      {"--port", "@0", "station", "@d/site.ini", "--ledger", "host=/nowhere password=pw"}, 2,
      "holds a password", false);
  row("station --ledger on no server",
      {"--port", "@0", "station", "@d/site.ini", "--ledger", "host=@d port=1 user=x dbname=y"}, 1,
      "Is the server running", false);
  row("ledger without what to do", {"ledger"}, 2, "ledger needs one of init | load", false);
  row("ledger load without a file", {"ledger", "load"}, 2, "ledger load needs a file", false);
  row("--bench without the ledger",
      {"--port", "@0", "--bench", "b", "station", "@d/site.ini", "--report", "@d/rep.csv"}, 2,
      "--bench belongs to station --ledger", false);
  // The window accepts a switch command of 7 characters and sends 6.
  const QString longConf = QStringLiteral("[serial]\nconf=#######\n");
  row("parcfg.ini no matter to defaults", {"defaults", "-o", "@d/d.ini"}, 0, "", false, none,
      longConf);
  row("parcfg.ini no matter to diff", {"diff", "@d/site.ini", "defaults"}, 1, "dtu_id: SITE-1",
      false, none, longConf);
  row("parcfg.ini switch taken as the window does", {"--port", "@0", "info"}, 0, "is longer than 6",
      true, none, longConf);
  row("--switch wins over parcfg.ini", {"--port", "@0", "--switch", "######", "info"}, 0,
      "version V2.01", true, none, QStringLiteral("[serial]\nconf=wrong-one-too-long\n"));
}

void TestCli::singleRuns() {
  QFETCH(QString, parcfg);
  QFETCH(QStringList, args);
  QFETCH(QString, redirect);
  QFETCH(int, status);
  QFETCH(QString, expected);
  QFETCH(bool, touches);
  Units u;
  QVERIFY(u.start({{}, {}}));
  QTemporaryDir tmp;
  const QString dir = tmp.path();
  for (int i = 0; i < 2; ++i) {
    QDir(dir).mkdir(QStringLiteral("bay%1").arg(i + 1));
    QFile::link(u.sims[std::size_t(i)]->devicePath(),
                QStringLiteral("%1/bay%2/tty").arg(dir).arg(i + 1));
  }
  WriteFile(dir + QStringLiteral("/record.bin"), RecordBytes(DistinctRecord()));
  WriteFile(dir + QStringLiteral("/profile.bin"), "; exported\n[params]\nport1 = 5\n");
  QByteArray notes("Release notes\n");
  for (int i = 0; i < 66; ++i) notes += "- fixed something, line " + QByteArray::number(i) + "\n";
  WriteFile(dir + QStringLiteral("/notes.bin"), notes);
  WriteFile(dir + QStringLiteral("/site.ini"), "[params]\ndtu_id = SITE-1\n");
  WriteFile(dir + QStringLiteral("/same.ini"), "[params]\nport1 = 51001\n");
  // As Notepad saves "Unicode": UTF-16 little-endian after its byte order mark.
  const auto utf16 = [](const QString& text) -> QByteArray {
    return QStringEncoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom).encode(text);
  };
  WriteFile(dir + QStringLiteral("/unicode.prof"), utf16("[params]\r\ndtu_id = 中文\r\n"));
  WriteFile(dir + QStringLiteral("/unicode-refused.ini"),
            utf16("[params]\r\ndtu_id = 中文\r\nport1 = 70000\r\n"));
  WriteFile(dir + QStringLiteral("/port.ini"), "[params]\ndtu_id = SITE-{port}\n");
  WriteFile(dir + QStringLiteral("/empty.ini"), "; nothing decided yet\n[params]\n");
  WriteFile(dir + QStringLiteral("/units.csv"), "sn,port1\nK1,40001\nK2,70000\n");
  WriteFile(dir + QStringLiteral("/columns.csv"), "sn,nosuch\nK1,1\n");
  WriteFile(dir + QStringLiteral("/quote.csv"), "sn,dtu_id\nK1,A\nK2,\"open\n");
  WriteFile(dir + QStringLiteral("/portcell.csv"), "sn,dtu_id\nK1,A\nK2,X-{port}\n");
  WriteFile(dir + QStringLiteral("/longsn.csv"),
            "sn,dtu_id\nK7S0000000000016,A\n\"K7S\nA1\",B\nK7S00000000000017,C\n");
  if (!parcfg.isEmpty()) WriteFile(dir + QStringLiteral("/parcfg.ini"), parcfg.toUtf8());
  // Another program holds the second unit's port.
  QSerialPort holder;
  if (QTest::currentDataTag() == QByteArray("a port held by another program")) {
    holder.setPortName(u.sims[1]->devicePath());
    QVERIFY(holder.open(QIODevice::ReadWrite));
  }
  const CliRun r = RunCli(Expanded(args, u, dir), dir, redirect);
  const QString all = r.out + r.err;
  QVERIFY2(r.exitCode == status, qPrintable(QString::number(r.exitCode) + u'\n' + all));
  QVERIFY2(all.contains(Expanded({expected}, u, dir).front()), qPrintable(all));
  if (!touches)
    for (const auto& sim : u.sims) QVERIFY(sim->bytesReceived().isEmpty());
}

void TestCli::retriesOnFirstAttemptFaults_data() {
  QTest::addColumn<QString>("command");
  QTest::addColumn<QString>("reason");
  QTest::addColumn<int>("retriesUsed");
  for (const FirstAttemptFault& f : kFirstAttemptFaults)
    QTest::newRow(f.name) << QString::fromLatin1(f.command) << QString::fromLatin1(f.reason)
                          << f.retriesUsed;
}

void TestCli::retriesOnFirstAttemptFaults() {
  QFETCH(QString, command);
  QFETCH(QString, reason);
  QFETCH(int, retriesUsed);
  // Every row's run starts with the first row's: each sits out a silent
  // request, and those waits overlap.
  if (faultRuns_.empty())
    for (const FirstAttemptFault& f : kFirstAttemptFaults) faultRuns_[f.name] = StartFaultRun(f);
  FaultRun& run = *faultRuns_.at(QTest::currentDataTag());
  QVERIFY(run.cli);
  const Units& u = run.units;
  const CliRun r = Finished(*run.cli);
  const QList<QJsonObject> lines = JsonLines(r.out);
  const auto faulty = std::find_if(lines.begin(), lines.end(), [&](const QJsonObject& o) {
    return o[QStringLiteral("port")] == u.sims[0]->devicePath();
  });
  QVERIFY2(faulty != lines.end() && r.exitCode != 2, qPrintable(r.err));
  QCOMPARE((*faulty)[QStringLiteral("reason")].toString(), reason);
  QCOMPARE((*faulty)[QStringLiteral("retries")].toInt(), retriesUsed);
  QCOMPARE(lines.back()[QStringLiteral("retries")].toInt(), retriesUsed); // summary
  QCOMPARE(r.exitCode, reason.isEmpty() ? 0 : 1);
  if (retriesUsed > 0)
    QVERIFY2(r.err.contains(QLatin1String(": retry 1 of 2: ")), qPrintable(r.err));
  if (command == QLatin1String("write")) QCOMPARE(u.record(0).Get(AppField::port1), 40404u);
}

void TestCli::everyCommandSpeaksJson_data() {
  QTest::addColumn<QStringList>("sim");
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("status");
  const QStringList ok, muted{"--silent", "1"};
  QTest::newRow("ports") << ok << QStringList{"ports"} << 0;
  QTest::newRow("scan") << ok << QStringList{"--port", "@0", "scan"} << 0;
  QTest::newRow("info") << ok << QStringList{"--port", "@0", "info"} << 0;
  QTest::newRow("info, muted unit") << muted << QStringList{"--port", "@0", "info"} << 1;
  // Left in configuration mode by a tool that was cut off: command 2 brings it back.
  const QStringList left{"--in-config"};
  QTest::newRow("scan, unit left in configuration mode")
      << left << QStringList{"--port", "@0", "scan"} << 0;
  QTest::newRow("write, unit left in configuration mode")
      << left << QStringList{"--port", "@0", "write", "@d/site.ini"} << 0;
  QTest::newRow("read") << ok << QStringList{"--port", "@0", "read"} << 0;
  QTest::newRow("write") << ok << QStringList{"--port", "@0", "write", "@d/site.ini"} << 0;
  QTest::newRow("flash") << ok << QStringList{"--port", "@0", "flash", "@d/fw.bin"} << 0;
  QTest::newRow("defaults") << ok << QStringList{"defaults"} << 0;
  QTest::newRow("diff files") << ok << QStringList{"diff", "@d/site.ini", "defaults"} << 1;
  QTest::newRow("diff device") << ok << QStringList{"--port", "@0", "diff", "device", "defaults"}
                               << 0;
  QTest::newRow("diff, muted unit")
      << muted << QStringList{"--port", "@0", "diff", "device", "defaults"} << 3;
  QTest::newRow("convert") << ok << QStringList{"convert", "@d/site.ini", "@d/site.bin"} << 0;
  QTest::newRow("fields") << ok << QStringList{"fields"} << 0;
  QTest::newRow("help") << ok << QStringList{"help"} << 0;
  QTest::newRow("version") << ok << QStringList{"version"} << 0;
  QTest::newRow("usage error") << ok << QStringList{"read", "--set", "x=1"} << 2;
}

void TestCli::everyCommandSpeaksJson() {
  QFETCH(QStringList, sim);
  QFETCH(QStringList, args);
  QFETCH(int, status);
  Units u;
  QVERIFY(u.start({sim}));
  QTemporaryDir dir;
  WriteFile(dir.filePath(QStringLiteral("site.ini")), "[params]\ndtu_id = SITE-2\n");
  WriteFile(dir.filePath(QStringLiteral("fw.bin")),
            QByteArray("V6\0\0\0\0\0\0", 8) + QByteArray(1999, '\xC3') + '\x01');
  const CliRun r = RunCli(Expanded(args, u, dir.path()) << QStringLiteral("--json"), {}, {},
                          sim.isEmpty() ? kAnswersComeMs : kSilentUnitMs);
  QCOMPARE(r.exitCode, status);
  const QList<QJsonObject> lines = JsonLines(r.out);
  QVERIFY2(!lines.isEmpty(), qPrintable(r.err));
  for (const QJsonObject& o : lines) {
    QVERIFY2(o[QStringLiteral("port")].isString() || o[QStringLiteral("port")].isNull(),
             qPrintable(r.out));
    for (const char* key : {"command", "result", "reason"})
      QVERIFY2(o[QLatin1String(key)].isString(), qPrintable(r.out));
  }
}

void TestCli::scanFindsUnitsAtFourSpeedsAtOnce() {
  // The first four the scan tries: the unit at the last one waits out three.
  const QList<int> speeds{115200, 57600, 38400, 19200};
  Units u;
  QList<QStringList> args;
  for (int baud : speeds) args << QStringList{QStringLiteral("--baud"), QString::number(baud)};
  QVERIFY(u.start(args));
  QElapsedTimer wall;
  wall.start();
  const CliRun r = RunCli(u.ports + QStringList{QStringLiteral("scan"), QStringLiteral("--json")},
                          {}, {}, kSilenceAmongMs);
  const double wallSeconds = double(wall.elapsed()) / 1000.0;
  QVERIFY2(r.exitCode == 0, qPrintable(r.err + r.out));
  double sum = 0;
  const QList<QJsonObject> lines = JsonLines(r.out);
  for (int i = 0; i < speeds.size(); ++i) {
    const auto unit = std::find_if(lines.begin(), lines.end(), [&](const QJsonObject& o) {
      return o[QStringLiteral("port")] == u.sims[std::size_t(i)]->devicePath();
    });
    QVERIFY(unit != lines.end());
    QCOMPARE((*unit)[QStringLiteral("baud")].toInt(), speeds[i]);
    QCOMPARE((*unit)[QStringLiteral("framing")].toString(), QStringLiteral("8N1"));
    QCOMPARE((*unit)[QStringLiteral("sn")].toString(), QStringLiteral("K7S0000000000001"));
    sum += (*unit)[QStringLiteral("seconds")].toDouble();
  }
  // The ports are tried in parallel, each at wire settings of its own.
  QVERIFY2(wallSeconds < sum,
           qPrintable(QStringLiteral("%1 s, units %2 s").arg(wallSeconds).arg(sum)));
}

void TestCli::fieldsAndProfileChecksBeforeAnyUnit() {
  // The model for another front end: one object per field, in one JSON line.
  CliRun r = RunCli({QStringLiteral("fields"), QStringLiteral("--json")});
  QCOMPARE(r.exitCode, 0);
  QCOMPARE(r.out.count(u'\n'), 1);
  QHash<QString, QJsonObject> fields;
  const QJsonObject answer = QJsonDocument::fromJson(r.out.toUtf8()).object();
  for (const QJsonValue& v : answer[QStringLiteral("fields")].toArray())
    fields.insert(v[QStringLiteral("name")].toString(), v.toObject());
  QCOMPARE(fields.size(), qsizetype(kFieldRows.size()));
  QCOMPARE(fields["dtu_id"]["max_bytes"].toInt(), 15);
  QCOMPARE(fields["port1"]["min"].toInt(), 0);
  QCOMPARE(fields["port1"]["max"].toInt(), 65535);
  QStringList words;
  for (const QJsonValue& w : fields["run_mode"]["words"].toArray())
    words << w[QStringLiteral("word")].toString();
  QStringList modelWords;
  for (const FieldWord& w : FieldRowOf(AppField::run_mode).words)
    modelWords << QString::fromUtf8(w.word.data(), qsizetype(w.word.size()));
  QCOMPARE(words, modelWords);
  r = RunCli({QStringLiteral("fields")});
  QCOMPARE(r.out.count(u'\n'), qsizetype(kFieldRows.size()));

  // A unit hears nothing of a typed text without room for its zero byte; a
  // raw record's values the rules refuse are the unit's to decide, and the
  // issue names the field, not a line of a profile nobody wrote.
  Units u;
  QVERIFY(u.start({{}}));
  QTemporaryDir dir;
  TAppParams unit = DistinctRecord();
  unit.Set(AppField::com_ptcl, 0);
  unit.Set(AppField::delay, 50);
  const QString raw = dir.filePath(QStringLiteral("unit.bin"));
  WriteFile(raw, RecordBytes(unit));
  r = RunCli(u.ports + QStringList{QStringLiteral("write"), raw, QStringLiteral("--set"),
                                   QStringLiteral("dtu_id=中中中中中中中中")});
  QCOMPARE(r.exitCode, 2);
  QVERIFY2(r.err.contains(QStringLiteral("--set: dtu_id: 中中中中中中中中: too long: 16 GBK bytes, "
                                         "allowed 0~15 bytes")),
           qPrintable(r.err));
  QVERIFY(u.sims[0]->bytesReceived().isEmpty());
  const TAppParams before = u.record(0);
  r = RunCli(u.ports + QStringList{QStringLiteral("write"), raw});
  QVERIFY(r.exitCode != 0);
  QVERIFY2((r.out + r.err).contains(raw + QStringLiteral(": delay: 50: allowed 100~1000")),
           qPrintable(r.out + r.err));
  QCOMPARE(u.record(0), before);
}

// A unit's own record, read and written back, is never refused: it is stored
// as the window stores it, with a note for each value that changes.
void TestCli::unitsOwnRecordGoesBack() {
  TAppParams unit = DistinctRecord();
  unit.Set(AppField::delay, 50);                     // the rules refuse it when typed
  unit.Set(AppField::recv_sms_en, 2);                // the box shows it ticked
  unit.Set(AppField::debug, 9);                      // outside its list
  unit.Set(AppField::select_ptcl, 1);                // KTSP ...
  unit.Set(AppField::connection_type1, 0);           // ... with TCP
  unit.SetText(AppField::apn, std::string(64, 'a')); // no zero byte left
  unit.SetText(AppField::switch_cmd, "######");
  DtuSimProcess sim;
  QVERIFY2(sim.startWithRecord(RecordBytes(unit)), qPrintable(sim.errorString()));
  QTemporaryDir dir;
  const QString own = dir.filePath(QStringLiteral("r.ini"));
  const QStringList port{QStringLiteral("--port"), sim.devicePath()};
  CliRun r = RunCli(port + QStringList{QStringLiteral("read"), QStringLiteral("-o"), own});
  QVERIFY2(r.exitCode == 0, qPrintable(r.err));
  QVERIFY(!ReadFile(own).contains("refuse"));
  r = RunCli(port + QStringList{QStringLiteral("write"), own});
  QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
  for (const char* note : {"note: recv_sms_en: 2 → on", "note: debug: 9 → 255",
                           "note: connection_type1: tcp → udp", "note: apn: fills its field"})
    QVERIFY2((r.out + r.err).contains(QString::fromUtf8(note)), qPrintable(r.out + r.err));
  const TAppParams got = RecordFrom(sim.stateRecord());
  QCOMPARE(got.Get(AppField::recv_sms_en), 1u);
  QCOMPARE(got.Get(AppField::debug), 0xFFu);
  for (AppField f :
       {AppField::connection_type1, AppField::connection_type2, AppField::connection_type3})
    QCOMPARE(got.Get(f), 1u);
  QVERIFY(got.Get(AppField::packet_len) <= 992u);
  QCOMPARE(got.Get(AppField::delay), 50u);
  QCOMPARE(got.GetText(AppField::apn), std::string(64, 'a'));
  QCOMPARE(got.GetText(AppField::dtu_id), unit.GetText(AppField::dtu_id));
}

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
