// Connecting to and disconnecting from the simulated DTU over a pseudo-terminal,
// through the main window as the technician uses it: the real serial port,
// the real receive side, the buttons, the status log.

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTimer>
#include <QtTest>
#include <cerrno>
#include <cstring>

#include "app/link_settings_dialog.h"
#include "params/app_params.h"
#include "support/bytes.h"
#include "support/dtu_sim_process.h"
#include "support/fake_serial_port.h"
#include "support/records.h"
#include "support/window_fixture.h"

namespace {

const QString kNotConnected = QStringLiteral("10000");
const QString kConnected = QStringLiteral("01111");
const QByteArray kSwitch = "######";

// The buttons, and "W" while the hourglass shows.
QString LinkState(const WindowFixture& w) {
  return w.linkButtons() + (w.waitCursor() ? u'W' : u'-');
}

} // namespace

class TestConnect : public QObject {
  Q_OBJECT

private slots:
  void connectShowsVersionAndDisconnectLeaves_data();
  void connectShowsVersionAndDisconnectLeaves();
  void silentDeviceFailsAndConnectCanBeRetried();
  void portThatCannotBeUsed_data();
  void portThatCannotBeUsed();
  void portRefusedForWantOfRights();
  void deviceVanishes_data();
  void deviceVanishes();
  void windowClosedDuringConnectWait_data() { AddCloseRows(); }
  void windowClosedDuringConnectWait();
};

void TestConnect::connectShowsVersionAndDisconnectLeaves_data() {
  QTest::addColumn<QStringList>("simArgs");
  QTest::addColumn<QByteArray>(
      "switchCommand"); // empty: the default; else the DTU's record and the dialog hold it
  QTest::addColumn<QString>("version");

  QTest::newRow("plain") << QStringList{} << QByteArray() << "V2.01";
  QTest::newRow("eight characters, no terminator")
      << QStringList{"--unit-version", "K7V-2.10"} << QByteArray() << "K7V-2.10";
  QTest::newRow("short answer: only the bytes it holds")
      << QStringList{"--short", "1"} << QByteArray() << "V2.";
  QTest::newRow("noise before the answer") << QStringList{"--garbage"} << QByteArray() << "V2.01";
  QTest::newRow("answer in two halves")
      << QStringList{"--split-pause", "50"} << QByteArray() << "V2.01";
  QTest::newRow("switch command from the dialog")
      << QStringList{} << QByteArray("K7#CFG") << "V2.01";
}

void TestConnect::connectShowsVersionAndDisconnectLeaves() {
  QFETCH(QStringList, simArgs);
  QFETCH(QByteArray, switchCommand);
  QFETCH(QString, version);

  DtuSimProcess sim;
  TAppParams record = FactoryRecord();
  if (!switchCommand.isEmpty()) record.SetText(AppField::switch_cmd, switchCommand.toStdString());
  QVERIFY2(sim.startWithRecord(RecordBytes(record), simArgs), qPrintable(sim.errorString()));
  WindowFixture w;
  w.setPort(sim.devicePath(), QString::fromLatin1(switchCommand));
  QCOMPARE(w.linkButtons(), kNotConnected);

  // Connect stays disabled, and the hourglass shows, for the whole attempt.
  QStringList seenDuringWait;
  const qsizetype before = w.logSize();
  QVERIFY(w.clickSampling("sb_com_open", [&] { seenDuringWait << LinkState(w); }) > 0);
  QCOMPARE(seenDuringWait.filter(QStringLiteral("00000W")).size(), seenDuringWait.size());

  QVERIFY(
      w.logTailIs(before, {Progress("open_serial", w.form().StatusPanel(1)),
                           Success("serial_opened"), Progress("conneting"), Success("connected")}));
  QCOMPARE(w.text("ed_ver"), version);
  QCOMPARE(LinkState(w), kConnected + u'-');
  QVERIFY(w.form().link().LinkConnected);
  QVERIFY(w.form().link().CommHandle().IsOpen());

  // Disconnect: the leave frame and nothing else, then the port is closed.
  const qsizetype beforeClose = w.logSize();
  w.click("sb_com_close");
  QVERIFY(w.logTailIs(beforeClose, {Progress("serial_closed")}));
  QCOMPARE(w.linkButtons(), kNotConnected);
  QVERIFY(!w.form().link().LinkConnected);
  QVERIFY(!w.form().link().CommHandle().IsOpen());
  QCOMPARE(w.text("ed_ver"), version); // kept after disconnect
  const QByteArray sent = (switchCommand.isEmpty() ? kSwitch : switchCommand) + FrameBytes(2);
  sim.waitForLog([&] { return sim.bytesReceived() == sent; });
  QCOMPARE(sim.bytesReceived(), sent);

  // The port was really let go: it opens again at once and the DTU switches again.
  w.click("sb_com_open");
  QCOMPARE(w.linkButtons(), kConnected);
  QVERIFY(w.lastLineIs(Success("connected")));
  w.click("sb_com_close");
}

void TestConnect::silentDeviceFailsAndConnectCanBeRetried() {
  DtuSimProcess silent;
  QVERIFY2(silent.start({"--silent", "1"}), qPrintable(silent.errorString()));
  WindowFixture w;
  w.setPort(silent.devicePath());
  w.setText("ed_ver", QStringLiteral("V1.00")); // from an earlier connect
  w.shortenWaitsFrom();

  QString seen;
  int reentered = 0;
  const qsizetype before = w.logSize();
  QElapsedTimer clock;
  clock.start();
  w.clickSampling(
      "sb_com_open",
      [&] {
        seen = LinkState(w);
        if (reentered++ == 0) w.form().sb_com_openClick(); // a second connect inside the wait
      },
      20);
  const qint64 elapsed = clock.elapsed();
  qInfo("connect gave up after %lld ms", elapsed);

  QVERIFY(reentered > 0);
  QCOMPARE(seen, QStringLiteral("00000W"));
  QVERIFY(elapsed >= SilentUnitTimings().connect.count()); // the DTU is given its full time
  QVERIFY(w.logTailIs(before,
                      {Progress("open_serial", w.form().StatusPanel(1)), Success("serial_opened"),
                       Progress("conneting"), Failure("connect_failed")}));
  QCOMPARE(LinkState(w), kNotConnected + u'-');
  QVERIFY(!w.form().link().LinkConnected);
  QCOMPARE(w.text("ed_ver"), QStringLiteral("V1.00"));
  // One switch command: the second connect did nothing.
  silent.waitForLog([&] { return silent.bytesReceived() == kSwitch; });
  QCOMPARE(silent.bytesReceived(), kSwitch);

  // The port is free for anyone at once, and connect can be tried again at
  // once, here on a DTU that answers.
  QVERIFY(silent.deviceIsFree());
  w.form().SetSessionTimings(WindowTimings());
  DtuSimProcess answering;
  QVERIFY2(answering.start(), qPrintable(answering.errorString()));
  QVERIFY(w.connectTo(answering.devicePath()));
  QCOMPARE(w.linkButtons(), kConnected);
  QCOMPARE(w.text("ed_ver"), QStringLiteral("V2.01"));
}

void TestConnect::portThatCannotBeUsed_data() {
  QTest::addColumn<QString>("port"); // "@sim": the simulator's device
  QTest::addColumn<int>("parityIndex");
  QTest::addColumn<bool>("heldElsewhere");
  QTest::addColumn<QString>("key");

  // Which settings a port refuses: test_device_link. A pseudo-terminal runs
  // 8 bits without parity.
  QTest::newRow("settings refused") << "@sim" << 2 << false << "open_serial_error_code";
  QTest::newRow("no such port") << "/dev/k7v-no-such-port" << 0 << false << "open_serial_error";
  QTest::newRow("held by another program") << "@sim" << 0 << true << "open_serial_error";
}

void TestConnect::portThatCannotBeUsed() {
  QFETCH(QString, port);
  QFETCH(int, parityIndex);
  QFETCH(bool, heldElsewhere);
  QFETCH(QString, key);

  DtuSimProcess sim;
  QVERIFY2(sim.start(), qPrintable(sim.errorString()));
  WindowFixture w;
  w.setPort(port == QLatin1String("@sim") ? sim.devicePath() : port);
  w.form().Form3()->cbParitybit->setCurrentIndex(parityIndex);
  QSerialPort other;
  if (heldElsewhere) {
    other.setPortName(sim.devicePath());
    QVERIFY(other.open(QIODevice::ReadWrite));
  }

  const qsizetype before = w.logSize();
  w.click("sb_com_open");
  ExpectedLine refusal = Refusal(qPrintable(key));
  // The system's error code, or its reason in words, follows.
  const QString line = w.logTexts().value(before + 1);
  const QString suffix = key == QLatin1String("open_serial_error_code")
                             ? QStringLiteral("[1-9][0-9]*$")
                             : QStringLiteral(": \\S.*");
  QVERIFY2(QRegularExpression(u'^' + QRegularExpression::escape(refusal.text) + suffix)
               .match(line)
               .hasMatch(),
           qPrintable(line));
  refusal.text = line;
  QVERIFY(w.logTailIs(before, {Progress("open_serial", w.form().StatusPanel(1)), refusal}));
  QCOMPARE(LinkState(w), kNotConnected + u'-');
  QVERIFY(!w.form().link().CommHandle().IsOpen());
  QVERIFY(!sim.logText().contains("RX"));

  // Put right, the same attempt succeeds at once.
  other.close();
  w.form().Form3()->cbParitybit->setCurrentIndex(0);
  QVERIFY(w.connectTo(sim.devicePath()));
  QCOMPARE(w.linkButtons(), kConnected);
}

void TestConnect::portRefusedForWantOfRights() {
  // A user outside the serial group is told which group to join (on Linux),
  // after the system's own words.
  auto port = std::make_unique<FakeSerialPort>();
  port->failOpens({OpenResult::Kind::OpenFailed, EACCES, {}});
  WindowFixture w(std::move(port));
  const qsizetype before = w.logSize();
  w.click("sb_com_open");
  const QString line = w.logTexts().value(before + 1);
  QVERIFY2(line.startsWith(WindowFixture::caption("open_serial_error") + QStringLiteral(": ") +
                           QString::fromLocal8Bit(std::strerror(EACCES))),
           qPrintable(line));
#ifdef Q_OS_LINUX
  QVERIFY2(line.endsWith(WindowFixture::caption("open_serial_group") + QStringLiteral("dialout")),
           qPrintable(line));
#endif
  QVERIFY(w.lastLineIs({line, kLogRed, 9}));
  QCOMPARE(w.linkButtons(), kNotConnected);
}

void TestConnect::deviceVanishes_data() {
  QTest::addColumn<QStringList>("simArgs");
  QTest::addColumn<QString>("when");
  QTest::addColumn<QStringList>("keys"); // the log after "conneting"

  QTest::newRow("killed while connected")
      << QStringList{} << "idle" << QStringList{"connected", "serial_lost"};
  QTest::newRow("unplugged on the read request")
      << QStringList{"--drop-after", "1"} << "read"
      << QStringList{"connected", "app_par_reading", "serial_lost", "operation_link_lost"};
  QTest::newRow("killed during the connect wait")
      << QStringList{"--silent", "1"} << "connect"
      << QStringList{"serial_lost", "operation_link_lost"};
}

void TestConnect::deviceVanishes() {
  QFETCH(QStringList, simArgs);
  QFETCH(QString, when);
  QFETCH(QStringList, keys);

  DtuSimProcess sim;
  QVERIFY2(sim.start(simArgs), qPrintable(sim.errorString()));
  WindowFixture w;
  w.setPort(sim.devicePath());
  QSignalSpy lost(&w.form().link().CommHandle(), &SerialPort::deviceLost);

  if (when == QLatin1String("connect")) w.onLine("conneting", [&] { sim.process().kill(); });
  w.click("sb_com_open");
  const qsizetype connecting = w.logTexts().indexOf(WindowFixture::caption("conneting"));
  QVERIFY(connecting >= 0);

  if (when == QLatin1String("idle")) {
    QCOMPARE(w.linkButtons(), kConnected);
    sim.process().kill();
    QVERIFY(lost.wait(5000));
  } else if (when == QLatin1String("read")) {
    QCOMPARE(w.linkButtons(), kConnected);
    w.click("sb_getpar");
    // The simulator unplugged itself.
    QTRY_COMPARE_WITH_TIMEOUT(sim.process().state(), QProcess::NotRunning, 5000);
  }
  QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 5000);

  QList<ExpectedLine> expected;
  for (const QString& k : keys) {
    const QByteArray key = k.toLatin1();
    expected << (k == u"app_par_reading" ? Progress(key)
                 : k == u"connected"     ? Success(key)
                                         : Failure(key));
  }
  QVERIFY(w.logTailIs(connecting + 1, expected));
  QCOMPARE(LinkState(w), kNotConnected + u'-');
  QVERIFY(!w.form().link().LinkConnected);
  QVERIFY(!w.form().link().CommHandle().IsOpen());
  QVERIFY(!sim.framesReceived().contains(FrameBytes(7)));

  // A dead port must not keep reporting itself.
  const qsizetype lines = w.logSize();
  for (int i = 0; i < 200; ++i) QCoreApplication::processEvents();
  QCOMPARE(w.logSize(), lines);
  QCOMPARE(lost.count(), 1);

  // Plugged in again (here: a new device), the window connects as from fresh.
  DtuSimProcess again;
  QVERIFY2(again.start(), qPrintable(again.errorString()));
  QVERIFY(w.connectTo(again.devicePath()));
  QCOMPARE(w.linkButtons(), kConnected);
}

void TestConnect::windowClosedDuringConnectWait() {
  QFETCH(bool, destroy);
  DtuSimProcess sim;
  QVERIFY2(sim.start({"--silent", "1"}), qPrintable(sim.errorString()));
  WindowFixture w;
  w.setPort(sim.devicePath());
  const QString settingsFile = QDir(w.dir()).filePath(QStringLiteral("parcfg.ini"));
  QPointer<TForm1> form(&w.form());

  QElapsedTimer clock;
  clock.start();
  w.onLine("conneting", [&] { w.closeOrDestroy(destroy); });
  w.click("sb_com_open");
  qInfo("the connect ended %lld ms after it began", clock.elapsed());

  if (destroy) {
    QVERIFY(form.isNull());
  } else {
    QVERIFY(!form->isVisible());
    QVERIFY(!form->link().CommHandle().IsOpen());
    QVERIFY(!w.logTexts().contains(WindowFixture::caption("connect_failed")));
    QVERIFY(QFile::exists(settingsFile));
  }
  // Nothing was written after the switch command, and the device is free.
  sim.waitForLog([&] { return sim.bytesReceived() == kSwitch; });
  QCOMPARE(sim.bytesReceived(), kSwitch);
  QVERIFY(sim.deviceIsFree());
}

QTEST_MAIN(TestConnect)
#include "test_connect.moc"
