// Direct tests of dtu-sim over its pseudo-terminal, the test playing the PC:
// what the end-to-end tests (test_connect, test_param_exchange, test_firmware,
// test_factory_defaults) cannot see through the window. The device's memory,
// the bytes its fault options really send, its checks of what the PC sends,
// and its robustness.

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <algorithm>

#include "firmware/firmware_image.h"
#include "link/rx_buffer.h"
#include "support/bytes.h"
#include "support/dtu_sim_process.h"
#include "support/records.h"

namespace {

QByteArray Hex(const char* text) { return QByteArray::fromHex(text); }

QByteArray ChunkAnswer(quint32 offset, const QByteArray& data) {
  QByteArray p(6, 0);
  qToLittleEndian<quint32>(offset, p.data());
  qToLittleEndian<quint16>(quint16(data.size()), p.data() + 4);
  return FrameBytes(0xE2, p + data);
}

QByteArray DownloadStart(const QByteArray& name, const QByteArray& version, quint32 length,
                         quint16 sum) {
  QByteArray p(28, 0);
  p.replace(0, name.size(), name);
  p.replace(13, version.size(), version);
  qToLittleEndian<quint32>(length, p.data() + 22);
  qToLittleEndian<quint16>(sum, p.data() + 26);
  return FrameBytes(0xE1, p);
}

quint16 Sum16Of(const QByteArray& bytes) {
  return Sum16(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size()));
}

// The PC end: a serial port on the simulator's pty, its frames found by the
// tool's own receive parser.
class PcEnd : public RxSource {
public:
  // The simulator hears only a PC at its own speed.
  bool open(const QString& path, qint32 baud = 115200) {
    port.setPortName(path);
    return port.open(QIODevice::ReadWrite) && port.setBaudRate(baud);
  }
  void send(const QByteArray& bytes) {
    port.write(bytes);
    port.flush();
  }
  // The next valid frame within ms, noise skipped; empty when none came.
  QByteArray nextFrame(int ms = 2000) {
    const QDeadlineTimer deadline(ms);
    for (;;) {
      if (const auto f = ReadFrame(rx_, *this)) return ToBytes(f->whole());
      if (deadline.hasExpired()) return {};
      QSignalSpy spy(&port, &QSerialPort::readyRead);
      spy.wait(int(qMax<qint64>(1, deadline.remainingTime())));
    }
  }
  // Reads until at least n bytes have come since rawReceived was last set to
  // 0, for at most ms; the valid frames among them.
  QList<QByteArray> framesInFirst(int n, int ms = 5000) {
    QList<QByteArray> frames;
    const QDeadlineTimer deadline(ms);
    for (;;) {
      if (const auto f = ReadFrame(rx_, *this)) {
        frames << ToBytes(f->whole());
        continue;
      }
      if (rawReceived >= n || deadline.hasExpired()) return frames;
      QSignalSpy spy(&port, &QSerialPort::readyRead);
      if (port.bytesAvailable() == 0) spy.wait(int(qMax<qint64>(1, deadline.remainingTime())));
    }
  }
  // Asks for the product information, which the simulator always answers;
  // true when its answer is the next frame: nothing was sent in between.
  bool nothingBeforeNextAnswer() {
    send(FrameBytes(7));
    const QByteArray f = nextFrame();
    if (f.size() < 2 || quint8(f.at(1)) != 7) {
      qWarning() << "the next frame is" << f.toHex(' ');
      return false;
    }
    return true;
  }
  std::uint16_t RxBytesWaiting() override {
    return std::uint16_t(qMin<qint64>(port.bytesAvailable(), 0xFFFF));
  }
  std::uint16_t ReadPort(std::uint8_t* dest, std::uint16_t n) override {
    const qint64 got = port.read(reinterpret_cast<char*>(dest), n);
    rawReceived += int(qMax<qint64>(got, 0));
    return std::uint16_t(qMax<qint64>(got, 0));
  }

  int rawReceived = 0;
  QSerialPort port;

private:
  TRxBuffer rx_;
};

const QByteArray kSwitch("######");
const QByteArray kVersionAnswer = Hex("AA010E0056322E3031000000D0BB");

} // namespace

class TestDtuSim : public QObject {
  Q_OBJECT

private:
  // Starts a simulator and a connected PC end in configuration mode.
  bool connectTo(DtuSimProcess& sim, PcEnd& pc, const QStringList& args = {}) {
    if (!sim.start(args)) {
      qWarning() << sim.errorString();
      return false;
    }
    const qsizetype baudAt = args.indexOf(QStringLiteral("--baud"));
    if (!pc.open(sim.devicePath(), baudAt >= 0 ? args.value(baudAt + 1).toInt() : 115200))
      return false;
    pc.send(kSwitch);
    return pc.nextFrame().startsWith(Hex("AA01"));
  }

private slots:
  // A strict unit (the default) takes a switch command in configuration mode
  // for noise: a tool closed without command 2 must send it first.
  void switchInConfigurationModeIsNoise() {
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc));
    pc.send(kSwitch);
    QCOMPARE(pc.nextFrame(300), QByteArray());
    pc.send(FrameBytes(2) + kSwitch);
    QCOMPARE(pc.nextFrame(), kVersionAnswer);
  }

  // With --switch-in-config, a tool closed without command 2 comes back with
  // the switch command while the device is still in configuration mode;
  // switch bytes inside a frame (the record's own switch_cmd field) are not a
  // switch command.
  void switchInConfigurationMode() {
    DtuSimProcess sim;
    QVERIFY2(sim.start({"--switch-in-config"}), qPrintable(sim.errorString()));
    PcEnd pc;
    QVERIFY(pc.open(sim.devicePath()));
    pc.send(QByteArray("xx\xAA\x01#######")); // line noise first
    QCOMPARE(pc.nextFrame(), kVersionAnswer);
    pc.send(kSwitch);
    QCOMPARE(pc.nextFrame(), kVersionAnswer);

    pc.send(FrameBytes(3));
    const QByteArray record = pc.nextFrame().mid(4, 693);
    QCOMPARE(record, RecordBytes(FactoryRecord())); // without --record: the factory set
    pc.send(FrameBytes(4, record));
    QCOMPARE(pc.nextFrame(), FrameBytes(4, QByteArray(1, 1)));
    QVERIFY(pc.nothingBeforeNextAnswer());

    // A tool that died mid-frame: the stale header is given up, then the
    // switch command is seen.
    pc.send(Hex("AA034000") + kSwitch);
    QCOMPARE(pc.nextFrame(), kVersionAnswer);
  }

  // A written record is stored, answers later reads, survives a restart, and
  // its switch command is the one the device listens for from then on.
  void writtenRecordIsKept() {
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc));
    QByteArray rec(693, '\0');
    rec.replace(607, 6, "$$$$$$");
    rec.replace(350, 2, Hex("499C"));
    rec[692] = char(0x7F);

    pc.send(FrameBytes(4, rec));
    QCOMPARE(pc.nextFrame().toHex(), FrameBytes(4, QByteArray(1, 1)).toHex());
    QCOMPARE(sim.stateRecord(), rec);

    pc.send(Hex("AA020600B2BB"));
    pc.send(kSwitch);
    pc.send("$$$$$$");
    QCOMPARE(pc.nextFrame(), kVersionAnswer);
    // The old command is no longer taken: one answer, to the new one.
    QVERIFY(pc.nothingBeforeNextAnswer());
    QCOMPARE(sim.logged("RX switch"), kSwitch + "$$$$$$");

    pc.port.close();
    const QString state = sim.stateDir();
    sim.stop();
    QVERIFY(sim.start({}, state));
    QVERIFY(pc.open(sim.devicePath()));
    pc.send("$$$$$$");
    QCOMPARE(pc.nextFrame(), kVersionAnswer);
    pc.send(FrameBytes(3));
    QCOMPARE(pc.nextFrame().mid(4, 693), rec);
  }

  void refusedWrites_data() {
    QTest::addColumn<int>("recordSize");
    QTest::newRow("record too short") << 100;
    QTest::newRow("record too long") << 694;
  }
  void refusedWrites() {
    QFETCH(int, recordSize);
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc));
    pc.send(FrameBytes(4, QByteArray(recordSize, '\x11')));
    QCOMPARE(pc.nextFrame().toHex(), FrameBytes(4, QByteArray(1, 0)).toHex());
    QVERIFY(sim.stateRecord().isEmpty());
    pc.send(FrameBytes(3));
    QCOMPARE(pc.nextFrame().mid(4 + 607, 6), kSwitch); // factory record still there
  }

  void answerFaults_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("frameLength"); // 0: no valid frame
    QTest::addColumn<int>("rawAtLeast");  // bytes that must arrive all the same

    QTest::newRow("bad checksum 3") << QStringList{"--bad-checksum", "3"} << 3 << 0 << 699;
    QTest::newRow("short 3") << QStringList{"--short", "3"} << 3 << 106 << 106;
    QTest::newRow("garbage") << QStringList{"--garbage"} << 3 << 699 << 700;
  }
  void answerFaults() {
    QFETCH(QStringList, args);
    QFETCH(int, command);
    QFETCH(int, frameLength);
    QFETCH(int, rawAtLeast);
    DtuSimProcess sim;
    PcEnd pc;
    // With --bad-checksum 3 the switch answer is still good.
    QVERIFY(connectTo(sim, pc, args));
    pc.rawReceived = 0;
    pc.send(FrameBytes(quint8(command)));
    if (frameLength) {
      const QByteArray f = pc.nextFrame();
      QCOMPARE(f.size(), frameLength);
      QCOMPARE(quint8(f.at(1)), quint8(command));
    } else {
      // The answer's bytes arrive, no frame among them, and none after them.
      QCOMPARE(pc.framesInFirst(rawAtLeast), QList<QByteArray>());
      QVERIFY(pc.nothingBeforeNextAnswer());
    }
    QVERIFY2(pc.rawReceived >= rawAtLeast, qPrintable(QString::number(pc.rawReceived)));
  }

  void download_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("bodySize");
    QTest::addColumn<int>("sumError");
    QTest::addColumn<QString>("requests"); // offset/count, in order
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("answersSwitchAfter"); // without command 2 first

    // The tool always sends the right sum and a body: only here can the
    // device be seen to check them.
    QTest::newRow("wrong sum") << QStringList{"--chunk", "1000"} << 1500 << 1
                               << QString("0/1000 1000/500") << 0xE4 << false;
    // Verified, a strict unit stays in configuration mode; one that restarts
    // or a tolerant one answers the next switch command.
    QTest::newRow("empty image") << QStringList{} << 0 << 0 << QString("") << 0xE3 << false;
    QTest::newRow("restarts after it")
        << QStringList{"--restart-after-download"} << 0 << 0 << QString("") << 0xE3 << true;
    QTest::newRow("tolerant") << QStringList{"--switch-in-config"} << 0 << 0 << QString("") << 0xE3
                              << true;
  }
  void download() {
    QFETCH(QStringList, args);
    QFETCH(int, bodySize);
    QFETCH(int, sumError);
    QFETCH(QString, requests);
    QFETCH(int, end);
    QFETCH(bool, answersSwitchAfter);
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc, args));

    QByteArray body(bodySize, '\0');
    for (int i = 0; i < bodySize; ++i) body[i] = char((i * 7 + i / 256) & 0xFF);
    pc.send(DownloadStart("fw", "V3.00", quint32(body.size()), quint16(Sum16Of(body) + sumError)));

    QStringList asked;
    int endCommand = 0;
    while (endCommand == 0) {
      const QByteArray f = pc.nextFrame();
      QVERIFY2(!f.isEmpty(), qPrintable("no frame after " + asked.join(' ')));
      const quint8 cmd = quint8(f.at(1));
      if (cmd == 0xE2) {
        QCOMPARE(f.size(), 12);
        const quint32 offset = qFromLittleEndian<quint32>(f.constData() + 4);
        const quint16 count = qFromLittleEndian<quint16>(f.constData() + 8);
        asked << QStringLiteral("%1/%2").arg(offset).arg(count);
        const qint64 c = qBound<qint64>(0, qint64(body.size()) - offset, count);
        pc.send(ChunkAnswer(offset, body.mid(int(qMin<qint64>(offset, body.size())), int(c))));
      } else if (cmd == 0xE3 || cmd == 0xE4) {
        QCOMPARE(f.size(), 6);
        endCommand = cmd;
      } else {
        QFAIL(qPrintable("unexpected frame " + f.toHex(' ')));
      }
    }
    QCOMPARE(asked.join(' '), requests);
    QCOMPARE(endCommand, end);
    QCOMPARE(sim.stateImage(), end == 0xE3 ? body : QByteArray());
    pc.send(kSwitch);
    QCOMPARE(pc.nextFrame(answersSwitchAfter ? 2000 : 300).isEmpty(), !answersSwitchAfter);
    if (!answersSwitchAfter) { // command 2 brings every unit back
      pc.send(FrameBytes(2) + kSwitch);
      QVERIFY(pc.nextFrame().startsWith(Hex("AA01")));
    }
  }

  // --silent-once: only the first request goes unanswered, as with a real
  // unit now and then; a lost write answer still stores the record.
  void firstAttemptFaults_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("answerLength");
    QByteArray rec(693, '\x2E');
    rec.replace(607, 6, "######");
    QTest::newRow("switch command") << "1" << kSwitch << 14;
    QTest::newRow("read") << "3" << FrameBytes(3) << 699;
    QTest::newRow("write") << "4" << FrameBytes(4, rec) << 7;
  }
  void firstAttemptFaults() {
    QFETCH(QString, command);
    QFETCH(QByteArray, request);
    QFETCH(int, answerLength);
    DtuSimProcess sim;
    PcEnd pc;
    if (command == QLatin1String("1")) {
      QVERIFY(sim.start({"--silent-once", command}));
      QVERIFY(pc.open(sim.devicePath()));
    } else {
      QVERIFY(connectTo(sim, pc, {"--silent-once", command}));
    }
    pc.rawReceived = 0;
    pc.send(request);
    // The device tells when it has left the request unanswered.
    QVERIFY(sim.waitForLog([&] { return sim.logText().contains("--silent-once)\n"); }));
    if (command == QLatin1String("4")) QCOMPARE(sim.stateRecord(), request.mid(4, 693));
    pc.send(request);
    QCOMPARE(pc.nextFrame().size(), answerLength);
    QCOMPARE(pc.rawReceived, answerLength); // nothing came before it
    QVERIFY(pc.nothingBeforeNextAnswer());  // nor after it
  }

  // The pty's settings are shared by both ends: a PC at other settings is
  // heard as noise and gets no answer (with --garbage, noise back); at the
  // unit's settings it is answered again.
  void lineSettingsMustMatch_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("pcBaud");
    QTest::addColumn<int>("pcStopBits");
    QTest::addColumn<bool>("answered");
    QTest::addColumn<bool>("noiseBack");
    QTest::newRow("other speed") << QStringList{} << 9600 << 1 << false << false;
    QTest::newRow("other speed, garbage")
        << QStringList{"--garbage"} << 57600 << 1 << false << true;
    QTest::newRow("other stop bits") << QStringList{} << 115200 << 2 << false << false;
    QTest::newRow("both 8N2 at 19200")
        << QStringList{"--baud", "19200", "--framing", "8N2"} << 19200 << 2 << true << false;
  }
  void lineSettingsMustMatch() {
    QFETCH(QStringList, args);
    QFETCH(int, pcBaud);
    QFETCH(int, pcStopBits);
    QFETCH(bool, answered);
    QFETCH(bool, noiseBack);
    DtuSimProcess sim;
    QVERIFY(sim.start(args));
    PcEnd pc;
    QVERIFY(pc.open(sim.devicePath(), pcBaud));
    QVERIFY(pc.port.setStopBits(pcStopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop));
    pc.send(kSwitch);
    if (answered) {
      QVERIFY(pc.nextFrame().startsWith(Hex("AA01")));
      QVERIFY(pc.rawReceived > 0);
      return;
    }
    // Once the device has heard the whole command as noise (and sent noise
    // back, where it should), everything it sent is what arrives.
    QVERIFY(sim.waitForLog([&] {
      return sim.logged("RX noise").size() >= kSwitch.size() &&
             (!noiseBack || sim.logged("TX noise").size() >= kSwitch.size());
    }));
    const QByteArray sent = sim.logged("TX noise") + sim.logged("TX frame");
    const QList<QByteArray> frames = pc.framesInFirst(int(sent.size()));
    QVERIFY(std::none_of(frames.cbegin(), frames.cend(),
                         [](const QByteArray& f) { return f.startsWith(Hex("AA01")); }));
    QCOMPARE(pc.rawReceived > 0, noiseBack);
    pc.port.close(); // the port's own settings come back
    PcEnd right;
    QVERIFY(right.open(sim.devicePath()));
    right.send(kSwitch);
    QCOMPARE(right.nextFrame(), kVersionAnswer);
  }

  void versionIsTheProgramsOwn() {
    QProcess p;
    p.start(QStringLiteral(K7V_DTU_SIM), {QStringLiteral("--version")});
    QVERIFY(p.waitForFinished(5000));
    QVERIFY(p.readAllStandardOutput().startsWith("dtu-sim 1."));
    QCOMPARE(p.exitCode(), 0);
  }

  // Missing and wrong answers are asked for again after the time-out, and a
  // piece that never comes ends the download with 0xE4.
  void chunkRetries() {
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc, {"--chunk-timeout", "50", "--max-retries", "3"}));
    const QByteArray body(40, 'x');
    pc.send(DownloadStart("fw", "V1", 40, Sum16Of(body)));
    const QByteArray request = FrameBytes(0xE2, Hex("000000002800"));
    QCOMPARE(pc.nextFrame(), request);
    QCOMPARE(pc.nextFrame(), request);      // unanswered: asked again
    pc.send(ChunkAnswer(0, body.left(39))); // wrong count: ignored
    QCOMPARE(pc.nextFrame(), request);
    QCOMPARE(pc.nextFrame(), Hex("AAE4060094BB")); // retries used up
    QVERIFY(sim.stateImage().isEmpty());
  }

  void linkNamesTheDevice() {
    QTemporaryDir dir;
    const QString link = dir.filePath("dtu0");
    QVERIFY(QFile::link("/nonexistent", link)); // an old link is replaced
    DtuSimProcess sim;
    QVERIFY(sim.start({"--link", link}));
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.devicePath());
    PcEnd pc;
    QVERIFY(pc.open(link));
    pc.send(kSwitch);
    QCOMPARE(pc.nextFrame(), kVersionAnswer);
    pc.port.close();
    sim.stop();
    QVERIFY(!QFileInfo(link).isSymLink());
  }

  // Random bytes in both modes neither kill the device nor leave it deaf (a
  // tolerant one, so the last switch command is heard whatever mode the junk
  // left it in).
  void survivesRandomInput() {
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc, {"--switch-in-config"}));
    QRandomGenerator rng(20240601);
    for (int round = 0; round < 2; ++round) {
      for (int i = 0; i < 40; ++i) {
        QByteArray junk(512, '\0');
        for (char& c : junk) c = char(rng.bounded(256));
        if (i % 5 == 0) junk[int(rng.bounded(500))] = char(0xAA);
        pc.send(junk);
      }
      pc.send(Hex("AA020600B2BB")); // leave configuration mode if still in it
    }
    pc.send(kSwitch);
    // Whatever the junk provoked comes first; the answer shows it was all taken in.
    QDeadlineTimer deadline(5000);
    QByteArray f;
    while (!deadline.hasExpired() && !f.startsWith(Hex("AA01")))
      f = pc.nextFrame(int(deadline.remainingTime()));
    QCOMPARE(f, kVersionAnswer);
    QVERIFY(sim.isRunning());
  }

  // --pace moves bytes at baud / 10 per second: a 699-byte answer at 38400
  // baud cannot arrive in much less than 0.18 s. (A check that pacing exists, not a
  // speed goal.)
  void paceSpreadsBytesOverWireTime() {
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc, {"--pace", "--baud", "38400"}));
    QElapsedTimer t;
    t.start();
    pc.send(FrameBytes(3));
    QCOMPARE(pc.nextFrame(3000).size(), 699);
    QVERIFY2(t.elapsed() >= 150, qPrintable(QString::number(t.elapsed())));
  }
};

QTEST_GUILESS_MAIN(TestDtuSim)
#include "test_dtu_sim.moc"
