// k7vconf-cli end to end against simulated DTUs: profiles through real units,
// several units at once, a muted unit, Ctrl+C, and checks before anything is sent.

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include <csignal>

#include "params/param_profile.h"
#include "support/bytes.h"
#include "support/dtu_sim_process.h"
#include "support/records.h"

namespace {

struct CliRun {
  int exitCode = -1;
  QString out, err;
};

// Runs the program to its end with short answer waits.
CliRun RunCli(QStringList args, const QString& dir = {}) {
  QProcess p;
  if (!dir.isEmpty()) p.setWorkingDirectory(dir);
  p.start(QStringLiteral(K7V_CLI),
          QStringList{QStringLiteral("--timeout"), QStringLiteral("400")} + args);
  p.waitForFinished(60000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          QString::fromUtf8(p.readAllStandardOutput()),
          QString::fromUtf8(p.readAllStandardError())};
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

} // namespace

class TestCli : public QObject {
  Q_OBJECT

private slots:
  void readEditWriteChangesOnlyThatField();
  void perUnitValueOnFourUnitsAtOnceAfterABadProfile();
  void flashFourUnitsAtOnce();
  void mutedUnitAmongFour();
  void interruptMidFlashTellsEveryUnitToLeave();
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
  for (const char* expected : {"site.ini:2: port1: 70000:", "site.ini:3: delay: 99:",
                               "site.ini:5: nosuch: 1:", "--set: run_mode: sometimes:"})
    QVERIFY2(r.err.contains(QLatin1String(expected)), qPrintable(r.err));
  for (const auto& sim : u.sims) QVERIFY(sim->bytesReceived().isEmpty());

  r = write("[params]\nhostname1 = site.example.net\n", "dtu_id=U-{port}");
  QVERIFY2(r.exitCode == 0, qPrintable(r.err + r.out));
  for (int i = 0; i < 4; ++i) {
    const TAppParams got = u.record(i);
    const auto diffs = CompareRecords(u.record(0), got);
    QCOMPARE(diffs.size(), std::size_t(i == 0 ? 0 : 1));
    if (i > 0) QCOMPARE(diffs.front().field, AppField::dtu_id);
    QCOMPARE(QString::fromStdString(got.GetText(AppField::dtu_id)),
             QStringLiteral("U-") + u.sims[std::size_t(i)]->devicePath().section(u'/', -1));
    QCOMPARE(got.GetText(AppField::hostname1), std::string("site.example.net"));
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
  const CliRun r = RunCli(u.ports + QStringList{QStringLiteral("info")});
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

void TestCli::interruptMidFlashTellsEveryUnitToLeave() {
  Units u;
  const QStringList paced{QStringLiteral("--baud"), QStringLiteral("115200"),
                          QStringLiteral("--pace")};
  QVERIFY(u.start({paced, paced, paced, paced}));
  QTemporaryDir dir;
  WriteFile(dir.filePath(QStringLiteral("fw.bin")),
            QByteArray("V1\0\0\0\0\0\0", 8) + QByteArray(16000, '\x5A'));
  QProcess p;
  p.start(QStringLiteral(K7V_CLI),
          u.ports + QStringList{QStringLiteral("flash"), dir.filePath(QStringLiteral("fw.bin"))});
  // Interrupt once every unit has taken a quarter of the image.
  QString out;
  auto allFlashing = [&] {
    for (const auto& sim : u.sims)
      if (!out.contains(sim->devicePath() + QStringLiteral(": flashing 25 %"))) return false;
    return true;
  };
  while (!allFlashing() && p.waitForReadyRead(10000))
    out += QString::fromUtf8(p.readAllStandardOutput());
  QVERIFY2(allFlashing(), qPrintable(out));
  ::kill(pid_t(p.processId()), SIGINT);
  QVERIFY(p.waitForFinished(20000));
  out += QString::fromUtf8(p.readAllStandardOutput());
  QCOMPARE(p.exitCode(), 1);
  for (const auto& sim : u.sims) {
    QVERIFY2(SummaryRow(out, sim->devicePath()).contains(QLatin1String("stopped")),
             qPrintable(out));
    // A paced unit reads the leave frame after the answer it was taking in.
    QTRY_VERIFY_WITH_TIMEOUT(SentLeave(*sim), 5000);
  }
}

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
