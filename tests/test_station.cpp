// k7vconf-cli station end to end: simulated units plugged into two ports one
// after another, each with its own row of values, a unit left plugged in, an
// unknown serial number, and a station killed mid-unit then started again on
// its report.

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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
  explicit StationRun(const QStringList& args) {
    p_.start(QStringLiteral(K7V_CLI),
             QStringList{QStringLiteral("--json"), QStringLiteral("--timeout"),
                         QStringLiteral("400"), QStringLiteral("--probe-interval"),
                         QStringLiteral("50")} +
                 args);
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
    return o[QStringLiteral("result")] == QLatin1String(result) && o[QStringLiteral("sn")] == sn;
  };
}

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

QTEST_GUILESS_MAIN(TestStation)
#include "test_station.moc"
