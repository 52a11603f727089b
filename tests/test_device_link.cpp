// The device session over a fake port: how its waits end (bytes, time, a
// cancel, a lost device, another operation) and each operation's endings as
// the window and the command line see them; the real Qt port over a Linux
// pseudo-terminal; sessions on several threads against the simulated DTU.
// The rules of the conversation themselves are the engine's: core_checks.

#include <QElapsedTimer>
#include <QMutex>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <QtTest>
#include <functional>

#include "link/device_session.h"
#include "link/qt_serial_port.h"
#include "support/bytes.h"
#include "support/dtu_sim_process.h"
#include "support/fake_serial_port.h"

#ifdef Q_OS_LINUX
#include <pty.h>
#include <unistd.h>
#endif

namespace {

// Short limits: a silent unit ends a wait in 100 ms, a download in 100 ms.
SessionTimings ShortTimings() {
  SessionTimings t;
  t.connect = t.params = t.downloadStall = std::chrono::milliseconds(100);
  t.repeatLimit = 5;
  return t;
}

struct FakeSession {
  FakeSerialPort* port;
  DeviceSession session;
  explicit FakeSession(const SessionTimings& timings = ShortTimings())
      : port(new FakeSerialPort), session(std::unique_ptr<SerialPort>(port), timings) {
    session.open(LineSettings{"COM3", 115200, 8, 1, 0});
  }
};

// Limits no test waits for: only bytes or a cancel end these waits.
SessionTimings Endless() {
  SessionTimings t;
  t.connect = t.params = std::chrono::minutes(5);
  return t;
}

// A chunk request as the unit sends it.
QByteArray ChunkRequestBytes(quint32 offset, quint16 count) {
  QByteArray payload(6, '\0');
  qToLittleEndian(offset, payload.data());
  qToLittleEndian(count, payload.data() + 4);
  return FrameBytes(0xE2, payload);
}

} // namespace

class TestDeviceLink : public QObject {
  Q_OBJECT
private slots:
  void answerArrivesWholeOrByteByByte_data();
  void answerArrivesWholeOrByteByByte();
  void cancelEndsTheWait();
  void operationInsideAnotherWait();
  void sessionOperations_data();
  void sessionOperations();
  void sessionDownloadEndings_data();
  void sessionDownloadEndings();
  void sessionsOnFourThreads();

#ifdef Q_OS_LINUX
  void ptyOpensConfiguresAndCarriesBytes();
  void ptyRefusesWhatItCannotDo_data();
  void ptyRefusesWhatItCannotDo();
  void missingDeviceFailsToOpen();
#endif
};

void TestDeviceLink::answerArrivesWholeOrByteByByte_data() {
  QTest::addColumn<int>("chunk");
  QTest::newRow("whole") << 0;
  QTest::newRow("one byte per event") << 1;
  QTest::newRow("five bytes per event") << 5;
}

void TestDeviceLink::answerArrivesWholeOrByteByByte() {
  QFETCH(int, chunk);
  FakeSession f(Endless());
  f.port->setDeliveryChunk(chunk);
  const QByteArray answer = FrameBytes(1, QByteArray("V2.01\0\0\0", 8));
  QSignalSpy arrivals(f.port, &SerialPort::bytesArrived);
  QTimer::singleShot(10, f.port, [&] { f.port->feedReceived(answer); });

  const VersionResult result = f.session.enterConfiguration("######");
  QCOMPARE(int(result.reason), int(SessionReason::Ok));
  QCOMPARE(result.version, QStringLiteral("V2.01"));
  if (chunk == 1) QCOMPARE(arrivals.count(), answer.size()); // it really took every byte's event
}

void TestDeviceLink::cancelEndsTheWait() {
  FakeSession f(Endless());
  QTimer::singleShot(20, &f.session, [&] { f.session.cancel(); });
  QCOMPARE(int(f.session.readParams().reason), int(SessionReason::Cancelled));
  QVERIFY(f.session.cancelled());

  // Stays cancelled, sending nothing, until cleared...
  const qsizetype written = f.port->writtenFrames().size();
  QCOMPARE(int(f.session.enterConfiguration("######").reason), int(SessionReason::Cancelled));
  QCOMPARE(int(f.session.download({}).reason), int(SessionReason::Cancelled));
  QCOMPARE(f.port->writtenFrames().size(), written);
  f.session.clearCancel();
  f.port->feedReceived(FrameBytes(1));
  QVERIFY(f.session.enterConfiguration("######").ok());

  // ...and a wait started inside another wait is ended together with it.
  SessionReason inner = SessionReason::Ok;
  QTimer::singleShot(10, &f.session, [&] {
    QTimer::singleShot(10, &f.session, [&] { f.session.cancel(); });
    inner = f.session.readSysInfo().reason;
  });
  QCOMPARE(int(f.session.readParams().reason), int(SessionReason::Cancelled));
  QCOMPARE(int(inner), int(SessionReason::Cancelled));
}

void TestDeviceLink::operationInsideAnotherWait() {
  // A second click while a read waits: the inner operation runs to its end,
  // then the outer one takes its own answer.
  FakeSession f(Endless());
  const QByteArray record(int(k7v::kAppParamsSize), '\x5A');
  SysInfoResult inner;
  QTimer::singleShot(10, &f.session, [&] {
    f.port->feedReceived(FrameBytes(7, QByteArray(49, 'I')));
    inner = f.session.readSysInfo();
    QTimer::singleShot(10, f.port, [&] { f.port->feedReceived(FrameBytes(3, record)); });
  });
  const ParamsResult outer = f.session.readParams();
  QVERIFY(inner.ok());
  QCOMPARE(inner.info.product_type, std::string("IIII"));
  QVERIFY(outer.ok());
  QCOMPARE(ToBytes(outer.params.bytes()), record);
  QCOMPARE(f.port->writtenFrames(), (QList<QByteArray>{FrameBytes(3), FrameBytes(7)}));
}

void TestDeviceLink::sessionOperations_data() {
  QTest::addColumn<QString>("operation");
  QTest::addColumn<QByteArray>("unitSends"); // fed before the operation starts
  QTest::addColumn<QString>("event");        // "lost", "cancel", "closed", "no writes" or empty
  QTest::addColumn<int>("reason");           // SessionReason

  const QByteArray record(int(k7v::kAppParamsSize), '\x5A');
  QTest::newRow("enter: version") << "enter" << FrameBytes(1, "V2.01") << ""
                                  << int(SessionReason::Ok);
  QTest::newRow("enter: silence") << "enter" << QByteArray() << "" << int(SessionReason::NoAnswer);
  QTest::newRow("enter: port closed")
      << "enter" << QByteArray() << "closed" << int(SessionReason::NotOpen);
  QTest::newRow("read: record") << "read" << FrameBytes(3, record) << "" << int(SessionReason::Ok);
  QTest::newRow("read: device lost")
      << "read" << QByteArray() << "lost" << int(SessionReason::LinkLost);
  QTest::newRow("info: answer") << "info" << FrameBytes(7, QByteArray(49, 'I')) << ""
                                << int(SessionReason::Ok);
  QTest::newRow("write: stored") << "write" << FrameBytes(4, "\x01") << ""
                                 << int(SessionReason::Ok);
  QTest::newRow("write: cancelled")
      << "write" << QByteArray() << "cancel" << int(SessionReason::Cancelled);
  QTest::newRow("write: the port takes no frame")
      << "write" << FrameBytes(4, "\x01") << "no writes" << int(SessionReason::WriteFailed);
}

void TestDeviceLink::sessionOperations() {
  QFETCH(QString, operation);
  QFETCH(QByteArray, unitSends);
  QFETCH(QString, event);
  QFETCH(int, reason);

  FakeSession f;
  f.port->feedReceived(unitSends);
  if (event == QLatin1String("closed"))
    f.session.close();
  else if (event == QLatin1String("lost"))
    QTimer::singleShot(20, f.port, [&] { f.port->simulateDeviceLost(); });
  else if (event == QLatin1String("cancel"))
    QTimer::singleShot(20, f.port, [&] { f.session.cancel(); });
  f.port->failWrites(event == QLatin1String("no writes"));

  QElapsedTimer clock;
  clock.start();
  SessionResult result;
  if (operation == QLatin1String("enter")) {
    const VersionResult v = f.session.enterConfiguration("K7#CFG");
    result = v;
    QCOMPARE(v.version, QString(v.ok() ? "V2.01" : ""));
  } else if (operation == QLatin1String("read")) {
    const ParamsResult r = f.session.readParams();
    result = r;
    if (r.ok()) QCOMPARE(ToBytes(r.params.bytes()), unitSends.mid(4, int(k7v::kAppParamsSize)));
  } else if (operation == QLatin1String("info")) {
    const SysInfoResult r = f.session.readSysInfo();
    result = r;
    if (r.ok()) QCOMPARE(r.info.product_type, std::string("IIII"));
  } else {
    TAppParams params;
    params.bytes().fill(0x33);
    result = f.session.writeParams(params);
    if (event == QLatin1String("cancel") || event == QLatin1String("lost"))
      QCOMPARE(f.port->writtenFrames().value(0).mid(4, 3), QByteArray("\x33\x33\x33"));
  }
  QCOMPARE(int(result.reason), reason);
  if (result.reason == SessionReason::NoAnswer) QVERIFY(clock.elapsed() >= 100); // its whole time
  f.port->failWrites(false);

  // However it ended, leaving configuration mode still works on an open port.
  f.session.clearCancel();
  if (f.port->IsOpen()) {
    QVERIFY(f.session.leaveConfiguration().ok());
    QCOMPARE(f.port->writtenFrames().last(), QByteArray::fromHex("AA020600B2BB"));
  } else {
    QCOMPARE(int(f.session.leaveConfiguration().reason), int(SessionReason::NotOpen));
  }
}

void TestDeviceLink::sessionDownloadEndings_data() {
  QTest::addColumn<QByteArray>("unitSends");
  QTest::addColumn<QString>("event"); // "lost", "cancel at first piece" or empty
  QTest::addColumn<int>("answers");   // chunk answers written
  QTest::addColumn<int>("reason");

  const QByteArray twoPieces = ChunkRequestBytes(0, 60) + ChunkRequestBytes(60, 60);
  QTest::newRow("verified") << twoPieces + FrameBytes(0xE3) << "" << 2 << int(SessionReason::Ok);
  QTest::newRow("silent after the start")
      << QByteArray() << "" << 0 << int(SessionReason::StoppedAsking);
  QTest::newRow("one piece asked again and again")
      << ChunkRequestBytes(60, 60).repeated(6) << "" << 4 << int(SessionReason::RepeatedPiece);
  QTest::newRow("stopped at the first piece")
      << twoPieces + FrameBytes(0xE3) << "cancel at first piece" << 1
      << int(SessionReason::Cancelled);
  QTest::newRow("device lost") << QByteArray() << "lost" << 0 << int(SessionReason::LinkLost);
}

void TestDeviceLink::sessionDownloadEndings() {
  QFETCH(QByteArray, unitSends);
  QFETCH(QString, event);
  QFETCH(int, answers);
  QFETCH(int, reason);

  FakeSession f;
  std::vector<std::uint8_t> body(100);
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = std::uint8_t(i);
  DownloadImage image{body, 100, "fw.bin", "V1", 4950};
  f.port->feedReceived(unitSends);
  if (event == QLatin1String("lost"))
    QTimer::singleShot(20, f.port, [&] { f.port->simulateDeviceLost(); });

  QList<quint64> reached;
  const SessionResult result = f.session.download(image, [&](const DownloadProgress& p) {
    reached << p.reached;
    QCOMPARE(p.total, 100);
    if (event == QLatin1String("cancel at first piece")) f.session.cancel();
  });
  QCOMPARE(int(result.reason), reason);

  // The announcement, then one answer per piece served, cut at the body's end.
  const QList<QByteArray> frames = f.port->writtenFrames();
  QCOMPARE(frames.size(), 1 + answers);
  QCOMPARE(quint8(frames.first()[1]), quint8(0xE1));
  QCOMPARE(reached.size(), answers);
  if (answers >= 2 && reason != int(SessionReason::RepeatedPiece)) {
    QCOMPARE(frames.last().size(), 40 + 12); // offset 60: 40 bytes left of 100
    QCOMPARE(reached.last(), quint64(100));
  }
}

void TestDeviceLink::sessionsOnFourThreads() {
  // Four units, one of them mute to the parameter request. Each session runs
  // on its own thread from opening to closing; the mute one is ended from
  // this thread by a cancel once the other three are through, so it cannot
  // have held them up.
  std::array<DtuSimProcess, 4> sims;
  for (std::size_t i = 0; i < sims.size(); ++i)
    QVERIFY2(sims[i].start(i == 2 ? QStringList{"--silent", "3"} : QStringList{}),
             qPrintable(sims[i].errorString()));

  QMutex mutex;
  QStringList finished; // "unit: outcome", in the order the sessions ended
  std::array<std::atomic<DeviceSession*>, 4> live{};
  std::vector<std::unique_ptr<QThread>> threads;
  for (std::size_t i = 0; i < sims.size(); ++i) {
    const QString path = sims[i].devicePath();
    threads.emplace_back(QThread::create([&, i, path] {
      SessionTimings timings;
      timings.params = std::chrono::minutes(5); // only a cancel ends the mute unit's wait
      DeviceSession session(std::make_unique<QtSerialPortLink>(), timings);
      live[i] = &session;
      QStringList steps;
      steps << SessionReasonName(session.open({path, 115200, 8, 1, 0}).reason);
      steps << session.enterConfiguration("######").version;
      const ParamsResult params = session.readParams();
      steps << SessionReasonName(params.reason);
      if (params.ok()) steps << SessionReasonName(session.readSysInfo().reason);
      session.clearCancel();
      steps << SessionReasonName(session.leaveConfiguration().reason);
      live[i] = nullptr;
      session.close();
      QMutexLocker lock(&mutex);
      finished << QString::number(i) + u':' + steps.join(u',');
    }));
    threads.back()->start();
  }

  const auto count = [&] {
    QMutexLocker lock(&mutex);
    return finished.size();
  };
  QTRY_COMPARE_WITH_TIMEOUT(count(), 3, 20000);
  QTRY_VERIFY(live[2].load() != nullptr);
  live[2].load()->cancel(); // from this thread: ends the other thread's wait at once
  for (auto& t : threads) QVERIFY(t->wait(20000));

  QCOMPARE(finished.size(), 4);
  QCOMPARE(finished.last(), QStringLiteral("2:ok,V2.01,cancelled,ok"));
  QStringList others = finished.mid(0, 3);
  others.sort();
  QCOMPARE(others,
           (QStringList{"0:ok,V2.01,ok,ok,ok", "1:ok,V2.01,ok,ok,ok", "3:ok,V2.01,ok,ok,ok"}));
  // Every unit was told to leave configuration mode.
  for (const DtuSimProcess& sim : sims)
    QVERIFY(sim.waitForLog([&] { return sim.framesReceived().contains(FrameBytes(2)); }));
}

#ifdef Q_OS_LINUX
namespace {
// A pseudo-terminal pair; the program's port opens the slave by path.
struct Pty {
  int master = -1;
  QString slavePath;
  Pty() {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
      ::close(slave);
      slavePath = QString::fromLocal8Bit(name);
    }
  }
  ~Pty() {
    if (master >= 0) ::close(master);
  }
};
} // namespace

void TestDeviceLink::ptyOpensConfiguresAndCarriesBytes() {
  Pty pty;
  QVERIFY(pty.master >= 0);
  auto* port = new QtSerialPortLink;
  DeviceSession session{std::unique_ptr<SerialPort>(port), Endless()};
  // "pts/N" is a bare name under /dev, like ttyUSB0.
  const QString bare = pty.slavePath.mid(QStringLiteral("/dev/").size());
  for (const QString& name : {pty.slavePath, bare}) {
    QVERIFY2(session.open({name, 115200, 8, 0, 0}).ok(), qPrintable(name));
    QVERIFY(port->IsOpen());
    QCOMPARE(port->Open({name, 115200, 8, 0, 0}).kind, OpenResult::Kind::OpenFailed);
    QVERIFY(port->IsOpen()); // the refused second open left the first alone

    const QByteArray answer = FrameBytes(1, "V2.01");
    QTimer::singleShot(20, port, [&] {
      QCOMPARE(::write(pty.master, answer.constData(), answer.size()), answer.size());
    });
    QCOMPARE(session.enterConfiguration("K7#CFG").version, QStringLiteral("V2.01"));
    QVERIFY(session.leaveConfiguration().ok());
    QByteArray got;
    for (char b[16]; got.size() < 12;) {
      const auto n = ::read(pty.master, b, sizeof b);
      if (n <= 0) break;
      got.append(b, n);
    }
    QCOMPARE(got, "K7#CFG" + FrameBytes(2));
    session.close();
    QVERIFY(!port->IsOpen());
  }
}

void TestDeviceLink::ptyRefusesWhatItCannotDo_data() {
  QTest::addColumn<int>("baud");
  QTest::addColumn<int>("dataBits");
  QTest::addColumn<int>("parityIndex");
  QTest::addColumn<int>("expected"); // OpenResult::Kind
  // A pty runs 8 bits without parity whatever it is asked for.
  QTest::newRow("even parity") << 9600 << 8 << 2 << int(OpenResult::Kind::SettingsRefused);
  QTest::newRow("odd parity") << 9600 << 8 << 1 << int(OpenResult::Kind::SettingsRefused);
  QTest::newRow("7 data bits") << 9600 << 7 << 0 << int(OpenResult::Kind::SettingsRefused);
  QTest::newRow("no baud rate chosen") << 0 << 8 << 0 << int(OpenResult::Kind::SettingsRefused);
  QTest::newRow("no data bits chosen") << 9600 << 0 << 0 << int(OpenResult::Kind::SettingsRefused);
  QTest::newRow("parity left as it is") << 9600 << 8 << 7 << int(OpenResult::Kind::Ok);
}

void TestDeviceLink::ptyRefusesWhatItCannotDo() {
  QFETCH(int, baud);
  QFETCH(int, dataBits);
  QFETCH(int, parityIndex);
  QFETCH(int, expected);
  Pty pty;
  QtSerialPortLink port;
  QSignalSpy lost(&port, &SerialPort::deviceLost);
  const OpenResult result = port.Open({pty.slavePath, baud, dataBits, 1, parityIndex});
  QCOMPARE(int(result.kind), expected);
  if (!result.ok()) {
    QVERIFY(result.systemError != 0);
    QVERIFY(!port.IsOpen());
  }
  // The same port opens again at once with settings it can take.
  port.Close();
  QVERIFY(port.Open({pty.slavePath, 9600, 8, 0, 0}).ok());
  QCOMPARE(lost.count(), 0);
}

void TestDeviceLink::missingDeviceFailsToOpen() {
  QtSerialPortLink port;
  QSignalSpy lost(&port, &SerialPort::deviceLost);
  QCOMPARE(port.Open({"/dev/k7v-no-such-port", 9600, 8, 1, 0}).kind, OpenResult::Kind::OpenFailed);
  QCOMPARE(port.Open({"k7v-no-such-port", 9600, 8, 1, 0}).kind, OpenResult::Kind::OpenFailed);
  QVERIFY(!port.IsOpen());
  QCOMPARE(lost.count(), 0);
}

#endif

QTEST_GUILESS_MAIN(TestDeviceLink)
#include "test_device_link.moc"
