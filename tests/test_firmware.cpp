// The firmware page and the download, through the main window: choosing image
// files (accepted and refused), and whole downloads against the simulated DTU
// on a pseudo-terminal.

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <span>

#include "app/file_dialogs.h"
#include "link/link_settings_dialog.h"
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

const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kBlack(0, 0, 0);

QByteArray ImageFile(const QByteArray& version, const QByteArray& body) {
  QByteArray file = version.left(8);
  file.append(8 - file.size(), '\0');
  return file + body;
}

QByteArray RandomBytes(qsizetype n, quint32 seed) {
  QByteArray bytes(n, Qt::Uninitialized);
  QRandomGenerator gen(seed);
  for (char& b : bytes) b = char(gen.bounded(256));
  return bytes;
}

// The 16-bit sum worked out here on its own.
int SumOf(const QByteArray& bytes) {
  unsigned sum = 0;
  for (char c : bytes) sum += std::uint8_t(c);
  return int(sum % 65536);
}

quint32 U32At(const QByteArray& f, int at) {
  return quint32(std::uint8_t(f[at])) | quint32(std::uint8_t(f[at + 1])) << 8 |
         quint32(std::uint8_t(f[at + 2])) << 16 | quint32(std::uint8_t(f[at + 3])) << 24;
}
int U16At(const QByteArray& f, int at) { return std::uint8_t(f[at]) | std::uint8_t(f[at + 1]) << 8; }

QString WriteFile(const QString& dir, const QString& name, const QByteArray& content) {
  const QString path = QDir(dir).filePath(name);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size()) qFatal("cannot write %s", qPrintable(path));
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

// Frames of one command code that the simulated DTU received, from its log.
QList<QByteArray> SimReceived(const DtuSimProcess& sim, std::uint8_t command) {
  QList<QByteArray> frames;
  for (const QByteArray& line : sim.logText().split('\n')) {
    if (!line.startsWith("RX frame ")) continue;
    const QByteArray frame = QByteArray::fromHex(line.mid(9).replace(' ', ""));
    if (frame.size() >= 2 && std::uint8_t(frame[1]) == command) frames.append(frame);
  }
  return frames;
}

bool ConnectToSim(WindowFixture& fx, const DtuSimProcess& sim) {
  fx.form().Form3()->findChild<QComboBox*>(QStringLiteral("cb_com"))->setEditText(sim.devicePath());
  fx.click("sb_com_open");
  return QTest::qWaitFor([&] { return fx.get<QWidget>("bStart")->isEnabled(); }, 5000);
}

// What the window showed while a download ran.
struct DownloadTrace {
  QStringList pos;      // the "pos:" lines, in order
  QList<int> progress;  // ProgressBar1 as each of them was logged
  bool lineStyleOk = true; // every pos: line green at 10 points
  bool lockedOk = true;    // the three panels and bStart disabled, hourglass shown, at every pos: line
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
  QList<QPointer<QWidget>> locked = {fx.get<QWidget>("Panel25"), fx.get<QWidget>("Panel2"),
                                     fx.get<QWidget>("Panel4"), fx.get<QWidget>("bStart")};
  QPointer<TForm1> form = &fx.form();
  int seenBlocks = doc->blockCount();
  QObject::connect(doc, &QTextDocument::contentsChanged, &context, [&] {
    if (doc->blockCount() == seenBlocks) return;
    seenBlocks = doc->blockCount();
    const QTextBlock last = doc->lastBlock();
    if (!last.text().startsWith(QLatin1String("pos:"))) return;
    trace.pos.append(last.text());
    trace.progress.append(bar ? bar->value() : -1);
    const QTextCharFormat fmt = last.begin().fragment().charFormat();
    trace.lineStyleOk &= fmt.foreground().color() == kGreen && fmt.fontPointSize() == 10;
    for (const auto& w : locked) trace.lockedOk &= w && !w->isEnabled();
    trace.lockedOk &= form && form->cursor().shape() == Qt::WaitCursor;
    if (trace.pos.size() == 1 && onFirstPos) QTimer::singleShot(0, &context, onFirstPos);
  });
  QTimer::singleShot(60000, &context, [form] {
    qWarning("download did not end: closing the window");
    if (form) form->close();
  });
  fx.click("bStart");
  return trace;
}

QStringList PosLines(const QList<int>& offsets) {
  QStringList lines;
  for (int o : offsets) lines.append(QStringLiteral("pos:%1").arg(o));
  return lines;
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
  void reloadRefusesChangedFile();

  // ---------------------------------------------------------------- download with the simulated DTU
  void fullImageArrivesWhole();
  void exchanges_data();
  void exchanges();
  void windowClosedDuringDownload_data();
  void windowClosedDuringDownload();
  void deviceVanishesDuringDownload();
};

// ---------------------------------------------------------------- choosing a file

void TestFirmware::descriptorShown_data() {
  QTest::addColumn<QString>("fileName");
  QTest::addColumn<QByteArray>("version8");
  QTest::addColumn<QByteArray>("body");
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("version");

  const QByteArray kb = RandomBytes(1024, 1);
  QTest::newRow("1,032-byte file") << "fw.bin" << QByteArray("V1.0") << kb << "fw" << "V1.0";
  QTest::newRow("last extension only") << "dtu.new.bin" << QByteArray("V1.0") << kb << "dtu.new" << "V1.0";
  QTest::newRow("no dot") << "firmware" << QByteArray("V1.0") << kb << "firmware" << "V1.0";
  QTest::newRow("name over 13 shown whole")
      << "k7v_release_candidate_2.bin" << QByteArray("V1.0") << kb << "k7v_release_candidate_2" << "V1.0";
  QTest::newRow("258 bytes of 0xFF") << "ff.bin" << QByteArray("V1.0") << QByteArray(258, '\xFF') << "ff" << "V1.0";
  QTest::newRow("four version characters")
      << "v.bin" << QByteArray("V2.1\0\0\0\0", 8) << kb << "v" << "V2.1";
  QTest::newRow("eight version characters") << "v.bin" << QByteArray("ABCDEFGH") << kb << "v" << "ABCDEFGH";
  QTest::newRow("largest body") << "big.bin" << QByteArray("V9") << RandomBytes(102400, 2) << "big" << "V9";
}

void TestFirmware::descriptorShown() {
  QFETCH(QString, fileName);
  QFETCH(QByteArray, version8);
  QFETCH(QByteArray, body);
  QFETCH(QString, name);
  QFETCH(QString, version);

  WindowFixture fx;
  const QString path = WriteFile(fx.dir(), fileName, ImageFile(version8, body));
  const QStringList logBefore = fx.logTexts();
  Choose(fx, path);

  const Descriptor expected{path, name, version, QString::number(body.size()), QString::number(SumOf(body))};
  QCOMPARE(ShownDescriptor(fx), expected);
  QVERIFY(fx.form().ImageLoaded);
  QCOMPARE(TForm1Access::image(fx.form(), body.size()), body);
  QCOMPARE(fx.logTexts(), logBefore); // a good file is taken silently
}

void TestFirmware::refusedFileKeepsEarlierImage_data() {
  QTest::addColumn<QString>("what"); // "file", "missing" or "directory"
  QTest::addColumn<QByteArray>("content");

  QTest::newRow("body one byte over 102,400") << "file" << ImageFile("V2", RandomBytes(102401, 3));
  QTest::newRow("8 bytes, no body") << "file" << QByteArray("V2.0\0\0\0\0", 8);
  QTest::newRow("3 bytes") << "file" << QByteArray("V2.");
  QTest::newRow("empty file") << "file" << QByteArray();
  QTest::newRow("file that does not exist") << "missing" << QByteArray();
  QTest::newRow("directory, not readable as a file") << "directory" << QByteArray();
}

void TestFirmware::refusedFileKeepsEarlierImage() {
  QFETCH(QString, what);
  QFETCH(QByteArray, content);

  WindowFixture fx;
  const QByteArray body = RandomBytes(2000, 4);
  Choose(fx, WriteFile(fx.dir(), "good.bin", ImageFile("V1.0", body)));
  const Descriptor before = ShownDescriptor(fx);
  QCOMPARE(before.length, QStringLiteral("2000"));

  QString bad = QDir(fx.dir()).filePath("other_image.bin");
  if (what == "file") WriteFile(fx.dir(), "other_image.bin", content);
  if (what == "directory") QVERIFY(QDir(fx.dir()).mkdir("other_image.bin"));
  const qsizetype linesBefore = fx.logLines().size();
  Choose(fx, bad);

  const QList<LogLine> lines = fx.logLines();
  QCOMPARE(lines.size(), linesBefore + 1);
  QCOMPARE(lines.last().text, WindowFixture::caption("bin_error"));
  QCOMPARE(lines.last().colour, kRed);
  QCOMPARE(lines.last().pointSize, 10.0);
  QCOMPARE(ShownDescriptor(fx), before); // name fields included
  QVERIFY(fx.form().ImageLoaded);
  QCOMPARE(TForm1Access::image(fx.form(), body.size()), body);
}

void TestFirmware::refusedFileWithoutEarlierImage() {
  WindowFixture fx;
  Choose(fx, WriteFile(fx.dir(), "empty.bin", QByteArray("V1")));
  QCOMPARE(fx.logTexts().last(), WindowFixture::caption("bin_error"));
  QCOMPARE(ShownDescriptor(fx), Descriptor{});
  QVERIFY(!fx.form().ImageLoaded);

  // So the download still refuses to start.
  fx.form().bStartClick();
  const LogLine last = fx.logLines().last();
  QCOMPARE(last.text, WindowFixture::caption("select_bin"));
  QCOMPARE(last.colour, kRed);
  QCOMPARE(last.pointSize, 10.0);
}

void TestFirmware::cancelKeepsEarlierImage() {
  WindowFixture fx;
  const QByteArray body = RandomBytes(1500, 5);
  Choose(fx, WriteFile(fx.dir(), "good.bin", ImageFile("V1.0", body)));
  const Descriptor before = ShownDescriptor(fx);
  const QStringList logBefore = fx.logTexts();

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
  QCOMPARE(fx.logTexts(), logBefore);
}

void TestFirmware::reloadRefusesChangedFile() {
  WindowFixture fx;
  const QByteArray body = RandomBytes(1500, 6);
  const QString path = WriteFile(fx.dir(), "good.bin", ImageFile("V1.0", body));
  Choose(fx, path);

  // Changed after it was chosen: the shown sum no longer fits, the body stays.
  QByteArray changed = body;
  changed[10] = char(changed[10] ^ 0x01);
  WriteFile(fx.dir(), "good.bin", ImageFile("V1.0", changed));
  fx.form().LoadImageBody();
  QCOMPARE(TForm1Access::image(fx.form(), body.size()), body);

  // Cut short, then gone.
  WriteFile(fx.dir(), "good.bin", ImageFile("V1.0", body.left(100)));
  fx.form().LoadImageBody();
  QCOMPARE(TForm1Access::image(fx.form(), body.size()), body);
  QVERIFY(QFile::remove(path));
  fx.form().LoadImageBody();
  QCOMPARE(TForm1Access::image(fx.form(), body.size()), body);
}

// ---------------------------------------------------------------- download with the simulated DTU

void TestFirmware::fullImageArrivesWhole() {
  DtuSimProcess sim;
  QVERIFY2(sim.start(), qPrintable(sim.errorString()));
  WindowFixture fx;
  QVERIFY(ConnectToSim(fx, sim));

  // With nothing chosen the click only says so.
  const qsizetype linesBefore = fx.logLines().size();
  fx.click("bStart");
  QList<LogLine> lines = fx.logLines();
  QCOMPARE(lines.size(), linesBefore + 1);
  QCOMPARE(lines.last().text, WindowFixture::caption("select_bin"));
  QCOMPARE(lines.last().colour, kRed);
  QCOMPARE(lines.last().pointSize, 10.0);
  QVERIFY(fx.get<QWidget>("bStart")->isEnabled());
  QVERIFY(fx.get<QWidget>("Panel25")->isEnabled());

  const QByteArray body = RandomBytes(100 * 1024, 7);
  const QString path =
      WriteFile(fx.dir(), "k7v_release_candidate_2.bin", ImageFile(QByteArray("V1.2\0\0\0\0", 8), body));
  Choose(fx, path);
  const DownloadTrace trace = RunDownload(fx);

  QCOMPARE(sim.stateImage(), body);
  QCOMPARE(fx.get<QProgressBar>("ProgressBar1")->value(), 100);
  QStringList expectedPos;
  for (int o = 0; o < body.size(); o += 1024) expectedPos.append(QStringLiteral("pos:%1").arg(o));
  QCOMPARE(trace.pos, expectedPos);
  QVERIFY(trace.lineStyleOk);
  QVERIFY(trace.lockedOk);

  lines = fx.logLines();
  const LogLine start = lines.at(lines.size() - 2 - trace.pos.size());
  QCOMPARE(start.text, WindowFixture::caption("start_download") + path);
  QCOMPARE(start.colour, kBlack);
  QCOMPARE(start.pointSize, 9.0);
  QCOMPARE(lines.last().text, WindowFixture::caption("download_completed"));
  QCOMPARE(lines.last().colour, kGreen);
  QCOMPARE(lines.last().pointSize, 10.0);

  for (const char* name : {"Panel25", "Panel2", "Panel4", "bStart"})
    QVERIFY2(fx.get<QWidget>(name)->isEnabled(), name);
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
  QCOMPARE(U32At(f, 26), quint32(body.size()));
  QCOMPARE(U16At(f, 30), SumOf(body));
  QCOMPARE(fx.get<QLineEdit>("edDlFilename")->text(), QStringLiteral("k7v_release_candidate_2"));
}

void TestFirmware::exchanges_data() {
  QTest::addColumn<QStringList>("simArgs");
  QTest::addColumn<int>("bodySize");
  QTest::addColumn<QList<int>>("pos");          // offsets of the pos: lines
  QTest::addColumn<QList<int>>("answerSizes");  // chunk answers as the DTU received them
  QTest::addColumn<QList<int>>("progress");     // ProgressBar1 at each pos: line
  QTest::addColumn<bool>("completed");          // 0xE3 rather than 0xE4
  QTest::addColumn<QString>("simEvent");        // a line the DTU logged, if any

  const QStringList chunk1024 = {"--chunk", "1024"};
  QTest::newRow("1,500 bytes in 1,024-byte requests")
      << chunk1024 << 1500 << QList<int>{0, 1024} << QList<int>{1036, 488} << QList<int>{0, 68} << true
      << "download received length=1500";
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
  QVERIFY(ConnectToSim(fx, sim));
  const QByteArray body = RandomBytes(bodySize, quint32(bodySize));
  Choose(fx, WriteFile(fx.dir(), "fw.bin", ImageFile("V3", body)));

  const DownloadTrace trace = RunDownload(fx);
  QCOMPARE(trace.pos, PosLines(pos));
  QCOMPARE(trace.progress, progress);

  // Every answer: the request's offset, count = length - 12, and the body's
  // bytes from that offset.
  const QList<QByteArray> answers = SimReceived(sim, 0xE2);
  QList<int> sizes;
  for (const QByteArray& a : answers) {
    sizes.append(int(a.size()));
    QCOMPARE(U16At(a, 2), int(a.size()));
    const int count = U16At(a, 8);
    QCOMPARE(count, int(a.size()) - 12);
    QCOMPARE(a.mid(10, count), body.mid(qsizetype(U32At(a, 4)), count));
  }
  QCOMPARE(sizes, answerSizes);
  QVERIFY2(sim.logText().contains(simEvent.toUtf8()), qPrintable(simEvent));

  const LogLine last = fx.logLines().last();
  QCOMPARE(last.text, WindowFixture::caption(completed ? "download_completed" : "download_failed"));
  QCOMPARE(last.colour, completed ? kGreen : kRed);
  QCOMPARE(last.pointSize, 10.0);
  QCOMPARE(fx.get<QProgressBar>("ProgressBar1")->value(), completed ? 100 : progress.last());
  QCOMPARE(sim.stateImage(), completed ? body : QByteArray());
  for (const char* name : {"Panel25", "Panel2", "Panel4", "bStart"})
    QVERIFY2(fx.get<QWidget>(name)->isEnabled(), name);
  QVERIFY(!fx.form().DownloadRunning);
}

void TestFirmware::windowClosedDuringDownload_data() {
  QTest::addColumn<bool>("destroy");
  QTest::newRow("closed") << false;
  QTest::newRow("closed and destroyed") << true;
}

void TestFirmware::windowClosedDuringDownload() {
  QFETCH(bool, destroy);
  DtuSimProcess sim;
  QVERIFY2(sim.start(), qPrintable(sim.errorString()));
  WindowFixture fx;
  QVERIFY(ConnectToSim(fx, sim));
  Choose(fx, WriteFile(fx.dir(), "fw.bin", ImageFile("V1", RandomBytes(100 * 1024, 8))));

  QPointer<TForm1> form = &fx.form();
  const DownloadTrace trace = RunDownload(fx, [&] {
    if (destroy)
      fx.closeWindow();
    else
      fx.form().close();
  });

  // The click came back: the loop ended long before the image was through.
  QVERIFY(trace.pos.size() >= 1);
  QVERIFY(trace.pos.size() < 100);
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
  QVERIFY(ConnectToSim(fx, sim));
  Choose(fx, WriteFile(fx.dir(), "fw.bin", ImageFile("V1", RandomBytes(5000, 9))));

  const DownloadTrace trace = RunDownload(fx);
  QCOMPARE(trace.pos, PosLines({0}));

  const QStringList texts = fx.logTexts();
  QVERIFY(texts.contains(WindowFixture::caption("serial_lost")));
  const LogLine last = fx.logLines().last();
  QCOMPARE(last.text, WindowFixture::caption("download_failed"));
  QCOMPARE(last.colour, kRed);
  QCOMPARE(last.pointSize, 10.0);

  // Not connected: only connecting is offered, the panels are back.
  QVERIFY(!fx.form().link().LinkConnected);
  QVERIFY(!fx.form().link().CommHandle().IsOpen());
  QVERIFY(fx.get<QWidget>("sb_com_open")->isEnabled());
  for (const char* name : {"sb_com_close", "sb_getpar", "sb_setpar", "bStart"})
    QVERIFY2(!fx.get<QWidget>(name)->isEnabled(), name);
  for (const char* name : {"Panel25", "Panel2", "Panel4"}) QVERIFY2(fx.get<QWidget>(name)->isEnabled(), name);
  QVERIFY(!fx.form().DownloadRunning);
}

QTEST_MAIN(TestFirmware)
#include "test_firmware.moc"
