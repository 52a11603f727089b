// Direct tests of dtu-sim over its pseudo-terminal: the test plays the PC.

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include "params/factory_set.h"
#include "support/dtu_sim_process.h"

namespace {

QByteArray Frame(quint8 cmd, const QByteArray& payload = {}) {
  const int length = payload.size() + 6;
  QByteArray f;
  f.append(char(0xAA)).append(char(cmd)).append(char(length & 0xFF)).append(char(length >> 8));
  f.append(payload);
  quint8 sum = 0;
  for (char c : f)
    sum = quint8(sum + quint8(c));
  return f.append(char(sum)).append(char(0xBB));
}

QByteArray Hex(const char* text) { return QByteArray::fromHex(text); }

QByteArray ChunkAnswer(quint32 offset, const QByteArray& data) {
  QByteArray p(6, 0);
  qToLittleEndian<quint32>(offset, p.data());
  qToLittleEndian<quint16>(quint16(data.size()), p.data() + 4);
  return Frame(0xE2, p + data);
}

QByteArray DownloadStart(const QByteArray& name, const QByteArray& version, quint32 length,
                         quint16 sum) {
  QByteArray p(28, 0);
  p.replace(0, name.size(), name);
  p.replace(13, version.size(), version);
  qToLittleEndian<quint32>(length, p.data() + 22);
  qToLittleEndian<quint16>(sum, p.data() + 26);
  return Frame(0xE1, p);
}

quint16 Sum16Of(const QByteArray& bytes) {
  quint16 s = 0;
  for (char c : bytes)
    s = quint16(s + quint8(c));
  return s;
}

// The PC end: a serial port on the simulator's pty with a frame finder that
// follows the tool's rules (skip noise, check length, code, checksum, end).
class PcEnd {
public:
  bool open(const QString& path) {
    port.setPortName(path);
    port.setBaudRate(115200);
    return port.open(QIODevice::ReadWrite);
  }
  void send(const QByteArray& bytes) {
    port.write(bytes);
    port.flush();
  }
  // The next valid frame within ms, noise skipped; empty when none came.
  QByteArray nextFrame(int ms = 2000) {
    const QDeadlineTimer deadline(ms);
    for (;;) {
      take();
      const QByteArray f = extract();
      if (!f.isEmpty() || deadline.hasExpired())
        return f;
      QSignalSpy spy(&port, &QSerialPort::readyRead);
      if (!spy.wait(int(qMax<qint64>(1, deadline.remainingTime())))) {
        take();
        return extract();
      }
    }
  }
  int rawReceived = 0;
  QSerialPort port;

private:
  void take() {
    const QByteArray got = port.readAll();
    rawReceived += got.size();
    pending += got;
  }
  QByteArray extract() {
    while (pending.size() >= 6) {
      const auto* p = reinterpret_cast<const quint8*>(pending.constData());
      const int length = p[2] | (p[3] << 8);
      const bool codeOk = (p[1] >= 1 && p[1] <= 8) || (p[1] >= 0xE1 && p[1] <= 0xE4);
      if (p[0] != 0xAA || length < 6 || length > 1500 || !codeOk) {
        pending.remove(0, 1);
        continue;
      }
      if (pending.size() < length)
        return {};
      const QByteArray f = pending.left(length);
      if (f != Frame(p[1], f.mid(4, length - 6))) { // checksum or end byte wrong
        pending.remove(0, 1);
        continue;
      }
      pending.remove(0, length);
      return f;
    }
    return {};
  }
  QByteArray pending;
};

const QByteArray kSwitch("######");
const QByteArray kVersionAnswer = Hex("AA010E0056322E3031000000D0BB");

} // namespace

class TestDtuSim : public QObject {
  Q_OBJECT

private:
  // Starts a simulator and a connected PC end in configuration mode.
  bool connectTo(DtuSimProcess& sim, PcEnd& pc, const QStringList& args = {},
                 const QString& state = {}) {
    if (!sim.start(args, state)) {
      qWarning() << sim.errorString();
      return false;
    }
    if (!pc.open(sim.devicePath()))
      return false;
    pc.send(kSwitch);
    return pc.nextFrame().startsWith(Hex("AA01"));
  }

private slots:
  void switchCommand_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("answer"); // empty: none expected

    QTest::newRow("factory switch") << QStringList{} << kSwitch << kVersionAnswer;
    QTest::newRow("after line noise") << QStringList{} << QByteArray("xx\xAA\x01#######") << kVersionAnswer;
    QTest::newRow("own version, 8 characters")
        << QStringList{"--version", "ABCDEFGH"} << kSwitch << Frame(1, "ABCDEFGH");
    QTest::newRow("short version") << QStringList{"--short", "1"} << kSwitch << Frame(1, "V2.");
    QTest::newRow("wrong switch") << QStringList{} << QByteArray("#####!") << QByteArray();
    QTest::newRow("silent") << QStringList{"--silent", "1"} << kSwitch << QByteArray();
    QTest::newRow("bad checksum") << QStringList{"--bad-checksum", "1"} << kSwitch << QByteArray();
  }
  void switchCommand() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, answer);
    DtuSimProcess sim;
    QVERIFY2(sim.start(args), qPrintable(sim.errorString()));
    PcEnd pc;
    QVERIFY(pc.open(sim.devicePath()));
    pc.send(sent);
    QCOMPARE(pc.nextFrame(answer.isEmpty() ? 500 : 2000).toHex(' '), answer.toHex(' '));
  }

  // A tool closed without command 2 comes back with the switch command while
  // the device is still in configuration mode; switch bytes inside a frame
  // (the record's own switch_cmd field) are not a switch command.
  void switchInConfigurationMode() {
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc));
    pc.send(kSwitch);
    QCOMPARE(pc.nextFrame(), kVersionAnswer);

    pc.send(Frame(3));
    const QByteArray record = pc.nextFrame().mid(4, 693);
    QCOMPARE(record.mid(607, 6), kSwitch);
    pc.send(Frame(4, record));
    QCOMPARE(pc.nextFrame(), Frame(4, QByteArray(1, 1)));
    QVERIFY(pc.nextFrame(400).isEmpty());

    // A tool that died mid-frame: the stale header is given up, then the
    // switch command is seen.
    pc.send(Hex("AA034000") + kSwitch);
    QCOMPARE(pc.nextFrame(), kVersionAnswer);
  }

  void readsFactoryRecordAndProductInfo() {
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc));

    pc.send(Hex("AA030600B3BB"));
    const QByteArray answer = pc.nextFrame();
    QCOMPARE(answer.size(), 699);
    QCOMPARE(answer.left(4), Hex("AA03BB02"));
    const QByteArray rec = answer.mid(4, 693);
    QCOMPARE(rec.mid(0, 4), Hex("00E10000"));   // 57600 baud
    QCOMPARE(rec.at(12), char(2));              // debug information
    QCOMPARE(rec.mid(13, 6), QByteArray("cmnet\0", 6));
    QCOMPARE(rec.mid(350, 2), Hex("39C7"));     // port1 51001
    QCOMPARE(rec.at(352), char(1));             // UDP
    QCOMPARE(rec.mid(286, 64), QByteArray(kFactoryHostname1).leftJustified(64, '\0'));
    QCOMPARE(rec.mid(607, 6), kSwitch);
    QCOMPARE(rec.mid(619, 64), QByteArray(kFactoryMasterHost).leftJustified(64, '\0'));
    QCOMPARE(rec.at(690), char(1));             // timed

    pc.send(Hex("AA070600B7BB"));
    const QByteArray info = pc.nextFrame();
    QCOMPARE(info.size(), 55);
    const QByteArray p = info.mid(4, 49);
    QCOMPARE(p.mid(0, 4), QByteArray("DTU1"));
    QCOMPARE(p.mid(4, 12).size(), 12);
    QVERIFY(!p.mid(4, 12).contains('\0'));
    QCOMPARE(p.mid(16, 4), QByteArray("232\0", 4));
    QCOMPARE(p.mid(33, 16).size(), 16);
    QVERIFY(!p.mid(33, 16).contains('\0'));
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

    pc.send(Frame(4, rec));
    QCOMPARE(pc.nextFrame().toHex(), Frame(4, QByteArray(1, 1)).toHex());
    QCOMPARE(sim.stateRecord(), rec);

    pc.send(Hex("AA020600B2BB"));
    pc.send(kSwitch);
    QVERIFY(pc.nextFrame(500).isEmpty());
    pc.send("$$$$$$");
    QCOMPARE(pc.nextFrame(), kVersionAnswer);

    pc.port.close();
    const QString state = sim.stateDir();
    sim.stop();
    QVERIFY(sim.start({}, state));
    QVERIFY(pc.open(sim.devicePath()));
    pc.send("$$$$$$");
    QCOMPARE(pc.nextFrame(), kVersionAnswer);
    pc.send(Frame(3));
    QCOMPARE(pc.nextFrame().mid(4, 693), rec);
  }

  void refusedWrites_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("recordSize");
    QTest::newRow("--refuse-writes") << QStringList{"--refuse-writes"} << 693;
    QTest::newRow("record too short") << QStringList{} << 100;
    QTest::newRow("record too long") << QStringList{} << 694;
  }
  void refusedWrites() {
    QFETCH(QStringList, args);
    QFETCH(int, recordSize);
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc, args));
    pc.send(Frame(4, QByteArray(recordSize, '\x11')));
    QCOMPARE(pc.nextFrame().toHex(), Frame(4, QByteArray(1, 0)).toHex());
    QVERIFY(sim.stateRecord().isEmpty());
    pc.send(Frame(3));
    QCOMPARE(pc.nextFrame().mid(4 + 607, 6), kSwitch); // factory record still there
  }

  void answerFaults_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("frameLength"); // 0: no valid frame
    QTest::addColumn<int>("rawAtLeast");  // bytes that must arrive all the same

    QTest::newRow("silent 3") << QStringList{"--silent", "3"} << 3 << 0 << 0;
    QTest::newRow("silent 7") << QStringList{"--silent", "7"} << 7 << 0 << 0;
    QTest::newRow("bad checksum 3") << QStringList{"--bad-checksum", "3"} << 3 << 0 << 699;
    QTest::newRow("short 3") << QStringList{"--short", "3"} << 3 << 106 << 106;
    QTest::newRow("short 7") << QStringList{"--short", "7"} << 7 << 26 << 26;
    QTest::newRow("garbage") << QStringList{"--garbage"} << 3 << 699 << 700;
    QTest::newRow("split pause") << QStringList{"--split-pause", "150"} << 7 << 55 << 55;
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
    pc.send(Frame(quint8(command)));
    const QByteArray f = pc.nextFrame(frameLength ? 2000 : 700);
    QCOMPARE(f.size(), frameLength);
    if (frameLength)
      QCOMPARE(quint8(f.at(1)), quint8(command));
    QVERIFY2(pc.rawReceived >= rawAtLeast, qPrintable(QString::number(pc.rawReceived)));
  }

  void download_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("bodySize");
    QTest::addColumn<int>("sumError");
    QTest::addColumn<QString>("requests"); // offset/count, in order
    QTest::addColumn<int>("end");

    QTest::newRow("three pieces") << QStringList{} << 2500 << 0
                                  << QString("0/1024 1024/1024 2048/452") << 0xE3;
    QTest::newRow("wrong sum") << QStringList{"--chunk", "1000"} << 1500 << 1
                               << QString("0/1000 1000/500") << 0xE4;
    QTest::newRow("repeat piece") << QStringList{"--chunk", "100", "--repeat-chunk"} << 250 << 0
                                  << QString("0/100 0/100 100/100 200/50") << 0xE3;
    QTest::newRow("beyond the end") << QStringList{"--request-beyond", "--chunk", "200"} << 300 << 0
                                    << QString("0/200 200/100 300/200 400/200") << 0xE3;
    QTest::newRow("end fail") << QStringList{"--end-fail"} << 10 << 0 << QString("0/10") << 0xE4;
    QTest::newRow("stray frame") << QStringList{"--noise-frame", "--chunk", "64"} << 100 << 0
                                 << QString("0/64 64/36") << 0xE3;
    QTest::newRow("empty image") << QStringList{} << 0 << 0 << QString("") << 0xE3;
  }
  void download() {
    QFETCH(QStringList, args);
    QFETCH(int, bodySize);
    QFETCH(int, sumError);
    QFETCH(QString, requests);
    QFETCH(int, end);
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc, args));

    QByteArray body(bodySize, '\0');
    for (int i = 0; i < bodySize; ++i)
      body[i] = char((i * 7 + i / 256) & 0xFF);
    pc.send(DownloadStart("fw", "V3.00", quint32(body.size()), quint16(Sum16Of(body) + sumError)));

    QStringList asked;
    int endCommand = 0;
    int strayFrames = 0;
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
        QCOMPARE(cmd, quint8(3));
        ++strayFrames;
      }
    }
    QCOMPARE(asked.join(' '), requests);
    QCOMPARE(endCommand, end);
    QCOMPARE(strayFrames, args.contains("--noise-frame") ? 1 : 0);
    QCOMPARE(sim.stateImage(), end == 0xE3 ? body : QByteArray());
  }

  // Missing and wrong answers are asked for again after the time-out, and a
  // piece that never comes ends the download with 0xE4.
  void chunkRetries() {
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc, {"--chunk-timeout", "150", "--max-retries", "3"}));
    const QByteArray body(40, 'x');
    pc.send(DownloadStart("fw", "V1", 40, Sum16Of(body)));
    const QByteArray request = Frame(0xE2, Hex("000000002800"));
    QCOMPARE(pc.nextFrame(), request);
    QCOMPARE(pc.nextFrame(), request);                  // unanswered: asked again
    pc.send(ChunkAnswer(0, body.left(39)));              // wrong count: ignored
    QCOMPARE(pc.nextFrame(), request);
    QCOMPARE(pc.nextFrame(), Hex("AAE4060094BB")); // retries used up
    QVERIFY(sim.stateImage().isEmpty());
  }

  void dropAfterClosesTheDevice() {
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc, {"--drop-after", "2"}));
    pc.send(Frame(7));
    QCOMPARE(pc.nextFrame().size(), 55);
    QSignalSpy finished(&sim.process(), &QProcess::finished);
    pc.send(Frame(3));
    QVERIFY(finished.wait(3000));
    QCOMPARE(sim.process().exitCode(), 0);
    QVERIFY(pc.nextFrame(300).isEmpty());
    QVERIFY(sim.logText().contains("EV unplugged after 2 frames"));
  }

  void logShowsExactBytes() {
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc));
    pc.send(Hex("AA020600B2BB"));
    QTRY_VERIFY(sim.logText().contains("RX frame AA 02 06 00 B2 BB\n"));
    const QByteArray log = sim.logText();
    QVERIFY(log.contains("RX switch 23 23 23 23 23 23\n"));
    QVERIFY(log.contains("TX frame AA 01 0E 00 56 32 2E 30 31 00 00 00 D0 BB\n"));
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

  // Random bytes in both modes neither kill the device nor leave it deaf.
  void survivesRandomInput() {
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc));
    QRandomGenerator rng(20240601);
    for (int round = 0; round < 2; ++round) {
      for (int i = 0; i < 40; ++i) {
        QByteArray junk(512, '\0');
        for (char& c : junk)
          c = char(rng.bounded(256));
        if (i % 5 == 0)
          junk[int(rng.bounded(500))] = char(0xAA);
        pc.send(junk);
      }
      pc.send(Hex("AA020600B2BB")); // leave configuration mode if still in it
      while (!pc.nextFrame(400).isEmpty()) {
      }
    }
    QVERIFY(sim.isRunning());
    pc.send(kSwitch);
    QDeadlineTimer deadline(3000);
    QByteArray f;
    while (!deadline.hasExpired() && !f.startsWith(Hex("AA01")))
      f = pc.nextFrame(int(deadline.remainingTime()));
    QCOMPARE(f, kVersionAnswer);
  }

  // --pace moves bytes at baud / 10 per second: a 699-byte answer at 9600 baud
  // cannot arrive in much less than 0.73 s. (A check that pacing exists, not a
  // speed goal.)
  void paceSpreadsBytesOverWireTime() {
    DtuSimProcess sim;
    PcEnd pc;
    QVERIFY(connectTo(sim, pc, {"--pace", "--baud", "9600"}));
    QElapsedTimer t;
    t.start();
    pc.send(Frame(3));
    QCOMPARE(pc.nextFrame(3000).size(), 699);
    QVERIFY2(t.elapsed() >= 600, qPrintable(QString::number(t.elapsed())));
  }
};

QTEST_GUILESS_MAIN(TestDtuSim)
#include "test_dtu_sim.moc"
