// k7vconf-cli station end to end, against units as strict as a real one may
// be (in configuration mode a switch command is noise; a download leaves
// them there): simulated units plugged into two ports one after another,
// each with its own row of values, units left plugged in whatever their
// ending, two units with one serial number, a report read back after serial
// numbers no spreadsheet expects, a full disk, and stations killed mid-unit
// then started again on their report.

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include <csignal>

#include "support/bytes.h"
#include "support/dtu_sim_process.h"
#include "support/records.h"

namespace {

using Match = std::function<bool(const QJsonObject&)>;

// The station as a child process, its JSON lines taken as they come.
class StationRun {
public:
  // shell: run under bash with this first (limits), else the station alone.
  explicit StationRun(const QStringList& args, const QString& shell = {}) {
    const QStringList all =
        QStringList{QStringLiteral("--json"), QStringLiteral("--timeout"), QStringLiteral("400"),
                    QStringLiteral("--probe-interval"), QStringLiteral("50")} +
        args;
    if (shell.isEmpty())
      p_.start(QStringLiteral(K7V_CLI), all);
    else
      p_.start(QStringLiteral("bash"),
               QStringList{QStringLiteral("-c"), shell + QStringLiteral("; exec \"$0\" \"$@\""),
                           QStringLiteral(K7V_CLI)} +
                   all);
  }
  ~StationRun() {
    if (p_.state() != QProcess::NotRunning) p_.kill();
    p_.waitForFinished(5000);
  }
  // True once a line matches (those seen before count); false when the
  // station ends or says nothing more for 20 s.
  bool waitFor(const Match& match) {
    for (;;) {
      if (std::any_of(lines.begin(), lines.end(), match)) return true;
      if (!p_.waitForReadyRead(20000)) return false;
      take();
    }
  }
  // Sends the signal and waits for the end; the exit status, -1 for a crash.
  int stop(int sig) {
    if (p_.state() != QProcess::NotRunning && p_.processId() > 0)
      ::kill(pid_t(p_.processId()), sig);
    p_.waitForFinished(20000);
    take();
    err = QString::fromUtf8(p_.readAllStandardError());
    return p_.exitStatus() == QProcess::NormalExit ? p_.exitCode() : -1;
  }
  QList<QJsonObject> lines;
  QString err;

private:
  void take() {
    pending_ += p_.readAllStandardOutput();
    for (qsizetype nl; (nl = pending_.indexOf('\n')) >= 0; pending_.remove(0, nl + 1)) {
      const QJsonObject o = QJsonDocument::fromJson(pending_.left(nl)).object();
      // Every line is an object with the keys every command's lines have.
      if (!o.value(QStringLiteral("port")).isString() && !o.value(QStringLiteral("port")).isNull())
        qWarning() << "no port in" << pending_.left(nl);
      for (const char* key : {"command", "result", "reason"})
        if (!o.value(QLatin1String(key)).isString()) qWarning() << "no" << key << pending_.left(nl);
      lines << o;
    }
  }
  QProcess p_;
  QByteArray pending_;
};

Match Result(const char* result, const QString& sn) {
  return [=](const QJsonObject& o) {
    return o[QStringLiteral("result")] == QLatin1String(result) &&
           o[QStringLiteral("sn")].toString() == sn;
  };
}

// The probes a unit has heard: switch commands it read, whatever its mode.
qsizetype ProbesHeard(const DtuSimProcess& sim) { return sim.bytesReceived().count("######"); }

// A unit plugged into port: dtu-sim with its serial number behind the link.
std::unique_ptr<DtuSimProcess> Plug(const QString& port, const QString& sn,
                                    const QStringList& extra = {}) {
  auto sim = std::make_unique<DtuSimProcess>();
  if (!sim->start(QStringList{QStringLiteral("--sn"), sn, QStringLiteral("--link"), port} + extra))
    qWarning() << sim->errorString();
  return sim;
}

int FramesOf(const DtuSimProcess& sim, std::uint8_t command) {
  int n = 0;
  for (const QByteArray& f : sim.framesReceived())
    n += f.size() > 1 && std::uint8_t(f[1]) == command;
  return n;
}

// What a unit holds after the station: the factory set, the profile's field and its row's.
QByteArray Provisioned(const char* dtuId, std::uint32_t port1) {
  TAppParams r = FactoryRecord();
  r.SetText(AppField::hostname1, "site.example.net");
  r.SetText(AppField::dtu_id, dtuId);
  r.Set(AppField::port1, port1);
  return RecordBytes(r);
}

// The report's lines after the header, cell by cell (the values here hold no comma).
QList<QStringList> ReportLines(const QString& path) {
  QList<QStringList> out;
  const QStringList lines = QString::fromUtf8(ReadFile(path)).split(u'\n', Qt::SkipEmptyParts);
  for (qsizetype i = 1; i < lines.size(); ++i) out << lines[i].split(u',');
  return out;
}
enum Column {
  kSn = 2,
  kBefore,
  kAfter,
  kChecksum,
  kSha,
  kRow,
  kResult,
  kReason,
  kRetries
};

} // namespace

class TestStation : public QObject {
  Q_OBJECT

private slots:
  void unitsInTurnOnTwoPortsEachGetTheirRow();
  void unitGivenAnotherSwitchCommandStaysDone();
  void killedMidUnitThenStartedAgain();
  void unitLeftPluggedInGetsOneAttempt_data();
  void unitLeftPluggedInGetsOneAttempt();
  void secondUnitUnderADoneSerialNumber();
  void unitsSwappedAreReachedBeforeTheNextProbe();
  void reportReadsBackWhatItWrote();
  void fullDiskCountsAgree();
  void killTrialsKeepEveryInvariant();
};

void TestStation::unitsInTurnOnTwoPortsEachGetTheirRow() {
  QTemporaryDir tmp;
  const QString d = tmp.path(), bay1 = d + "/bay1", bay2 = d + "/bay2", report = d + "/rep.csv";
  WriteFile(d + "/p.ini", "[params]\nhostname1 = site.example.net\n");
  // As a spreadsheet saves it: a mark, CR LF, quotes around a comma and quotes.
  WriteFile(d + "/units.csv", "\xEF\xBB\xBFsn,dtu_id,port1\r\n"
                              "K7S0000000000011,\"SITE, north\",40011\r\n"
                              "K7S0000000000012,\"say \"\"hi\"\"\",40012\r\n"
                              "K7S0000000000013,S-13,40013\r\n");
  QByteArray body;
  for (int i = 0; i < 3000; ++i) body.append(char(i * 13));
  WriteFile(d + "/fw.bin", QByteArray("V3.00\0\0\0", 8) + body);
  StationRun station({"--retries", "1", "--port", bay1, "--port", bay2, "station", d + "/p.ini",
                      "--values", d + "/units.csv", "--flash", d + "/fw.bin", "--report", report});

  // The first unit already runs the image's version; the others get it.
  auto a = Plug(bay1, "K7S0000000000011", {"--unit-version", "V3.00"});
  QVERIFY(station.waitFor(Result("done", "K7S0000000000011")));
  auto b = Plug(bay2, "K7S0000000000012", {"--silent-once", "4"}); // the write's answer lost
  QVERIFY(station.waitFor(Result("done", "K7S0000000000012")));
  a->stop();
  auto unknown = Plug(bay1, "K7S0000000000099");
  QVERIFY(station.waitFor(Result("failed", "K7S0000000000099")));
  unknown->stop();
  auto c = Plug(bay1, "K7S0000000000013");
  QVERIFY(station.waitFor(Result("done", "K7S0000000000013")));
  // b, left plugged in, is asked who it is again and again, and written once.
  QVERIFY(b->waitForLog([&] { return FramesOf(*b, k7v::kCmdSysInfo) >= 3; }, 10000));
  QCOMPARE(FramesOf(*b, k7v::kCmdWriteParams), 1);
  QCOMPARE(station.stop(SIGTERM), 1); // the unknown unit failed

  QCOMPARE(a->stateRecord(), Provisioned("SITE, north", 40011));
  QCOMPARE(b->stateRecord(), Provisioned("say \"hi\"", 40012));
  QCOMPARE(c->stateRecord(), Provisioned("S-13", 40013));
  QVERIFY(a->stateImage().isEmpty());
  QCOMPARE(b->stateImage(), body);
  QCOMPARE(c->stateImage(), body);
  QCOMPARE(FramesOf(*unknown, k7v::kCmdWriteParams), 0);
  QVERIFY(unknown->stateRecord().isEmpty());

  // sn, versions before and after, image checksum, row, result, retries of each ended attempt.
  const std::map<QString, std::pair<DtuSimProcess*, QStringList>> expected{
      {"K7S0000000000011", {a.get(), {"V3.00", "V3.00", "", "2", "ok", "0"}}},
      {"K7S0000000000012", {b.get(), {"V2.01", "V3.00", "0xd474", "3", "ok", "1"}}},
      {"K7S0000000000013", {c.get(), {"V2.01", "V3.00", "0xd474", "4", "ok", "0"}}},
      {"K7S0000000000099", {nullptr, {"V2.01", "V2.01", "", "", "failed", "0"}}}};
  int ended = 0;
  for (const QStringList& l : ReportLines(report)) {
    QVERIFY2(l.size() == 12 && expected.count(l[kSn]), qPrintable(l.join(u',')));
    if (l[kResult] == QLatin1String("started")) continue;
    ++ended;
    const auto& [sim, want] = expected.at(l[kSn]);
    QCOMPARE(QStringList({l[kBefore], l[kAfter], l[kChecksum], l[kRow], l[kResult], l[kRetries]}),
             want);
    if (sim)
      QCOMPARE(
          l[kSha],
          QString::fromLatin1(
              QCryptographicHash::hash(sim->stateRecord(), QCryptographicHash::Sha256).toHex()));
    else
      QVERIFY2(l[kReason].contains(QLatin1String("is not in")), qPrintable(l[kReason]));
  }
  QCOMPARE(ended, 4);
}

void TestStation::unitGivenAnotherSwitchCommandStaysDone() {
  // The profile gives units a switch command of their own: a unit left
  // plugged in no longer answers the probes, and its port still says done.
  QTemporaryDir tmp;
  const QString d = tmp.path(), bay = d + "/bay";
  WriteFile(d + "/p.ini", "[params]\nswitch_cmd = $$$$$$\n");
  StationRun station({"--port", bay, "station", d + "/p.ini", "--report", d + "/rep.csv"});
  auto unit = Plug(bay, "K7S0000000000021");
  QVERIFY(station.waitFor(Result("done", "K7S0000000000021")));
  const qsizetype probes = unit->bytesReceived().count("######");
  QTRY_VERIFY_WITH_TIMEOUT(unit->bytesReceived().count("######") >= probes + 2, 10000);
  QCOMPARE(station.stop(SIGTERM), 0);
  QJsonObject last;
  for (const QJsonObject& o : station.lines)
    if (o[QStringLiteral("port")] == bay) last = o;
  QCOMPARE(last[QStringLiteral("result")].toString(), QStringLiteral("done"));
  QVERIFY2(station.err.contains(QLatin1String(
               "K7S0000000000021 listens for the switch command \"$$$$$$\" from now on")),
           qPrintable(station.err));
}

void TestStation::killedMidUnitThenStartedAgain() {
  QTemporaryDir tmp;
  const QString d = tmp.path(), bay1 = d + "/bay1", bay2 = d + "/bay2", report = d + "/rep.csv";
  WriteFile(d + "/p.ini", "[params]\nhostname1 = site.example.net\n");
  WriteFile(d + "/units.csv", "dtu_id,port1\nA-1,40001\nA-2,40002\nA-3,40003\n"); // in order
  const QStringList args{"--baud",   "19200",   "--port",     bay1,       "--port",
                         bay2,       "station", d + "/p.ini", "--values", d + "/units.csv",
                         "--report", report};
  const QStringList xArgs{"--sn", "K7S0000000000021", "--link", bay1, "--baud", "19200"};
  const QStringList yArgs{"--sn", "K7S0000000000022", "--link", bay2, "--baud", "19200"};
  DtuSimProcess x, y;
  {
    StationRun first(args);
    QVERIFY(x.start(xArgs));
    QVERIFY(first.waitFor(Result("done", "K7S0000000000021")));
    // Slow to take in a record, y has the station die in the middle of one.
    QVERIFY(y.start(yArgs + QStringList{"--pace"}));
    QVERIFY(first.waitFor([](const QJsonObject& o) {
      return o[QStringLiteral("sn")] == QLatin1String("K7S0000000000022") &&
             o[QStringLiteral("step")] == QLatin1String("writing parameters");
    }));
    QCOMPARE(first.stop(SIGKILL), -1);
  }
  x.stop();
  y.stop();
  // A power cut would have torn the last line.
  QFile torn(report);
  QVERIFY(torn.open(QIODevice::Append));
  torn.write("2026-01-01T00:00:00Z,/dev/ttyX,K7S0000000000029,V2.01,V2.01,,,3,ok,no ans");
  torn.close();
  const int tornLine = int(ReadFile(report).count('\n')) + 1;

  StationRun second(args);
  // A new unit gets the next row: the one y was being given stays y's.
  auto z = Plug(bay1, "K7S0000000000023", {"--baud", "19200"});
  QVERIFY(second.waitFor(Result("done", "K7S0000000000023")));
  z->stop();
  QVERIFY(x.start(xArgs, x.stateDir()));
  QVERIFY(y.start(yArgs, y.stateDir()));
  // Cut off before its line, y is not done: it is provisioned again; x is.
  QVERIFY(second.waitFor([](const QJsonObject& o) {
    return Result("done", "K7S0000000000022")(o) && !o[QStringLiteral("already")].toBool();
  }));
  QVERIFY(second.waitFor([](const QJsonObject& o) {
    return Result("done", "K7S0000000000021")(o) && o[QStringLiteral("already")].toBool();
  }));
  // Every row has its unit now.
  x.stop();
  auto w = Plug(bay1, "K7S0000000000024", {"--baud", "19200"});
  QVERIFY(second.waitFor([](const QJsonObject& o) {
    return Result("failed", "K7S0000000000024")(o) &&
           o[QStringLiteral("reason")].toString().startsWith(QLatin1String("no row left"));
  }));
  QCOMPARE(second.stop(SIGTERM), 1);
  QVERIFY2(second.lines.first()[QStringLiteral("result")] == QLatin1String("warning") &&
               second.lines.first()[QStringLiteral("reason")].toString().contains(
                   QStringLiteral("rep.csv:%1: the line is incomplete").arg(tornLine)),
           qPrintable(second.err));

  QCOMPARE(FramesOf(x, k7v::kCmdWriteParams), 1);
  QCOMPARE(x.stateRecord(), Provisioned("A-1", 40001));
  QCOMPARE(y.stateRecord(), Provisioned("A-2", 40002));
  QCOMPARE(z->stateRecord(), Provisioned("A-3", 40003));
  QVERIFY(w->stateRecord().isEmpty());
  // Every finished unit once, every row with one unit.
  std::map<QString, int> okLines;
  std::map<QString, std::set<QString>> unitsOfRow;
  for (const QStringList& l : ReportLines(report)) {
    if (l.size() != 12) continue; // the torn line
    okLines[l[kSn]] += l[kResult] == QLatin1String("ok");
    if (!l[kRow].isEmpty()) unitsOfRow[l[kRow]].insert(l[kSn]);
  }
  QCOMPARE(okLines, (std::map<QString, int>{{"K7S0000000000021", 1},
                                            {"K7S0000000000022", 1},
                                            {"K7S0000000000023", 1},
                                            {"K7S0000000000024", 0}}));
  for (const auto& [row, units] : unitsOfRow) QVERIFY2(units.size() == 1, qPrintable(row));
}

void TestStation::unitLeftPluggedInGetsOneAttempt_data() {
  QTest::addColumn<QStringList>("unit"); // dtu-sim options after its serial number
  QTest::addColumn<QString>("sn");
  QTest::addColumn<bool>("flash");
  QTest::addColumn<bool>("leftInConfiguration"); // by another program before the station starts
  QTest::addColumn<QString>("ending");           // result, then a part of the reason
  QTest::addColumn<int>("writes");
  QTest::addColumn<int>("downloads");
  const QString sn = QStringLiteral("K7S0000000000031");
  // A unit that, once told to leave configuration mode, misses what comes in
  // the next moments: a probe sent at once finds the port silent.
  const QStringList settles{"--leave-settle", "300"};
  QTest::newRow("done") << settles << sn << false << false << "done" << 1 << 0;
  QTest::newRow("refuses its write") << settles + QStringList{"--refuse-writes"} << sn << false
                                     << false << "failed: the unit refused the write" << 1 << 0;
  QTest::newRow("refuses its write after a flash")
      << QStringList{"--refuse-writes"} << sn << true << false
      << "failed: the unit refused the write" << 1 << 1;
  QTest::newRow("not in the values file") << settles << "K7S0000000000039" << false << false
                                          << "failed: sn K7S0000000000039 is not in" << 0 << 0;
  QTest::newRow("no serial number") << settles << QString() << false << false
                                    << "failed: the unit gave no serial number" << 0 << 0;
  QTest::newRow("flashed, stays in configuration mode")
      << QStringList{} << sn << true << false << "done" << 1 << 1;
  QTest::newRow("flashed, restarts")
      << QStringList{"--restart-after-download"} << sn << true << false << "done" << 1 << 1;
  QTest::newRow("left in configuration mode")
      << QStringList{} << sn << false << true << "done" << 1 << 0;
}

// Whatever its ending, a unit left plugged in gets one attempt, one ended
// report line and a port that shows that ending steadily, probe after probe.
void TestStation::unitLeftPluggedInGetsOneAttempt() {
  QFETCH(QStringList, unit);
  QFETCH(QString, sn);
  QFETCH(bool, flash);
  QFETCH(bool, leftInConfiguration);
  QFETCH(QString, ending);
  QFETCH(int, writes);
  QFETCH(int, downloads);
  QTemporaryDir tmp;
  const QString d = tmp.path(), bay = d + "/bay", report = d + "/rep.csv";
  WriteFile(d + "/p.ini", "[params]\nhostname1 = site.example.net\n");
  WriteFile(d + "/units.csv", "sn,dtu_id\nK7S0000000000031,A-31\n,\n");
  WriteFile(d + "/fw.bin", QByteArray("V3.00\0\0\0", 8) + QByteArray(2999, '\x5A') + '\x01');
  DtuSimProcess sim;
  QVERIFY(sim.start(QStringList{"--sn", sn, "--link", bay} + unit));
  if (leftInConfiguration) {
    QSerialPort other;
    other.setPortName(sim.devicePath());
    QVERIFY(other.open(QIODevice::ReadWrite) && other.setBaudRate(115200));
    other.write("######");
    QVERIFY(other.waitForReadyRead(2000)); // in configuration mode now; closed without command 2
  }
  QStringList args{"--port", bay, "station", d + "/p.ini", "--report", report};
  if (!sn.isEmpty() && !sn.endsWith(u'1')) args << "--values" << d + "/units.csv";
  if (flash) args << "--flash" << d + "/fw.bin";
  StationRun station(args);
  const QString result = ending.section(u':', 0, 0);
  QVERIFY(station.waitFor(Result(result.toLatin1().constData(), sn)));
  const qsizetype probes = ProbesHeard(sim);
  QVERIFY(sim.waitForLog([&] { return ProbesHeard(sim) >= probes + 8; }, 20000));
  station.stop(SIGTERM);

  QCOMPARE(FramesOf(sim, k7v::kCmdWriteParams), writes);
  QCOMPARE(FramesOf(sim, k7v::kCmdDownloadStart), downloads);
  // The port's lines from its first ending on: that ending, once, and nothing else.
  qsizetype first = -1;
  for (qsizetype i = 0; i < station.lines.size(); ++i) {
    const QJsonObject& o = station.lines[i];
    if (o[QStringLiteral("port")] != bay) continue;
    if (first < 0 && o[QStringLiteral("result")] == result) {
      first = i;
      const QString text = result + QStringLiteral(": ") + o[QStringLiteral("reason")].toString();
      QVERIFY2(result == QLatin1String("done") || text.startsWith(ending), qPrintable(text));
    } else if (first >= 0) {
      QFAIL(qPrintable("after the ending: " + QJsonDocument(o).toJson(QJsonDocument::Compact)));
    }
  }
  QVERIFY(first >= 0);
  int ended = 0;
  for (const QStringList& l : ReportLines(report)) ended += l[kResult] != QLatin1String("started");
  QCOMPARE(ended, 1);
}

void TestStation::secondUnitUnderADoneSerialNumber() {
  // Units of a batch that kept one factory serial number: the first is done,
  // the second is another unit and gets nothing, the first comes back done.
  QTemporaryDir tmp;
  const QString d = tmp.path(), bay = d + "/bay", sn = "K7S0000000000041";
  WriteFile(d + "/p.ini", "[params]\nhostname1 = site.example.net\n");
  StationRun station({"--port", bay, "station", d + "/p.ini", "--report", d + "/rep.csv"});
  DtuSimProcess first;
  QVERIFY(first.start({"--sn", sn, "--link", bay}));
  QVERIFY(station.waitFor(Result("done", sn)));
  first.stop();
  auto second = Plug(bay, sn);
  QVERIFY(station.waitFor([&](const QJsonObject& o) {
    return Result("failed", sn)(o) &&
           o[QStringLiteral("reason")].toString().startsWith(
               QLatin1String("serial number already provisioned to another unit"));
  }));
  second->stop();
  QVERIFY(first.start({"--sn", sn, "--link", bay}, first.stateDir()));
  QVERIFY(station.waitFor([&](const QJsonObject& o) {
    return Result("done", sn)(o) && o[QStringLiteral("already")].toBool();
  }));
  QCOMPARE(station.stop(SIGTERM), 1);
  QCOMPARE(FramesOf(first, k7v::kCmdWriteParams), 1);
  QCOMPARE(FramesOf(*second, k7v::kCmdWriteParams), 0);
  QCOMPARE(second->stateRecord(), QByteArray());
  QStringList results;
  for (const QStringList& l : ReportLines(d + "/rep.csv")) results << l[kResult];
  QCOMPARE(results, QStringList({"started", "ok", "failed"}));
}

void TestStation::unitsSwappedAreReachedBeforeTheNextProbe() {
  // Probes a minute apart, far longer than any wait here: only the port's
  // device coming and going can have the station reach these units.
  QTemporaryDir tmp;
  const QString d = tmp.path(), bay = d + "/bay";
  WriteFile(d + "/p.ini", "[params]\nhostname1 = site.example.net\n");
  StationRun station({"--probe-interval", "60000", "--port", bay, "station", d + "/p.ini",
                      "--report", d + "/rep.csv"});
  QVERIFY(station.waitFor([](const QJsonObject& o) {
    return o[QStringLiteral("reason")] == QLatin1String("no port"); // probed once, found nothing
  }));
  auto first = Plug(bay, "K7S0000000000051");
  QVERIFY(station.waitFor(Result("done", "K7S0000000000051")));
  first->stop(); // the next unit goes in at once
  auto second = Plug(bay, "K7S0000000000052");
  QVERIFY(station.waitFor(Result("done", "K7S0000000000052")));
  QCOMPARE(station.stop(SIGTERM), 0);
  QCOMPARE(FramesOf(*first, k7v::kCmdWriteParams), 1);
  QCOMPARE(FramesOf(*second, k7v::kCmdWriteParams), 1);
}

void TestStation::reportReadsBackWhatItWrote() {
  // A report that holds only a byte order mark, as Notepad saves an empty
  // file; a serial number with a line break, a comma and a quote.
  QTemporaryDir tmp;
  const QString d = tmp.path(), bay = d + "/bay", report = d + "/rep.csv";
  const QString odd = QStringLiteral("K7S\n,\"A1");
  WriteFile(d + "/p.ini", "[params]\nhostname1 = site.example.net\n");
  WriteFile(d + "/units.csv", "dtu_id\nA-1\nA-2\n");
  WriteFile(report, "\xEF\xBB\xBF");
  const QStringList args{"--port",         bay,        "station", d + "/p.ini", "--values",
                         d + "/units.csv", "--report", report};
  DtuSimProcess unit;
  {
    StationRun station(args);
    QVERIFY(unit.start({"--sn", odd, "--link", bay}));
    QVERIFY(station.waitFor(Result("done", odd)));
    QCOMPARE(station.stop(SIGTERM), 0);
  }
  unit.stop();
  StationRun again(args);
  QVERIFY(again.waitFor(
      [](const QJsonObject& o) { return o[QStringLiteral("result")] == QLatin1String("ready"); }));
  QCOMPARE(again.lines.first()[QStringLiteral("result")].toString(), QStringLiteral("ready"));
  QCOMPARE(again.lines.first()[QStringLiteral("done_in_report")].toInt(), 1);
  QCOMPARE(again.lines.first()[QStringLiteral("rows_used")].toInt(), 1);
  QVERIFY(unit.start({"--sn", odd, "--link", bay}, unit.stateDir()));
  QVERIFY(again.waitFor([&](const QJsonObject& o) {
    return Result("done", odd)(o) && o[QStringLiteral("already")].toBool();
  }));
  unit.stop();
  auto next = Plug(bay, "K7S0000000000042");
  QVERIFY(again.waitFor([&](const QJsonObject& o) {
    return Result("done", "K7S0000000000042")(o) && o[QStringLiteral("row")].toInt() == 3;
  }));
  QCOMPARE(again.stop(SIGTERM), 0);
  QCOMPARE(FramesOf(unit, k7v::kCmdWriteParams), 1);
  QVERIFY2(!again.err.contains(QLatin1String("skipped")), qPrintable(again.err));
}

void TestStation::fullDiskCountsAgree() {
  // The report's file may grow to 1 KiB: a few units in, an append fails.
  QTemporaryDir tmp;
  const QString d = tmp.path(), report = d + "/rep.csv";
  WriteFile(d + "/p.ini", "[params]\nhostname1 = site.example.net\n");
  QStringList args{"station", d + "/p.ini", "--report", report};
  std::vector<std::unique_ptr<DtuSimProcess>> units;
  for (int i = 0; i < 4; ++i) {
    const QString bay = d + QStringLiteral("/bay%1").arg(i);
    args << "--port" << bay;
    units.push_back(Plug(bay, QStringLiteral("K7S00000000000%1").arg(50 + i)));
  }
  StationRun station(args, QStringLiteral("trap '' XFSZ; ulimit -f 1"));
  QVERIFY(
      station.waitFor([](const QJsonObject& o) { return o[QStringLiteral("summary")].toBool(); }));
  QCOMPARE(station.stop(SIGTERM), 1);
  int done = 0, failed = 0;
  QJsonObject totals, summary;
  for (const QJsonObject& o : station.lines) {
    if (o[QStringLiteral("time")].isString()) { // a unit's ending, as its port shows it
      done += o[QStringLiteral("result")] == QLatin1String("done");
      failed += o[QStringLiteral("result")] == QLatin1String("failed");
    }
    if (o[QStringLiteral("result")] == QLatin1String("totals")) totals = o;
    if (o[QStringLiteral("summary")].toBool()) summary = o;
  }
  QVERIFY2(done >= 2 && failed >= 1, qPrintable(station.err));
  for (const QJsonObject& o : {totals, summary}) {
    QCOMPARE(o[QStringLiteral("done")].toInt(), done);
    QCOMPARE(o[QStringLiteral("failed")].toInt(), failed);
  }
  QCOMPARE(totals[QStringLiteral("units_per_hour")], summary[QStringLiteral("units_per_hour")]);
}

// Random kill -9 and restarts of a station on two ports (K7V_KILL_SEED,
// K7V_KILL_TRIALS: scripts/soak-station runs many), then one that finishes:
// each unit done holds its own row, no row went to two units, no unit was
// done twice, and every line of the report reads back.
void TestStation::killTrialsKeepEveryInvariant() {
  const quint32 seed = qEnvironmentVariableIsSet("K7V_KILL_SEED")
                           ? quint32(qEnvironmentVariableIntValue("K7V_KILL_SEED"))
                           : 20261207u;
  const int trials = qEnvironmentVariableIsSet("K7V_KILL_TRIALS")
                         ? qEnvironmentVariableIntValue("K7V_KILL_TRIALS")
                         : 3;
  QRandomGenerator rng(seed);
  QTemporaryDir tmp;
  const QString d = tmp.path(), report = d + "/rep.csv";
  WriteFile(d + "/p.ini", "[params]\nhostname1 = site.example.net\n");
  QByteArray units = "dtu_id,port1\n";
  for (int r = 2; r < 2 * trials + 4; ++r)
    units += "U-" + QByteArray::number(r) + ',' + QByteArray::number(40000 + r) + '\n';
  WriteFile(d + "/units.csv", units);
  const QString bays[] = {d + "/bay1", d + "/bay2"};
  const QStringList args{"--port",     bays[0],    "--port",         bays[1],    "station",
                         d + "/p.ini", "--values", d + "/units.csv", "--report", report};
  std::vector<std::unique_ptr<DtuSimProcess>> sims; // every unit, by number
  auto plug = [&](int port) {
    sims.push_back(std::make_unique<DtuSimProcess>());
    const QString sn =
        QStringLiteral("K7S00000000%1").arg(1000 + int(sims.size()), 5, 10, QChar(u'0'));
    QStringList extra{"--sn", sn, "--link", bays[port]};
    if (rng.bounded(2)) extra << "--pace"; // slow enough to be cut off mid-write
    QVERIFY(sims.back()->start(extra));
  };
  DtuSimProcess* onPort[2] = {nullptr, nullptr};
  for (int t = 0; t <= trials; ++t) {
    // Units that were done or cut off stay or are swapped for new ones.
    for (int port = 0; port < 2; ++port) {
      if (onPort[port] && rng.bounded(2)) continue;
      if (onPort[port]) onPort[port]->stop();
      plug(port);
      onPort[port] = sims.back().get();
    }
    StationRun station(args);
    const bool last = t == trials;
    if (last) {
      for (DtuSimProcess* sim : onPort)
        QVERIFY(station.waitFor([&](const QJsonObject& o) {
          return o[QStringLiteral("port")] == sim->process().arguments().value(3) &&
                 o[QStringLiteral("result")] == QLatin1String("done");
        }));
      const int status = station.stop(SIGTERM);
      QVERIFY(status == 0 || status == 1);
      QVERIFY2(!station.err.contains(QLatin1String("skipped")) ||
                   station.err.contains(QLatin1String("the line is incomplete")),
               qPrintable(station.err));
      break;
    }
    const int lines = 3 + int(rng.bounded(8));
    station.waitFor([&](const QJsonObject&) { return station.lines.size() >= lines; });
    // A unit cut off stays plugged in as the station left it, in
    // configuration mode perhaps: the next station must reach it.
    QCOMPARE(station.stop(SIGKILL), -1);
  }
  for (auto& sim : sims) sim->stop();

  std::map<QString, int> okLines;
  std::map<QString, std::set<QString>> unitsOfRow;
  std::map<QString, QString> rowOfUnit;
  for (const QStringList& l : ReportLines(report)) {
    QVERIFY2(l.size() == 12, qPrintable(l.join(u',')));
    if (!l[kRow].isEmpty()) unitsOfRow[l[kRow]].insert(l[kSn]);
    if (l[kResult] != QLatin1String("ok")) continue;
    ++okLines[l[kSn]];
    rowOfUnit[l[kSn]] = l[kRow];
  }
  for (const auto& [row, who] : unitsOfRow) QVERIFY2(who.size() == 1, qPrintable(row));
  for (const auto& [sn, n] : okLines) QVERIFY2(n == 1, qPrintable(sn));
  for (auto& sim : sims) {
    const QStringList a = sim->process().arguments();
    const QString sn = a.value(a.indexOf(QStringLiteral("--sn")) + 1);
    if (!okLines.count(sn)) continue;
    const int row = rowOfUnit[sn].toInt();
    QCOMPARE(sim->stateRecord(),
             Provisioned(qPrintable(QStringLiteral("U-%1").arg(row)), std::uint32_t(40000 + row)));
  }
}

QTEST_GUILESS_MAIN(TestStation)
#include "test_station.moc"
