// The firmware page and the download, through the main window: choosing image
// files (accepted and refused), and whole downloads against the simulated DTU
// on a pseudo-terminal.

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QtEndian>
#include <QtTest>

#include <functional>
#include <span>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include "app/file_dialogs.h"
#include "support/bytes.h"
#include "support/dtu_sim_process.h"
#include "support/window_fixture.h"

// The window's private parts that tests look at.
class TForm1Access {
public:
  static QByteArray image(TForm1& form, qsizetype n) {
    return QByteArray(reinterpret_cast<const char*>(form.firmwareImage_->data()), n);
  }
  static bool closed(TForm1& form) { return form.closed_; }
};

namespace {

QByteArray RandomBytes(qsizetype n, quint32 seed) {
  QByteArray bytes(n, Qt::Uninitialized);
  QRandomGenerator gen(seed);
  for (char& b : bytes) b = char(gen.bounded(256));
  return bytes;
}

// A refusal's reason as the red line gives it: the key's text, its values filled in.
QString Reason(const char* key, const QStringList& values) {
  QString text = WindowFixture::caption(key);
  for (qsizetype i = values.size(); i > 0; --i)
    text.replace(QStringLiteral("%%1").arg(i), values[i - 1]);
  return text;
}

// The 16-bit sum worked out here on its own.
int SumOf(const QByteArray& bytes) {
  unsigned sum = 0;
  for (char c : bytes) sum += std::uint8_t(c);
  return int(sum % 65536);
}

// An image file in the window's directory: 8 bytes of version, the body.
QString WriteImage(const WindowFixture& fx, const QString& name, const QByteArray& version,
                   const QByteArray& body) {
  const QString path = QDir(fx.dir()).filePath(name);
  if (!WriteFile(path, version.leftJustified(8, '\0', true) + body))
    qFatal("cannot write %s", qPrintable(path));
  return path;
}

struct Descriptor {
  QString path, name, version, length, checksum;
  bool operator==(const Descriptor&) const = default;
};

Descriptor ShownDescriptor(const WindowFixture& fx) {
  return {fx.get<QLineEdit>("edSelectfile")->text(), fx.get<QLineEdit>("edDlFilename")->text(),
          fx.get<QLineEdit>("edDlversion")->text(), fx.get<QLineEdit>("edDllength")->text(),
          fx.get<QLineEdit>("edDlchecksum")->text()};
}

char* toString(const Descriptor& d) {
  return QTest::toString(QStringList{d.path, d.name, d.version, d.length, d.checksum}.join(" | "));
}

void Choose(WindowFixture& fx, const QString& path) {
  fx.dialogAnswers.push_back(path);
  fx.click("SpeedButton35");
}

// Frames of one command code that the simulated DTU received.
QList<QByteArray> SimReceived(const DtuSimProcess& sim, std::uint8_t command) {
  QList<QByteArray> frames = sim.framesReceived();
  frames.removeIf(
      [&](const QByteArray& f) { return f.size() < 2 || std::uint8_t(f[1]) != command; });
  return frames;
}

// The log of a download from its start line: "pos:" lines for these offsets,
// then the end line.
QList<ExpectedLine> DownloadLog(const QString& path, const QList<int>& offsets,
                                const ExpectedLine& end) {
  QList<ExpectedLine> lines{Progress("start_download", path)};
  for (int o : offsets) lines.append({QStringLiteral("pos:%1").arg(o), kLogGreen, 10});
  return lines << end;
}

// What the window showed while a download ran, at every "pos:" line.
struct DownloadTrace {
  QList<int> progress;  // ProgressBar1
  bool lockedOk = true; // the panels and the file button disabled, hourglass shown, bStart stops
};

// Clicks bStart and returns when the download has ended. onFirstPos runs
// (from a zero timer, inside the download) once the first pos: line is there.
// A guard closes the window if the download never ends, so a fault fails the
// test instead of hanging it.
DownloadTrace RunDownload(WindowFixture& fx, const std::function<void()>& onFirstPos = {}) {
  DownloadTrace trace;
  QObject context;
  QTextDocument* doc = fx.get<QPlainTextEdit>("RichEdit1")->document();
  QPointer<QProgressBar> bar = fx.get<QProgressBar>("ProgressBar1");
  QList<QPointer<QWidget>> locked = {fx.get<QWidget>("SpeedButton35"), fx.get<QWidget>("Panel2"),
                                     fx.get<QWidget>("Panel4")};
  QPointer<QAbstractButton> stop = fx.get<QAbstractButton>("bStart");
  QPointer<TForm1> form = &fx.form();
  int seenBlocks = doc->blockCount();
  QObject::connect(doc, &QTextDocument::contentsChanged, &context, [&] {
    if (doc->blockCount() == seenBlocks) return;
    seenBlocks = doc->blockCount();
    if (!doc->lastBlock().text().startsWith(QLatin1String("pos:"))) return;
    trace.progress.append(bar ? bar->value() : -1);
    for (const auto& w : locked) trace.lockedOk &= w && !w->isEnabled();
    trace.lockedOk &= form && form->cursor().shape() == Qt::WaitCursor;
    trace.lockedOk &=
        stop && stop->isEnabled() && stop->text() == WindowFixture::caption("stop_download");
    // Sent out of the total, then (once anything went) the rate and the time left.
    static const QRegularExpression barText(
        QStringLiteral("^\\d+\\.\\d / \\d+\\.\\d KiB( · \\d+\\.\\d KiB/s · \\d+ s left)?$"));
    trace.lockedOk &= bar && barText.match(bar->text()).hasMatch();
    if (trace.progress.size() == 1 && onFirstPos) QTimer::singleShot(0, &context, onFirstPos);
  });
  QTimer::singleShot(60000, &context, [form] {
    qWarning("download did not end: closing the window");
    if (form) form->close();
  });
  fx.click("bStart");
  return trace;
}

bool PanelsEnabled(const WindowFixture& fx) {
  for (const char* name : {"Panel25", "Panel2", "Panel4"})
    if (!fx.get<QWidget>(name)->isEnabled()) return false;
  return true;
}

} // namespace

class TestFirmware : public QObject {
  Q_OBJECT

private slots:
  // ---------------------------------------------------------------- choosing a file
  void descriptorShown_data();
  void descriptorShown();
  void refusedFileKeepsEarlierImage_data();
  void refusedFileKeepsEarlierImage();
  void refusedFileWithoutEarlierImage();
  void cancelKeepsEarlierImage();

  // ---------------------------------------------------------------- download with the simulated DTU
  void fullImageArrivesWhole();
  void exchanges_data();
  void exchanges();
  void windowClosedDuringDownload_data() { AddCloseRows(); }
  void windowClosedDuringDownload();
  void deviceVanishesDuringDownload();
  void downloadEndings_data();
  void downloadEndings();
};

// ---------------------------------------------------------------- choosing a file

void TestFirmware::descriptorShown_data() {
  QTest::addColumn<QString>("fileName");
  QTest::addColumn<QByteArray>("body");
  QTest::addColumn<QString>("name");

  // Names, versions and sums of other files: test_core_firmware.
  QTest::newRow("1,032-byte file") << "dtu.new.bin" << RandomBytes(1024, 1) << "dtu.new";
  QTest::newRow("largest body") << "big.bin" << RandomBytes(102400, 2) << "big";
}

void TestFirmware::descriptorShown() {
  QFETCH(QString, fileName);
  QFETCH(QByteArray, body);
  QFETCH(QString, name);

  WindowFixture fx;
  const QString path = WriteImage(fx, fileName, "V2.1", body);
  fx.get<QProgressBar>("ProgressBar1")->setValue(100); // from an earlier download
  Choose(fx, path);
  QCOMPARE(fx.get<QProgressBar>("ProgressBar1")->value(), 0);

  const Descriptor expected{path, name, "V2.1", QString::number(body.size()),
                            QString::number(SumOf(body))};
  QCOMPARE(ShownDescriptor(fx), expected);
  QVERIFY(fx.form().ImageLoaded);
  QCOMPARE(TForm1Access::image(fx.form(), body.size()), body);
  QCOMPARE(fx.logSize(), 0); // a good file is taken silently
}

void TestFirmware::refusedFileKeepsEarlierImage_data() {
  QTest::addColumn<QString>("what"); // "file", "missing", "directory" or "fifo"
  QTest::addColumn<QByteArray>("content");
  QTest::addColumn<QString>("reason"); // as the red line gives it

  QTest::newRow("body one byte over 102,400")
      << "file" << QByteArray("V2\0\0\0\0\0\0", 8) + RandomBytes(102401, 3)
      << Reason("bin_too_large", {"102,401", "102,400"});
  QTest::newRow("body far over") << "file" << RandomBytes(300000, 8)
                                 << Reason("bin_too_large", {"299,992", "102,400"});
  QTest::newRow("8 bytes, no body")
      << "file" << QByteArray("V2.0\0\0\0\0", 8) << Reason("bin_no_body", {"8"});
  QTest::newRow("empty file") << "file" << QByteArray() << Reason("bin_no_body", {"0"});
  QTest::newRow("file that does not exist")
      << "missing" << QByteArray() << "cannot read: no such file";
  QTest::newRow("directory, not readable as a file")
      << "directory" << QByteArray() << "not a plain file: a directory";
#ifdef Q_OS_UNIX
  // Opening a FIFO for reading would wait for a writer that never comes.
  QTest::newRow("FIFO, refused without waiting") << "fifo" << QByteArray() << "not a plain file";
#endif
}

void TestFirmware::refusedFileKeepsEarlierImage() {
  QFETCH(QString, what);
  QFETCH(QByteArray, content);
  QFETCH(QString, reason);

  WindowFixture fx;
  const QByteArray body = RandomBytes(2000, 4);
  Choose(fx, WriteImage(fx, "good.bin", "V1.0", body));
  const Descriptor before = ShownDescriptor(fx);
  QCOMPARE(before.length, QStringLiteral("2000"));

  const QString bad = QDir(fx.dir()).filePath("other_image.bin");
  if (what == "file") QVERIFY(WriteFile(bad, content));
  if (what == "directory") QVERIFY(QDir(fx.dir()).mkdir("other_image.bin"));
#ifdef Q_OS_UNIX
  if (what == "fifo") QCOMPARE(::mkfifo(QFile::encodeName(bad).constData(), 0600), 0);
#endif
  const qsizetype linesBefore = fx.logSize();
  Choose(fx, bad);

  // The line names the refused file, why, and the image that stays.
  const ExpectedLine refused{WindowFixture::caption("bin_error") + QDir::toNativeSeparators(bad) +
                                 " (" + reason + "); " + WindowFixture::caption("bin_kept") +
                                 QDir::toNativeSeparators(before.path),
                             kLogRed, 10};
  QVERIFY(fx.logTailIs(linesBefore, {refused}));
  QCOMPARE(ShownDescriptor(fx), before); // name fields included
  QVERIFY(fx.form().ImageLoaded);
  QCOMPARE(TForm1Access::image(fx.form(), body.size()), body);
}

void TestFirmware::refusedFileWithoutEarlierImage() {
  WindowFixture fx;
  const QString path = WriteImage(fx, "empty.bin", "V1", {});
  Choose(fx, path);
  // Nothing was loaded before, so nothing is said to stay.
  const ExpectedLine refused{WindowFixture::caption("bin_error") + QDir::toNativeSeparators(path) +
                                 " (" + Reason("bin_no_body", {"8"}) + ")",
                             kLogRed, 10};
  QVERIFY(fx.logTailIs(0, {refused}));
  QCOMPARE(ShownDescriptor(fx), Descriptor{});
  QVERIFY(!fx.form().ImageLoaded); // so the download still refuses to start
}

void TestFirmware::cancelKeepsEarlierImage() {
  WindowFixture fx;
  const QByteArray body = RandomBytes(1500, 5);
  Choose(fx, WriteImage(fx, "good.bin", "V1.0", body));
  const Descriptor before = ShownDescriptor(fx);

  // The dialog offers *.bin files and completes a typed name with ".bin".
  QString filter, defaultExt;
  SetFileDialogHandler([&](const FileDialogSetup& setup) {
    filter = QString::fromLatin1(setup.filter);
    defaultExt = QString::fromLatin1(setup.defaultExt);
    return QString(); // cancelled
  });
  fx.click("SpeedButton35");
  QCOMPARE(filter, QStringLiteral("bin (*.bin)"));
  QCOMPARE(defaultExt, QStringLiteral("bin"));

  QCOMPARE(ShownDescriptor(fx), before);
  QVERIFY(fx.form().ImageLoaded);
  QCOMPARE(TForm1Access::image(fx.form(), body.size()), body);
  QCOMPARE(fx.logSize(), 0);
}

// ---------------------------------------------------------------- download with the simulated DTU

void TestFirmware::fullImageArrivesWhole() {
  DtuSimProcess sim;
  QVERIFY2(sim.start(), qPrintable(sim.errorString()));
  WindowFixture fx;
  QVERIFY(fx.connectTo(sim.devicePath()));

  // With nothing chosen the click only says so.
  qsizetype before = fx.logSize();
  fx.click("bStart");
  QVERIFY(fx.logTailIs(before, {Failure("select_bin")}));
  QVERIFY(fx.get<QWidget>("bStart")->isEnabled());
  QVERIFY(PanelsEnabled(fx));

  const QByteArray body = RandomBytes(100 * 1024, 7);
  const QString path = WriteImage(fx, "k7v_release_candidate_2.bin", "V1.2", body);
  Choose(fx, path);
  before = fx.logSize();
  const DownloadTrace trace = RunDownload(fx);

  QCOMPARE(sim.stateImage(), body);
  QList<int> offsets;
  for (int o = 0; o < body.size(); o += 1024) offsets.append(o);
  QList<ExpectedLine> expected = DownloadLog(path, offsets, Success("download_completed"));
  expected.insert(1, Progress("download_name_cut", QStringLiteral("k7v_release_c")));
  QVERIFY(fx.logTailIs(before, expected));
  QVERIFY(
      fx.get<QProgressBar>("ProgressBar1")->text().startsWith(QStringLiteral("100.0 / 100.0 KiB")));
  QCOMPARE(fx.get<QAbstractButton>("bStart")->text(), QStringLiteral("开始升级"));
  QCOMPARE(fx.get<QProgressBar>("ProgressBar1")->value(), 100);
  QVERIFY(trace.lockedOk);

  QVERIFY(fx.get<QWidget>("bStart")->isEnabled());
  QVERIFY(PanelsEnabled(fx));
  // A window keeps its own cursor attribute; its shape is what counts.
  QCOMPARE(fx.form().cursor().shape(), Qt::ArrowCursor);
  for (const char* name : {"pUpdate", "Panel25", "Panel2", "Panel4"})
    QVERIFY2(!fx.get<QWidget>(name)->testAttribute(Qt::WA_SetCursor), name);

  // One announcement (the refused click sent none): the name cut to 13
  // bytes, the four version characters followed by five zeros.
  const QList<QByteArray> starts = SimReceived(sim, 0xE1);
  QCOMPARE(starts.size(), 1);
  const QByteArray f = starts.first();
  QCOMPARE(f.size(), 34);
  QCOMPARE(f.mid(4, 13), QByteArray("k7v_release_c"));
  QCOMPARE(f.mid(17, 9), QByteArray("V1.2\0\0\0\0\0", 9));
  QCOMPARE(qFromLittleEndian<quint32>(f.constData() + 26), quint32(body.size()));
  QCOMPARE(int(qFromLittleEndian<quint16>(f.constData() + 30)), SumOf(body));
  QCOMPARE(fx.get<QLineEdit>("edDlFilename")->text(), QStringLiteral("k7v_release_candidate_2"));
}

void TestFirmware::exchanges_data() {
  QTest::addColumn<QStringList>("simArgs");
  QTest::addColumn<int>("bodySize");
  QTest::addColumn<QList<int>>("pos");         // offsets of the pos: lines
  QTest::addColumn<QList<int>>("answerSizes"); // chunk answers as the DTU received them
  QTest::addColumn<QList<int>>("progress");    // ProgressBar1 at each pos: line
  QTest::addColumn<bool>("completed");         // 0xE3 rather than 0xE4
  QTest::addColumn<QString>("simEvent");       // a line the DTU logged, if any

  const QStringList chunk1024 = {"--chunk", "1024"};
  QTest::newRow("1,500 bytes in 1,024-byte requests")
      << chunk1024 << 1500 << QList<int>{0, 1024} << QList<int>{1036, 488} << QList<int>{0, 68}
      << true << "download received length=1500";
  QTest::newRow("request repeated")
      << (chunk1024 + QStringList{"--repeat-chunk"}) << 1500 << QList<int>{0, 0, 1024}
      << QList<int>{1036, 1036, 488} << QList<int>{0, 0, 68} << true << "repeat piece at 0";
  QTest::newRow("requests at and beyond L")
      << (chunk1024 + QStringList{"--request-beyond"}) << 1500 << QList<int>{0, 1024, 1500, 1600}
      << QList<int>{1036, 488, 12, 12} << QList<int>{0, 68, 100, 100} << true
      << "beyond L: answered offset 1500 count 0 length 12";
  QTest::newRow("stray command 3 frame")
      << (chunk1024 + QStringList{"--noise-frame"}) << 1500 << QList<int>{0, 1024}
      << QList<int>{1036, 488} << QList<int>{0, 68} << true << "stray command 3 frame";
  QTest::newRow("image refused with 0xE4")
      << (chunk1024 + QStringList{"--end-fail"}) << 1500 << QList<int>{0, 1024}
      << QList<int>{1036, 488} << QList<int>{0, 68} << false << "download refused (--end-fail)";
  // Asked for more than one answer can carry: 1,089 bytes go, which this DTU
  // does not accept, so it gives up after its one try.
  QTest::newRow("request over 1,089 bytes")
      << QStringList{"--chunk", "4000", "--chunk-timeout", "100", "--max-retries", "1"} << 3000
      << QList<int>{0} << QList<int>{1101} << QList<int>{0} << false
      << "bad chunk answer: offset 0 count 1089 length 1101";
}

void TestFirmware::exchanges() {
  QFETCH(QStringList, simArgs);
  QFETCH(int, bodySize);
  QFETCH(QList<int>, pos);
  QFETCH(QList<int>, answerSizes);
  QFETCH(QList<int>, progress);
  QFETCH(bool, completed);
  QFETCH(QString, simEvent);

  DtuSimProcess sim;
  QVERIFY2(sim.start(simArgs), qPrintable(sim.errorString()));
  WindowFixture fx;
  QVERIFY(fx.connectTo(sim.devicePath()));
  const QByteArray body = RandomBytes(bodySize, quint32(bodySize));
  const QString path = WriteImage(fx, "fw.bin", "V3", body);
  Choose(fx, path);

  const qsizetype before = fx.logSize();
  const DownloadTrace trace = RunDownload(fx);
  QVERIFY(fx.logTailIs(
      before, DownloadLog(path, pos,
                          completed ? Success("download_completed") : Failure("download_failed"))));
  QCOMPARE(trace.progress, progress);

  // Every answer: the request's offset, count = length - 12, and the body's
  // bytes from that offset.
  QList<int> sizes;
  for (const QByteArray& a : SimReceived(sim, 0xE2)) {
    sizes.append(int(a.size()));
    QCOMPARE(int(qFromLittleEndian<quint16>(a.constData() + 2)), int(a.size()));
    const int count = qFromLittleEndian<quint16>(a.constData() + 8);
    QCOMPARE(count, int(a.size()) - 12);
    QCOMPARE(a.mid(10, count),
             body.mid(qsizetype(qFromLittleEndian<quint32>(a.constData() + 4)), count));
  }
  QCOMPARE(sizes, answerSizes);
  QVERIFY2(sim.logText().contains(simEvent.toUtf8()), qPrintable(simEvent));

  QCOMPARE(fx.get<QProgressBar>("ProgressBar1")->value(), completed ? 100 : progress.last());
  QCOMPARE(sim.stateImage(), completed ? body : QByteArray());
  QVERIFY(fx.get<QWidget>("bStart")->isEnabled());
  QVERIFY(PanelsEnabled(fx));
  QVERIFY(!fx.form().DownloadRunning);
}

void TestFirmware::windowClosedDuringDownload() {
  QFETCH(bool, destroy);
  DtuSimProcess sim;
  QVERIFY2(sim.start(), qPrintable(sim.errorString()));
  WindowFixture fx;
  QVERIFY(fx.connectTo(sim.devicePath()));
  Choose(fx, WriteImage(fx, "fw.bin", "V1", RandomBytes(100 * 1024, 8)));

  QPointer<TForm1> form = &fx.form();
  const DownloadTrace trace = RunDownload(fx, [&] { fx.closeOrDestroy(destroy); });

  // The click came back: the loop ended long before the image was through.
  QVERIFY(trace.progress.size() >= 1);
  QVERIFY(trace.progress.size() < 100);
  QCOMPARE(sim.stateImage(), QByteArray());
  QVERIFY(sim.isRunning());
  if (destroy) {
    QVERIFY(!form);
  } else {
    QVERIFY(form);
    QVERIFY(TForm1Access::closed(*form));
    QVERIFY(!form->DownloadRunning);
    QVERIFY(!form->link().CommHandle().IsOpen());
  }
}

void TestFirmware::deviceVanishesDuringDownload() {
  // Frames the DTU takes: the announcement, then the first answer, on which
  // it is unplugged.
  DtuSimProcess sim;
  QVERIFY2(sim.start({"--drop-after", "2"}), qPrintable(sim.errorString()));
  WindowFixture fx;
  QVERIFY(fx.connectTo(sim.devicePath()));
  const QString path = WriteImage(fx, "fw.bin", "V1", RandomBytes(5000, 9));
  Choose(fx, path);

  const qsizetype before = fx.logSize();
  RunDownload(fx);
  QList<ExpectedLine> expected = DownloadLog(path, {0}, Failure("download_link_lost"));
  expected.insert(2, Failure("serial_lost"));
  QVERIFY(fx.logTailIs(before, expected));

  // Not connected: only connecting is offered, the panels are back.
  QVERIFY(!fx.form().link().LinkConnected);
  QVERIFY(!fx.form().link().CommHandle().IsOpen());
  QCOMPARE(fx.linkButtons(), QStringLiteral("10000"));
  QVERIFY(PanelsEnabled(fx));
  QVERIFY(!fx.form().DownloadRunning);
}

void TestFirmware::downloadEndings_data() {
  QTest::addColumn<QStringList>("simArgs");
  QTest::addColumn<bool>("pressStop"); // 停止升级 at the first pos: line
  QTest::addColumn<QString>("ending");

  QTest::newRow("unit silent after the start frame")
      << QStringList{"--silent", "0xE1"} << false << "download_stalled";
  QTest::newRow("unit asking one piece for ever")
      << QStringList{"--stuck-chunk"} << false << "download_repeated";
  QTest::newRow("stopped by the technician")
      << QStringList{"--chunk", "256"} << true << "download_stopped";
}

void TestFirmware::downloadEndings() {
  QFETCH(QStringList, simArgs);
  QFETCH(bool, pressStop);
  QFETCH(QString, ending);

  DtuSimProcess sim;
  QVERIFY2(sim.start(simArgs), qPrintable(sim.errorString()));
  WindowFixture fx;
  QVERIFY(fx.connectTo(sim.devicePath()));
  const QByteArray body = RandomBytes(100 * 1024, 11);
  const QString path = WriteImage(fx, "fw.bin", "V1", body);
  Choose(fx, path);
  const QString startCaption = fx.get<QAbstractButton>("bStart")->text();
  if (ending == QLatin1String("download_stalled")) fx.shortenWaitsFrom();

  const qsizetype before = fx.logSize();
  const DownloadTrace trace = RunDownload(fx, [&] {
    if (pressStop) fx.click("bStart");
  });
  QVERIFY(trace.lockedOk);
  QVERIFY(fx.lastLineIs(Failure(qPrintable(ending))));
  // Every piece the log shows went out, and nothing after the ending.
  const qsizetype posLines = fx.logSize() - before - 2;
  sim.waitForLog([&] { return SimReceived(sim, 0xE2).size() >= posLines; });
  QCOMPARE(SimReceived(sim, 0xE2).size(), posLines);
  if (ending == QLatin1String("download_repeated")) {
    QCOMPARE(posLines, qsizetype(k7v::kRepeatedPieceLimit - 1));
    QVERIFY(fx.logTexts().mid(before + 1, posLines).filter(QStringLiteral("pos:0")).size() ==
            posLines);
  }
  if (pressStop) QVERIFY(posLines < 400);

  // Still connected, everything usable again, the button back to its caption.
  QCOMPARE(fx.linkButtons(), QStringLiteral("01111"));
  QVERIFY(PanelsEnabled(fx));
  QCOMPARE(fx.get<QAbstractButton>("bStart")->text(), startCaption);
  QCOMPARE(fx.form().cursor().shape(), Qt::ArrowCursor);
  QVERIFY(!fx.form().DownloadRunning);
  QCOMPARE(sim.stateImage(), QByteArray());

  // After a stop the next download goes through.
  if (pressStop) {
    RunDownload(fx);
    QVERIFY(fx.lastLineIs(Success("download_completed")));
    QCOMPARE(sim.stateImage(), body);
  }
}

QTEST_MAIN(TestFirmware)
#include "test_firmware.moc"
