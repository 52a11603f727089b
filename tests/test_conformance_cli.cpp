// The conformance table driven through k7vconf-cli against dtu-sim: what
// the simulated unit holds afterwards is compared, and a refusal must leave
// it untouched.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "conformance/conformance_table.h"
#include "support/dtu_sim_process.h"

using conformance::Case;

namespace {

struct CliRun {
  int exitCode = -1;
  QList<QJsonObject> lines; // --json output
  QString err;
};

CliRun RunCli(const QStringList& args) {
  QProcess p;
  p.start(QStringLiteral(K7V_CLI), QStringList{QStringLiteral("--json")} + args);
  p.waitForFinished(60000);
  CliRun run{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
             {},
             QString::fromUtf8(p.readAllStandardError())};
  for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
    if (!line.isEmpty()) run.lines << QJsonDocument::fromJson(line).object();
  return run;
}

// The reasons of the run's error objects.
QStringList Errors(const CliRun& run) {
  QStringList reasons;
  for (const QJsonObject& o : run.lines)
    if (const QString result = o.value(QStringLiteral("result")).toString();
        result == QLatin1String("error") || result == QLatin1String("failed"))
      reasons << o.value(QStringLiteral("reason")).toString();
  return reasons;
}

} // namespace

class TestConformanceCli : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void images_data();
  void images();
  void records_data();
  void records();
  void switchCommands_data();
  void switchCommands();

private:
  QList<Case> cases_;
};

void TestConformanceCli::initTestCase() {
  QString error;
  cases_ = conformance::LoadCases(error);
  QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestConformanceCli::images_data() {
  conformance::AddRows(cases_, {QStringLiteral("image")}, QStringLiteral("cli"));
}

// flash, then flash --force: a refusal touches no unit and is worded as its
// key's English text; what is flashed is the unit's new image, byte for byte.
void TestConformanceCli::images() {
  QFETCH(int, index);
  const Case& c = cases_[index];
  QTemporaryDir dir;
  const QByteArray file = conformance::CaseBytes(c, "file");
  const QString path = conformance::WriteCaseFile(dir.path(), QStringLiteral("case.bin"), file);
  QVERIFY(!path.isEmpty());
  DtuSimProcess sim;
  QVERIFY2(sim.start(), qPrintable(sim.errorString()));
  const QStringList flash{QStringLiteral("--port"), sim.devicePath(), QStringLiteral("flash"),
                          path};

  const QString refused = c.Refused();
  const CliRun plain = RunCli(flash);
  if (refused.isEmpty()) {
    QVERIFY2(plain.exitCode == 0, qPrintable(plain.err));
    QCOMPARE(plain.lines.value(0).value(QStringLiteral("version")).toString(),
             c.expect.value(QStringLiteral("version")).toString());
    QCOMPARE(plain.lines.value(0).value(QStringLiteral("checksum")).toInt(),
             conformance::BodySum(file));
    QCOMPARE(sim.stateImage(), file.mid(8));
    return;
  }
  QCOMPARE(plain.exitCode, 2);
  const QStringList errors = Errors(plain);
  QCOMPARE(errors.size(), 1);
  QVERIFY2(errors[0].contains(conformance::MessagePattern("caption-en.ini", refused)),
           qPrintable(errors[0]));
  QVERIFY(sim.bytesReceived().isEmpty());

  const CliRun forced = RunCli(flash + QStringList{QStringLiteral("--force")});
  if (c.expect.value(QStringLiteral("forcible")).toBool()) {
    QVERIFY2(forced.exitCode == 0, qPrintable(forced.err));
    QCOMPARE(sim.stateImage(), file.mid(8));
  } else {
    QCOMPARE(forced.exitCode, 2);
    QVERIFY(sim.bytesReceived().isEmpty());
  }
}

void TestConformanceCli::records_data() {
  conformance::AddRows(cases_, {QStringLiteral("record")}, QStringLiteral("cli"));
}

// write FILE to a unit holding the case's record; a refusal names the field
// and stores nothing.
void TestConformanceCli::records() {
  QFETCH(int, index);
  const Case& c = cases_[index];
  QTemporaryDir dir;
  const QString name =
      c.data.value(QStringLiteral("file_name")).toString(QStringLiteral("unit.bin"));
  const QString path =
      conformance::WriteCaseFile(dir.path(), name, conformance::CaseBytes(c, "file"));
  QVERIFY(!path.isEmpty());
  DtuSimProcess sim;
  QVERIFY2(sim.startWithRecord(conformance::UnitBytes(c)), qPrintable(sim.errorString()));
  QStringList args{QStringLiteral("--port"), sim.devicePath(), QStringLiteral("write"), path};
  for (const QJsonValue& edit : c.data.value(QStringLiteral("edits")).toArray())
    args << QStringLiteral("--set")
         << edit.toArray().at(0).toString() + u'=' + edit.toArray().at(1).toString();
  const CliRun run = RunCli(args);
  const QString refused = c.Refused();
  if (!refused.isEmpty()) {
    // Refused before any unit (2), or on the unit's own record (1): nothing stored either way.
    QVERIFY2(run.exitCode == 2 || run.exitCode == 1, qPrintable(run.err));
    const QString field = c.expect.value(QStringLiteral("field")).toString();
    QVERIFY2(Errors(run).join(u'\n').contains(field), qPrintable(run.err));
    QVERIFY(sim.stateRecord().isEmpty());
    return;
  }
  QVERIFY2(run.exitCode == 0, qPrintable(run.err));
  QCOMPARE(sim.stateRecord().toHex(' '), conformance::StoredBytes(c).toHex(' '));
}

void TestConformanceCli::switchCommands_data() {
  conformance::AddRows(cases_, {QStringLiteral("switch_command")}, QStringLiteral("cli"));
}

// --switch, to a unit whose own command is what the case expects sent: a
// refusal touches no unit, an accepted command switches it.
void TestConformanceCli::switchCommands() {
  QFETCH(int, index);
  const Case& c = cases_[index];
  const QString refused = c.Refused();
  QByteArray record = conformance::UnitBytes(c);
  const QByteArray sent =
      QByteArray::fromHex(c.expect.value(QStringLiteral("sent")).toString().toLatin1());
  if (refused.isEmpty()) record.replace(607, 6, sent); // switch_cmd
  DtuSimProcess sim;
  QVERIFY2(sim.startWithRecord(record), qPrintable(sim.errorString()));
  const CliRun run =
      RunCli({QStringLiteral("--port"), sim.devicePath(), QStringLiteral("--switch"),
              c.data.value(QStringLiteral("switch_command")).toString(), QStringLiteral("info")});
  if (!refused.isEmpty()) {
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(
        Errors(run).join(u'\n').contains(conformance::MessagePattern("caption-en.ini", refused)),
        qPrintable(Errors(run).join(u'\n')));
    QVERIFY(sim.bytesReceived().isEmpty());
    return;
  }
  QVERIFY2(run.exitCode == 0, qPrintable(run.err));
  QCOMPARE(sim.logged("RX switch").toHex(), sent.toHex());
}

QTEST_GUILESS_MAIN(TestConformanceCli)
#include "test_conformance_cli.moc"
