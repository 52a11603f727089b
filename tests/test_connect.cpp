// Connecting to and disconnecting from the simulated DTU over a pseudo-terminal,
// through the main window as the technician uses it: the real serial port,
// the real receive side, the buttons, the status log.

#include <QAbstractButton>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "app/app_texts.h"
#include "link/link_settings_dialog.h"
#include "params/app_params.h"
#include "support/dtu_sim_process.h"
#include "support/window_fixture.h"

namespace {

const QColor kBlack(0, 0, 0);
const QColor kGreen(0, 0x80, 0);
const QColor kRed(0xFF, 0, 0);

struct Expected {
  QString text;
  QColor colour;
  int size;
};

Expected Line(const char* key, const QColor& colour, int size) {
  return {WindowFixture::caption(key), colour, size};
}

// The log lines from index from on must be exactly these.
bool LogTailIs(const WindowFixture& w, qsizetype from, const QList<Expected>& expected) {
  const QList<LogLine> lines = w.logLines().mid(from);
  bool same = lines.size() == expected.size();
  for (qsizetype i = 0; same && i < lines.size(); ++i) {
    same = lines[i].text == expected[i].text && lines[i].colour == expected[i].colour &&
           qRound(lines[i].pointSize) == expected[i].size;
  }
  if (!same) {
    for (const LogLine& l : lines)
      qWarning().noquote() << "log:" << l.text << l.colour.name() << l.pointSize;
  }
  return same;
}

// The bytes the simulator read from the PC, in order, as "AA 02 06 ..." text.
QString BytesReceivedBySim(const DtuSimProcess& sim) {
  QStringList parts;
  for (const QByteArray& line : sim.logText().split('\n')) {
    if (line.startsWith("RX bytes "))
      parts << QString::fromLatin1(line.mid(9));
  }
  return parts.join(u' ');
}

const QString kSwitch = QStringLiteral("23 23 23 23 23 23");
const QString kLeave = QStringLiteral("AA 02 06 00 B2 BB");

// A main window on the real serial port, pointed at a device path.
struct Bench {
  WindowFixture w;

  explicit Bench(const QString& devicePath) { setPort(devicePath); }
  TForm1& form() { return w.form(); }
  TForm3& dialog() { return *w.form().Form3(); }
  void setPort(const QString& path) { dialog().cb_com->setEditText(path); }
  bool portOpen() { return form().link().CommHandle().IsOpen(); }

  // Which of connect, disconnect, read, write and download are enabled.
  QString controls() const {
    QString s;
    for (const char* name : {"sb_com_open", "sb_com_close", "sb_getpar", "sb_setpar", "bStart"})
      s += w.get<QAbstractButton>(name)->isEnabled() ? u'1' : u'0';
    return s;
  }
  bool waitCursor() { return form().cursor().shape() == Qt::WaitCursor; }
};

const QString kNotConnected = QStringLiteral("10000");
const QString kConnected = QStringLiteral("01111");

// Runs check on every arrival of bytes at the window's port and on a timer,
// as long as the guarded operation runs.
class DuringOperation {
public:
  DuringOperation(Bench& b, std::function<void()> check, int everyMs = 150) : check_(std::move(check)) {
    QObject::connect(&b.form().link().CommHandle(), &SerialPort::bytesArrived, &ctx_, [this] { run(); });
    timer_.setInterval(everyMs);
    QObject::connect(&timer_, &QTimer::timeout, &ctx_, [this] { run(); });
  }
  void begin() { active_ = true; timer_.start(); }
  void end() { active_ = false; timer_.stop(); }
  int runs() const { return runs_; }

private:
  void run() {
    if (!active_) return;
    ++runs_;
    check_();
  }
  QObject ctx_;
  QTimer timer_;
  std::function<void()> check_;
  bool active_ = false;
  int runs_ = 0;
};

QByteArray RecordWithSwitch(const char* sw) {
  TAppParams p;
  p.SetText(AppField::switch_cmd, sw);
  return QByteArray(reinterpret_cast<const char*>(p.bytes().data()), int(p.bytes().size()));
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
  void deviceVanishes_data();
  void deviceVanishes();
  void windowClosedDuringConnectWait_data();
  void windowClosedDuringConnectWait();
};

void TestConnect::connectShowsVersionAndDisconnectLeaves_data() {
  QTest::addColumn<QStringList>("simArgs");
  QTest::addColumn<QString>("switchCommand"); // empty: the default ######
  QTest::addColumn<QString>("version");

  QTest::newRow("plain") << QStringList{} << QString() << "V2.01";
  QTest::newRow("eight characters, no terminator") << QStringList{"--version", "K7V-2.10"} << QString() << "K7V-2.10";
  QTest::newRow("short answer: only the bytes it holds") << QStringList{"--short", "1"} << QString() << "V2.";
  QTest::newRow("noise before the answer") << QStringList{"--garbage"} << QString() << "V2.01";
  QTest::newRow("answer in two halves") << QStringList{"--split-pause", "300"} << QString() << "V2.01";
  QTest::newRow("switch command from the dialog") << QStringList{"--record", "@switch"} << "K7#CFG" << "V2.01";
}

void TestConnect::connectShowsVersionAndDisconnectLeaves() {
  QFETCH(QStringList, simArgs);
  QFETCH(QString, switchCommand);
  QFETCH(QString, version);

  QTemporaryDir tmp;
  const int recordAt = simArgs.indexOf(QStringLiteral("@switch"));
  if (recordAt >= 0) {
    QFile f(tmp.filePath(QStringLiteral("switch.bin")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(RecordWithSwitch(switchCommand.toLatin1().constData()));
    f.close();
    simArgs[recordAt] = f.fileName();
  }
  DtuSimProcess sim;
  QVERIFY2(sim.start(simArgs), qPrintable(sim.errorString()));
  Bench b(sim.devicePath());
  if (!switchCommand.isEmpty()) b.dialog().edSwitchChr->setText(switchCommand);
  const QString switchBytes =
      switchCommand.isEmpty() ? kSwitch : QString::fromLatin1(switchCommand.toLatin1().toHex(' ').toUpper());
  QCOMPARE(b.controls(), kNotConnected);

  // Connect stays disabled, and the hourglass shows, for the whole attempt.
  QStringList seenDuringWait;
  DuringOperation during(b, [&] {
    seenDuringWait << b.controls() + (b.waitCursor() ? "W" : "-");
  });
  const qsizetype before = b.w.logLines().size();
  during.begin();
  b.w.click("sb_com_open");
  during.end();
  QVERIFY(during.runs() > 0);
  QCOMPARE(seenDuringWait.filter(QStringLiteral("00000W")).size(), seenDuringWait.size());

  QVERIFY(LogTailIs(b.w, before,
                    {{WindowFixture::caption("open_serial") + b.form().StatusPanel(1), kBlack, 9},
                     Line("serial_opened", kGreen, 10),
                     Line("conneting", kBlack, 9),
                     Line("connected", kGreen, 10)}));
  QCOMPARE(b.w.get<QLineEdit>("ed_ver")->text(), version);
  QCOMPARE(b.controls(), kConnected);
  QVERIFY(b.form().link().LinkConnected);
  QVERIFY(b.portOpen());
  QVERIFY(!b.waitCursor());

  // Disconnect: the leave frame and nothing else, then the port is closed.
  const qsizetype beforeClose = b.w.logLines().size();
  b.w.click("sb_com_close");
  QVERIFY(LogTailIs(b.w, beforeClose, {Line("serial_closed", kBlack, 9)}));
  QCOMPARE(b.controls(), kNotConnected);
  QVERIFY(!b.form().link().LinkConnected);
  QVERIFY(!b.portOpen());
  QCOMPARE(b.w.get<QLineEdit>("ed_ver")->text(), version); // kept after disconnect
  QTRY_VERIFY_WITH_TIMEOUT(sim.logText().contains("RX frame AA 02 06 00 B2 BB"), 3000);
  QCOMPARE(BytesReceivedBySim(sim), switchBytes + u' ' + kLeave);

  // The port was really let go: it opens again at once and the DTU switches again.
  b.w.click("sb_com_open");
  QCOMPARE(b.controls(), kConnected);
  QCOMPARE(b.w.logTexts().last(), WindowFixture::caption("connected"));
  b.w.click("sb_com_close");
}

void TestConnect::silentDeviceFailsAndConnectCanBeRetried() {
  DtuSimProcess silent;
  QVERIFY2(silent.start({"--silent", "1"}), qPrintable(silent.errorString()));
  Bench b(silent.devicePath());
  b.w.get<QLineEdit>("ed_ver")->setText(QStringLiteral("V1.00")); // from an earlier connect

  QString seen;
  int reentered = 0;
  DuringOperation during(b, [&] {
    seen = b.controls() + (b.waitCursor() ? "W" : "-");
    if (reentered++ == 0) b.form().sb_com_openClick(); // a second connect inside the wait
  }, 400);
  const qsizetype before = b.w.logLines().size();
  QElapsedTimer clock;
  clock.start();
  during.begin();
  b.w.click("sb_com_open");
  during.end();
  const qint64 elapsed = clock.elapsed();
  qInfo("connect gave up after %lld ms", elapsed);

  QVERIFY(reentered > 0);
  QCOMPARE(seen, QStringLiteral("00000W"));
  QVERIFY(elapsed >= 2000); // the DTU is given its full two seconds
  QVERIFY(LogTailIs(b.w, before,
                    {{WindowFixture::caption("open_serial") + b.form().StatusPanel(1), kBlack, 9},
                     Line("serial_opened", kGreen, 10),
                     Line("conneting", kBlack, 9),
                     Line("connect_failed", kRed, 10)}));
  QCOMPARE(b.controls(), kNotConnected);
  QVERIFY(!b.form().link().LinkConnected);
  QVERIFY(!b.portOpen());
  QVERIFY(!b.waitCursor());
  QCOMPARE(b.w.get<QLineEdit>("ed_ver")->text(), QStringLiteral("V1.00"));
  QCOMPARE(BytesReceivedBySim(silent), kSwitch); // one switch command: the second connect did nothing

  // The port is free for anyone at once...
  {
    QSerialPort other;
    other.setPortName(silent.devicePath());
    QVERIFY(other.open(QIODevice::ReadWrite));
  }
  // ...and connect can be tried again at once, here on a DTU that answers.
  DtuSimProcess answering;
  QVERIFY2(answering.start(), qPrintable(answering.errorString()));
  b.setPort(answering.devicePath());
  b.w.click("sb_com_open");
  QCOMPARE(b.w.logTexts().last(), WindowFixture::caption("connected"));
  QCOMPARE(b.controls(), kConnected);
  QCOMPARE(b.w.get<QLineEdit>("ed_ver")->text(), QStringLiteral("V2.01"));
}

void TestConnect::portThatCannotBeUsed_data() {
  QTest::addColumn<QString>("port"); // "@sim": the simulator's device
  QTest::addColumn<int>("dataBitsIndex");
  QTest::addColumn<int>("parityIndex");
  QTest::addColumn<int>("baudIndex");
  QTest::addColumn<bool>("heldElsewhere");
  QTest::addColumn<QString>("key");

  // A pseudo-terminal runs 8 bits without parity and refuses anything else.
  QTest::newRow("even parity") << "@sim" << 0 << 2 << 0 << false << "open_serial_error_code";
  QTest::newRow("7 data bits") << "@sim" << 1 << 0 << 0 << false << "open_serial_error_code";
  QTest::newRow("no baud rate chosen") << "@sim" << 0 << 0 << -1 << false << "open_serial_error_code";
  QTest::newRow("no such port") << "/dev/k7v-no-such-port" << 0 << 0 << 0 << false << "open_serial_error";
  QTest::newRow("held by another program") << "@sim" << 0 << 0 << 0 << true << "open_serial_error";
}

void TestConnect::portThatCannotBeUsed() {
  QFETCH(QString, port);
  QFETCH(int, dataBitsIndex);
  QFETCH(int, parityIndex);
  QFETCH(int, baudIndex);
  QFETCH(bool, heldElsewhere);
  QFETCH(QString, key);

  DtuSimProcess sim;
  QVERIFY2(sim.start(), qPrintable(sim.errorString()));
  Bench b(port == QLatin1String("@sim") ? sim.devicePath() : port);
  b.dialog().cbDatabit->setCurrentIndex(dataBitsIndex);
  b.dialog().cbParitybit->setCurrentIndex(parityIndex);
  b.dialog().cbbaudrate->setCurrentIndex(baudIndex);
  QSerialPort other;
  if (heldElsewhere) {
    other.setPortName(sim.devicePath());
    QVERIFY(other.open(QIODevice::ReadWrite));
  }

  const qsizetype before = b.w.logLines().size();
  b.w.click("sb_com_open");
  const QList<LogLine> lines = b.w.logLines().mid(before);
  QCOMPARE(lines.size(), 2);
  QCOMPARE(lines[0].text, WindowFixture::caption("open_serial") + b.form().StatusPanel(1));
  QCOMPARE(lines[0].colour, kBlack);
  QCOMPARE(qRound(lines[0].pointSize), 9);
  if (key == QLatin1String("open_serial_error_code")) {
    const QString prefix = WindowFixture::caption("open_serial_error_code");
    QVERIFY2(lines[1].text.startsWith(prefix), qPrintable(lines[1].text));
    QVERIFY2(QRegularExpression(QStringLiteral("^[1-9][0-9]*$")).match(lines[1].text.mid(prefix.size())).hasMatch(),
             qPrintable(lines[1].text));
  } else {
    QCOMPARE(lines[1].text, WindowFixture::caption(key.toLatin1().constData()));
  }
  QCOMPARE(lines[1].colour, kRed);
  QCOMPARE(qRound(lines[1].pointSize), 9);
  QCOMPARE(b.controls(), kNotConnected);
  QVERIFY(!b.portOpen());
  QVERIFY(!b.waitCursor());
  QVERIFY(!sim.logText().contains("RX"));

  // Put right, the same attempt succeeds at once.
  other.close();
  b.setPort(sim.devicePath());
  b.dialog().cbDatabit->setCurrentIndex(0);
  b.dialog().cbParitybit->setCurrentIndex(0);
  b.dialog().cbbaudrate->setCurrentIndex(0);
  b.w.click("sb_com_open");
  QCOMPARE(b.w.logTexts().last(), WindowFixture::caption("connected"));
  QCOMPARE(b.controls(), kConnected);
}

void TestConnect::deviceVanishes_data() {
  QTest::addColumn<QStringList>("simArgs");
  QTest::addColumn<QString>("when");
  QTest::addColumn<QStringList>("keys"); // the log after "conneting"

  QTest::newRow("killed while connected")
      << QStringList{} << "idle" << QStringList{"connected", "serial_lost"};
  QTest::newRow("unplugged on the read request")
      << QStringList{"--drop-after", "1"} << "read"
      << QStringList{"connected", "app_par_reading", "serial_lost", "app_par_read_failed"};
  QTest::newRow("killed during the connect wait")
      << QStringList{"--silent", "1"} << "connect" << QStringList{"serial_lost", "connect_failed"};
}

void TestConnect::deviceVanishes() {
  QFETCH(QStringList, simArgs);
  QFETCH(QString, when);
  QFETCH(QStringList, keys);

  DtuSimProcess sim;
  QVERIFY2(sim.start(simArgs), qPrintable(sim.errorString()));
  Bench b(sim.devicePath());
  QSignalSpy lost(&b.form().link().CommHandle(), &SerialPort::deviceLost);

  QObject ctx;
  if (when == QLatin1String("connect"))
    QTimer::singleShot(300, &ctx, [&] { sim.process().kill(); });
  b.w.click("sb_com_open");
  const qsizetype connecting = b.w.logTexts().indexOf(WindowFixture::caption("conneting"));
  QVERIFY(connecting >= 0);

  if (when == QLatin1String("idle")) {
    QCOMPARE(b.controls(), kConnected);
    sim.process().kill();
    QVERIFY(lost.wait(5000));
  } else if (when == QLatin1String("read")) {
    QCOMPARE(b.controls(), kConnected);
    b.w.click("sb_getpar");
    // The simulator unplugged itself.
    QTRY_COMPARE_WITH_TIMEOUT(sim.process().state(), QProcess::NotRunning, 5000);
  }
  QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 5000);

  QList<Expected> expected;
  for (const QString& k : keys) {
    const QByteArray key = k.toLatin1();
    const bool progress = k == QLatin1String("app_par_reading");
    const bool good = k == QLatin1String("connected");
    expected << Line(key.constData(), progress ? kBlack : good ? kGreen : kRed, progress ? 9 : 10);
  }
  QVERIFY(LogTailIs(b.w, connecting + 1, expected));
  QCOMPARE(b.controls(), kNotConnected);
  QVERIFY(!b.form().link().LinkConnected);
  QVERIFY(!b.portOpen());
  QVERIFY(!b.waitCursor());
  QVERIFY(!sim.logText().contains("RX frame AA 07"));

  // A dead port must not keep reporting itself.
  const qsizetype lines = b.w.logLines().size();
  for (int i = 0; i < 200; ++i)
    QCoreApplication::processEvents();
  QCOMPARE(b.w.logLines().size(), lines);
  QCOMPARE(lost.count(), 1);

  // Plugged in again (here: a new device), the window connects as from fresh.
  DtuSimProcess again;
  QVERIFY2(again.start(), qPrintable(again.errorString()));
  b.setPort(again.devicePath());
  b.w.click("sb_com_open");
  QCOMPARE(b.w.logTexts().last(), WindowFixture::caption("connected"));
  QCOMPARE(b.controls(), kConnected);
}

void TestConnect::windowClosedDuringConnectWait_data() {
  QTest::addColumn<bool>("destroy");
  QTest::newRow("closed") << false;
  QTest::newRow("closed and destroyed") << true;
}

void TestConnect::windowClosedDuringConnectWait() {
  QFETCH(bool, destroy);
  DtuSimProcess sim;
  QVERIFY2(sim.start({"--silent", "1"}), qPrintable(sim.errorString()));
  auto b = std::make_unique<Bench>(sim.devicePath());
  const QString settingsFile = QDir(b->w.dir()).filePath(QStringLiteral("parcfg.ini"));
  QPointer<TForm1> form(&b->form());

  QObject ctx;
  QElapsedTimer clock;
  clock.start();
  QTimer::singleShot(300, &ctx, [&] {
    if (destroy)
      b->w.closeWindow();
    else
      b->form().close();
  });
  b->w.click("sb_com_open");
  qInfo("the connect ended %lld ms after it began", clock.elapsed());

  if (destroy) {
    QVERIFY(form.isNull());
  } else {
    QVERIFY(!b->form().isVisible());
    QVERIFY(!b->portOpen());
    QVERIFY(!b->w.logTexts().contains(WindowFixture::caption("connect_failed")));
    QVERIFY(QFile::exists(settingsFile));
  }
  // Nothing was written after the switch command, and the device is free.
  QCOMPARE(BytesReceivedBySim(sim), kSwitch);
  QSerialPort other;
  other.setPortName(sim.devicePath());
  QVERIFY(other.open(QIODevice::ReadWrite));
}

QTEST_MAIN(TestConnect)
#include "test_connect.moc"
