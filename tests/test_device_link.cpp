// The device link's waits over a fake port, and the real Qt port over a
// Linux pseudo-terminal.

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "link/device_link.h"
#include "link/qt_serial_port.h"
#include "support/bytes.h"
#include "support/fake_serial_port.h"

#ifdef Q_OS_LINUX
#include <pty.h>
#include <unistd.h>
#endif

namespace {

QByteArray PayloadOf(const TDeviceFrame& f) { return ToBytes(f.payload()); }

struct FakeLink {
  FakeSerialPort* port;
  DeviceLink link;
  FakeLink()
    : port(new FakeSerialPort)
    , link(std::unique_ptr<SerialPort>(port))
  {
    port->Open(LineSettings{"COM3", 115200, 8, 1, 0});
  }
};

} // namespace

class TestDeviceLink : public QObject {
  Q_OBJECT
private slots:
  void replyArrivesWholeOrByteByByte_data();
  void replyArrivesWholeOrByteByByte();
  void otherCommandsAreDroppedWhileWaiting();
  void replyAlreadyWaitingIsFoundWithZeroSeconds();
  void silenceTimesOutAfterTheGivenTime();
  void abortEndsTheWait();
  void lostDeviceEndsTheWait();
  void closedPortEndsTheWaitAtOnce();
  void waitForBytes();
  void writeFollowsThePort();

#ifdef Q_OS_LINUX
  void ptyOpensConfiguresAndCarriesBytes();
  void ptyRefusesWhatItCannotDo_data();
  void ptyRefusesWhatItCannotDo();
  void missingDeviceFailsToOpen();
#endif
};

void TestDeviceLink::replyArrivesWholeOrByteByByte_data()
{
  QTest::addColumn<int>("chunk");
  QTest::newRow("whole") << 0;
  QTest::newRow("one byte per event") << 1;
  QTest::newRow("five bytes per event") << 5;
}

void TestDeviceLink::replyArrivesWholeOrByteByByte()
{
  QFETCH(int, chunk);
  FakeLink f;
  f.port->setDeliveryChunk(chunk);
  const QByteArray payload("V2.01\0\0\0", 8);
  QSignalSpy arrivals(f.port, &SerialPort::bytesArrived);
  QTimer::singleShot(10, f.port, [&] { f.port->feedReceived(FrameBytes(1, payload)); });

  const auto reply = f.link.WaitReply(1, 2);
  QCOMPARE(reply.result, DeviceLink::WaitResult::Reply);
  QCOMPARE(reply.frame.command(), 1);
  QCOMPARE(PayloadOf(reply.frame), payload);
  if (chunk == 1)
    QCOMPARE(arrivals.count(), FrameBytes(1, payload).size()); // it really took every byte's event
  QCOMPARE(f.link.Rx().Count, 0);
}

void TestDeviceLink::otherCommandsAreDroppedWhileWaiting()
{
  FakeLink f;
  QTimer::singleShot(10, f.port, [&] { f.port->feedReceived(FrameBytes(3, "params")); });
  QTimer::singleShot(40, f.port, [&] { f.port->feedReceived(FrameBytes(7) + FrameBytes(1, "V1") + FrameBytes(4, "x")); });

  const auto reply = f.link.WaitReply(1, 2);
  QCOMPARE(reply.result, DeviceLink::WaitResult::Reply);
  QCOMPARE(PayloadOf(reply.frame), QByteArray("V1"));
  // Frames before the answer are gone; the one after it stays for later.
  const auto next = f.link.ReadFrame();
  QVERIFY(next);
  QCOMPARE(next->command(), 4);
  QVERIFY(!f.link.ReadFrame());
}

void TestDeviceLink::replyAlreadyWaitingIsFoundWithZeroSeconds()
{
  FakeLink f;
  f.port->feedReceived(FrameBytes(3) + FrameBytes(4, QByteArray(1, '\1')));
  const auto reply = f.link.WaitReply(4, 0);
  QCOMPARE(reply.result, DeviceLink::WaitResult::Reply);
  QCOMPARE(PayloadOf(reply.frame), QByteArray(1, '\1'));
}

void TestDeviceLink::silenceTimesOutAfterTheGivenTime()
{
  FakeLink f;
  // Only frames that never match, and garbage, arrive during the wait.
  QTimer::singleShot(300, f.port, [&] { f.port->feedReceived(FrameBytes(3) + "\xAA\x01\x05"); });
  QElapsedTimer clock;
  clock.start();
  const auto reply = f.link.WaitReply(1, 2);
  const qint64 elapsed = clock.elapsed();
  QCOMPARE(reply.result, DeviceLink::WaitResult::Timeout);
  QVERIFY2(elapsed >= 2000, qPrintable(QString::number(elapsed)));
  QVERIFY(!f.link.Aborted());
}

void TestDeviceLink::abortEndsTheWait()
{
  FakeLink f;
  QTimer::singleShot(20, &f.link, [&] { f.link.AbortWaits(); });
  QCOMPARE(f.link.WaitReply(1, 30).result, DeviceLink::WaitResult::Aborted);
  QVERIFY(f.link.Aborted());

  // Stays aborted until cleared...
  QCOMPARE(f.link.WaitReply(1, 1).result, DeviceLink::WaitResult::Aborted);
  QVERIFY(!f.link.WaitForBytes());
  f.link.ClearAbort();
  f.port->feedReceived(FrameBytes(1));
  QCOMPARE(f.link.WaitReply(1, 1).result, DeviceLink::WaitResult::Reply);

  // ...and a wait started inside another wait is ended together with it.
  DeviceLink::WaitResult inner = DeviceLink::WaitResult::Reply;
  QTimer::singleShot(10, &f.link, [&] {
    QTimer::singleShot(10, &f.link, [&] { f.link.AbortWaits(); });
    inner = f.link.WaitReply(3, 30).result;
  });
  QCOMPARE(f.link.WaitReply(1, 30).result, DeviceLink::WaitResult::Aborted);
  QCOMPARE(inner, DeviceLink::WaitResult::Aborted);
}

void TestDeviceLink::lostDeviceEndsTheWait()
{
  FakeLink f;
  QTimer::singleShot(20, f.port, [&] { f.port->simulateDeviceLost(); });
  QCOMPARE(f.link.WaitReply(1, 30).result, DeviceLink::WaitResult::Aborted);
  QVERIFY(!f.link.Aborted()); // a lost device is not a user abort
  QVERIFY(!f.port->IsOpen());
}

void TestDeviceLink::closedPortEndsTheWaitAtOnce()
{
  FakeLink f;
  f.port->Close();
  QCOMPARE(f.link.WaitReply(1, 30).result, DeviceLink::WaitResult::Aborted);
}

void TestDeviceLink::waitForBytes()
{
  FakeLink f;
  QTimer::singleShot(20, f.port, [&] { f.port->feedReceived("\xAA"); });
  QVERIFY(f.link.WaitForBytes());
  QVERIFY(f.link.WaitForBytes()); // the byte is still waiting: no sleep
  QVERIFY(!f.link.ReadFrame());
  QCOMPARE(f.link.Rx().Count, 1);

  QTimer::singleShot(20, &f.link, [&] { f.link.AbortWaits(); });
  QVERIFY(!f.link.WaitForBytes());
  f.link.ClearAbort();

  QTimer::singleShot(20, f.port, [&] { f.port->simulateDeviceLost(); });
  QVERIFY(!f.link.WaitForBytes());
  QVERIFY(!f.link.WaitForBytes());
}

void TestDeviceLink::writeFollowsThePort()
{
  FakeLink f;
  const QByteArray leave = FrameBytes(2);
  QVERIFY(f.link.Write({reinterpret_cast<const std::uint8_t*>(leave.constData()), 6}));
  QCOMPARE(f.port->written(), QByteArray::fromHex("AA020600B2BB"));

  f.port->failWrites(true);
  QVERIFY(!f.link.Write({reinterpret_cast<const std::uint8_t*>(leave.constData()), 6}));
  f.port->failWrites(false);
  f.port->Close();
  QVERIFY(!f.link.Write({reinterpret_cast<const std::uint8_t*>(leave.constData()), 6}));
  QCOMPARE(f.port->writtenFrames().size(), 1);
}

#ifdef Q_OS_LINUX
namespace {
// A pseudo-terminal pair; the program's port opens the slave by path.
struct Pty {
  int master = -1;
  QString slavePath;
  Pty()
  {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
      ::close(slave);
      slavePath = QString::fromLocal8Bit(name);
    }
  }
  ~Pty()
  {
    if (master >= 0)
      ::close(master);
  }
};
} // namespace

void TestDeviceLink::ptyOpensConfiguresAndCarriesBytes()
{
  Pty pty;
  QVERIFY(pty.master >= 0);
  auto* port = new QtSerialPortLink;
  DeviceLink link{std::unique_ptr<SerialPort>(port)};
  // "pts/N" is a bare name under /dev, like ttyUSB0.
  const QString bare = pty.slavePath.mid(QStringLiteral("/dev/").size());
  for (const QString& name : {pty.slavePath, bare}) {
    const OpenResult opened = port->Open({name, 115200, 8, 0, 0});
    QVERIFY2(opened.ok(), qPrintable(name));
    QVERIFY(port->IsOpen());
    QCOMPARE(port->Open({name, 115200, 8, 0, 0}).kind, OpenResult::Kind::OpenFailed);
    QVERIFY(port->IsOpen()); // the refused second open left the first alone

    const QByteArray answer = FrameBytes(1, "V2.01");
    QTimer::singleShot(20, port, [&] { QCOMPARE(::write(pty.master, answer.constData(), answer.size()), answer.size()); });
    const auto reply = link.WaitReply(1, 2);
    QCOMPARE(reply.result, DeviceLink::WaitResult::Reply);
    QCOMPARE(PayloadOf(reply.frame), QByteArray("V2.01"));

    const QByteArray request = FrameBytes(3);
    QVERIFY(link.Write({reinterpret_cast<const std::uint8_t*>(request.constData()), 6}));
    char got[16] = {};
    QCOMPARE(::read(pty.master, got, sizeof got), 6);
    QCOMPARE(QByteArray(got, 6), request);
    port->Close();
    QVERIFY(!port->IsOpen());
  }
}

void TestDeviceLink::ptyRefusesWhatItCannotDo_data()
{
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

void TestDeviceLink::ptyRefusesWhatItCannotDo()
{
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

void TestDeviceLink::missingDeviceFailsToOpen()
{
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
