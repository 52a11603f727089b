// Parameter files: export and import of the pages, and every way they can fail
// without touching the pages or the files.

#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "app/file_dialogs.h"
#include "params/app_params.h"
#include "params/param_profile.h"
#include "support/bytes.h"
#include "support/records.h"
#include "support/window_fixture.h"

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

using F = AppField;

namespace {

constexpr qsizetype kRecordSize = qsizetype(TAppParams::kSize);

// Every entry under dir with its content, to see that nothing was touched.
QMap<QString, QByteArray> Snapshot(const QString& dir) {
  QMap<QString, QByteArray> entries;
  QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QFileInfo info(it.next());
    entries.insert(info.filePath(), info.isDir() ? QByteArray("<dir>")
                                    : info.isFile()
                                        ? ReadFile(info.filePath())
                                        : QByteArray("<special>")); // a pipe would block
  }
  return entries;
}

// How the log names a file, and the reason a file was refused.
QString Named(const QString& path, const QString& reason = {}) {
  return QStringLiteral("：") + QDir::toNativeSeparators(path) +
         (reason.isEmpty() ? QString() : "，" + reason);
}

class Window : public WindowFixture {
public:
  void importFrom(const QString& path) {
    dialogAnswers.push_back(path);
    click("SpeedButton11");
  }
  void exportTo(const QString& path) {
    dialogAnswers.push_back(path);
    click("SpeedButton12");
  }
};

} // namespace

class TestParamFiles : public QObject {
  Q_OBJECT

private slots:
  void init() { // a fresh, empty directory for every case
    files_ = std::make_unique<QTemporaryDir>();
    QVERIFY(files_->isValid());
  }
  void dialogsOfferProfilesFirst();
  void exportThenImportGivesTheSameRecord();
  void exportReplacesALongerFileWhole();
  void importUsesTheFirstRecordOfALongerFile();
  void profilesByTheirName();
  void importRefusals_data();
  void importRefusals();
  void exportFailures_data();
  void exportFailures();
  void unconvertibleFieldWritesNothing_data();
  void unconvertibleFieldWritesNothing();
  void nothingHappens_data();
  void nothingHappens();

private:
  QString file(const char* name) const { return files_->filePath(QString::fromLatin1(name)); }
  QString dir() const { return files_->path(); }
  std::unique_ptr<QTemporaryDir> files_;
};

void TestParamFiles::dialogsOfferProfilesFirst() {
  Window w;
  // Never the working folder, which --user-folder makes a hidden settings folder.
  QVERIFY(QFileInfo(FileDialogStartFolder(OpenDialog1)) != QFileInfo(w.dir()));
  QList<FileDialogSetup> asked;
  FileDialogHandler answer = SetFileDialogHandler({});
  SetFileDialogHandler([&](const FileDialogSetup& setup) {
    asked.append(setup);
    return answer(setup);
  });
  w.importFrom(file("unit.ini")); // not there: nothing happens but the folder is noted
  w.exportTo(QString());
  SetFileDialogHandler(answer);
  QCOMPARE(asked.size(), 2);
  QCOMPARE(QByteArray(asked[0].name), QByteArray("OpenDialog1"));
  QVERIFY(!asked[0].save);
  QCOMPARE(QByteArray(asked[1].name), QByteArray("SaveDialog1"));
  QVERIFY(asked[1].save);
  for (const FileDialogSetup& setup : asked) {
    QCOMPARE(FileDialogFilters(setup).value(0),
             WindowFixture::caption("param_files") + QStringLiteral(" (*.ini *.txt *.bin)"));
    QCOMPARE(FileDialogFilters(setup).size(), 2); // and every file
    QCOMPARE(QByteArray(setup.defaultExt), QByteArray());
    // Both open where the technician last was.
    QCOMPARE(FileDialogStartFolder(setup), dir());
  }
}

// No DTU is connected in any of these: files need none.
void TestParamFiles::exportThenImportGivesTheSameRecord() {
  Window w;
  QVERIFY(!w.form().link().LinkConnected);
  w.form().DecodeParams(DistinctRecord());
  const TAppParams shown = w.encoded();
  QCOMPARE(shown, DistinctRecord());

  const QString path = file("unit.par"); // did not exist
  w.exportTo(path);
  QVERIFY(w.lastLineIs(Progress("exported", Named(path))));
  QCOMPARE(ReadFile(path), RecordBytes(shown));

  w.click("SpeedButton15");
  QVERIFY(w.encoded() != shown);
  w.importFrom(path);
  QVERIFY(w.lastLineIs(Progress("imported", Named(path))));
  QCOMPARE(w.encoded(), shown);
  QVERIFY(w.boxes.isEmpty());
}

void TestParamFiles::exportReplacesALongerFileWhole() {
  Window w;
  const QString path = file("long.par");
  QVERIFY(WriteFile(path, QByteArray(3000, '\xEE')));
  w.click("SpeedButton15");
  w.exportTo(path);
  QVERIFY(w.lastLineIs(Progress("exported", Named(path))));
  QCOMPARE(ReadFile(path), RecordBytes(w.encoded())); // 693 bytes, no stale tail
  QCOMPARE(QDir(dir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
           QStringList{"long.par"}); // no temporary file left behind
}

void TestParamFiles::importUsesTheFirstRecordOfALongerFile() {
  Window w;
  const QString path = file("tail.par");
  QVERIFY(WriteFile(path, RecordBytes(DistinctRecord()) + QByteArray(307, '\x5A')));
  w.importFrom(path);
  // Read as before, but the technician is told the file is not just a record
  // (after a line for each of its texts that fills its field).
  QVERIFY(w.logTailIs(
      w.logSize() - 2,
      {Progress("imported", Named(path)),
       {WindowFixture::caption("param_file_long").arg(kRecordSize).arg(kRecordSize + 307),
        kLogBlack, 9}}));
  QCOMPARE(w.encoded(), DistinctRecord());
}

// Export writes a profile for .ini and .txt; import knows a profile by its
// content, whatever the name, and changes only the fields it names.
void TestParamFiles::profilesByTheirName() {
  Window w;
  w.form().DecodeParams(DistinctRecord());
  for (const char* name : {"unit.ini", "unit.TXT"}) {
    w.exportTo(file(name));
    QVERIFY(w.lastLineIs(Progress("exported", Named(file(name)))));
    QVERIFY(ReadFile(file(name)).contains("\nport1 = 40009\n"));
  }
  w.click("SpeedButton15"); // the identifier stays
  TAppParams shown = FactoryRecord();
  const auto id = DistinctRecord().FieldBytes(F::dtu_id);
  std::copy(id.begin(), id.end(), shown.FieldBytes(F::dtu_id).begin());
  w.importFrom(file("unit.ini"));
  QVERIFY(w.logTailIs(w.logSize() - 2, {Progress("imported", Named(file("unit.ini"))),
                                        {WindowFixture::caption("profile_fields_changed")
                                             .arg(CompareRecords(shown, DistinctRecord()).size()),
                                         kLogBlack, 9}}));
  QCOMPARE(w.encoded(), DistinctRecord());

  // A partial profile, under any name, changes what it names; the rest of the
  // pages stays as the unit's record and the technician's edits left them.
  w.get<QLineEdit>("ed_pppname")->setText(QStringLiteral("typed"));
  for (const char* name : {"part.ini", "site.cfg"}) {
    QVERIFY(WriteFile(file(name), "[params]\ndtu_id = P1\nport1 = 1234\n"));
    w.form().DecodeParams(DistinctRecord());
    w.get<QLineEdit>("ed_pppname")->setText(QStringLiteral("typed"));
    w.importFrom(file(name));
    QVERIFY(w.lastLineIs({WindowFixture::caption("profile_fields_changed").arg(2), kLogBlack, 9}));
  }
  TAppParams expected = DistinctRecord();
  expected.Set(F::port1, 1234);
  expected.SetText(F::dtu_id, "P1");
  expected.SetText(F::ppp_username, "typed");
  QCOMPARE(w.encoded(), expected);

  // Text that reads as no profile is refused, whatever its name.
  QVERIFY(WriteFile(file("README.md"), QByteArray(800, '-')));
  w.importFrom(file("README.md"));
  QVERIFY(w.lastLineIs(Failure(
      "import_failed", Named(file("README.md"), WindowFixture::caption("file_not_params")))));
  QCOMPARE(w.encoded(), expected);

  // A wrong profile: every wrong line, the refusal, and the pages as they were.
  QVERIFY(WriteFile(file("bad.ini"), "[params]\nport1 = 70000\nnosuch = 1\n"));
  const qsizetype lines = w.logSize();
  w.importFrom(file("bad.ini"));
  QCOMPARE(w.logSize(), lines + 3);
  QVERIFY(w.logTailIs(
      lines,
      {{WindowFixture::caption("profile_error") + file("bad.ini") +
            ":2: port1: 70000: " + "too large for the record: allowed 0~65535",
        kLogRed, 9},
       {WindowFixture::caption("profile_error") + file("bad.ini") + ":3: nosuch: 1: unknown name",
        kLogRed, 9},
       Failure("import_failed", Named(file("bad.ini")))}));
  QCOMPARE(w.encoded(), expected);
}

void TestParamFiles::importRefusals_data() {
  QTest::addColumn<QString>("kind");
  QTest::newRow("one byte short") << "short";
  QTest::newRow("empty file") << "empty";
  QTest::newRow("path is a directory") << "directory";
#ifndef _WIN32
  QTest::newRow("named pipe nobody writes to") << "fifo";
#endif
#ifdef Q_OS_LINUX
  QTest::newRow("read fails after open") << "readerror";
#endif
}

// A file that cannot give a whole record is refused, also after an earlier
// import left a record behind whose tail a short file would have kept.
void TestParamFiles::importRefusals() {
  QFETCH(QString, kind);
  Window w;
  const QString good = file("good.par");
  QVERIFY(WriteFile(good, RecordBytes(DistinctRecord())));
  w.importFrom(good);
  w.click("SpeedButton15");

  QString path = file("bad.par");
  if (kind == "short") {
    TAppParams other = DistinctRecord();
    other.SetText(F::apn, "other");
    QVERIFY(WriteFile(path, RecordBytes(other).left(kRecordSize - 1)));
  } else if (kind == "empty") {
    QVERIFY(WriteFile(path, {}));
  } else if (kind == "directory") {
    QVERIFY(QDir(dir()).mkdir("bad.par"));
#ifndef _WIN32
  } else if (kind == "fifo") { // opening it for reading would wait for a writer
    QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
  } else {
    path = "/proc/self/mem"; // opens, but offset 0 is never mapped: the read fails
  }
  const TAppParams pages = w.encoded();
  const auto before = Snapshot(dir());
  const qsizetype lines = w.logLines().size();

  w.importFrom(path);
  // Named with the reason; a failing read gives the system's own words.
  const QString notPlain = WindowFixture::caption("not_plain_file");
  const QString tooShort = WindowFixture::caption("param_file_short");
  const QMap<QString, QString> reasons = {{"short", tooShort.arg(kRecordSize - 1).arg(kRecordSize)},
                                          {"empty", tooShort.arg(0).arg(kRecordSize)},
                                          {"directory", notPlain},
                                          {"fifo", notPlain}};
  if (reasons.contains(kind))
    QVERIFY(w.logTailIs(lines, {Failure("import_failed", Named(path, reasons.value(kind)))}));
  else
    QVERIFY(w.logSize() == lines + 1 &&
            w.logTexts().last().startsWith(Failure("import_failed", Named(path)).text));
  QCOMPARE(w.encoded(), pages);
  QCOMPARE(Snapshot(dir()), before);
  QVERIFY(w.boxes.isEmpty());
}

void TestParamFiles::exportFailures_data() {
  QTest::addColumn<QString>("kind");
  QTest::newRow("parent directory missing") << "noparent";
  QTest::newRow("parent is a regular file") << "fileparent";
  QTest::newRow("path is a directory") << "directory";
  QTest::newRow("under /proc") << "proc";
#ifndef _WIN32
  QTest::newRow("named pipe in its place") << "fifo";
#endif
#ifndef _WIN32
  QTest::newRow("disk full while writing over a file") << "full";
#endif
}

// A write that fails leaves every file as it was and says so in red.
void TestParamFiles::exportFailures() {
  QFETCH(QString, kind);
  Window w;
  w.click("SpeedButton15");
  QVERIFY(WriteFile(file("old.par"), RecordBytes(DistinctRecord()))); // an earlier export
  QVERIFY(WriteFile(file("notes.txt"), "a file, not a directory"));
  QVERIFY(QDir(dir()).mkdir("folder"));
  const QMap<QString, QString> paths = {
      {"noparent", file("missing/unit.par")},
      {"fileparent", file("notes.txt/unit.par")},
      {"directory", file("folder")},
      {"proc", "/proc/k7v-unit.par"},
      {"full", file("old.par")},
      {"fifo", file("pipe.par")},
  };
  const QString path = paths.value(kind);
#ifndef _WIN32
  if (kind == "fifo") QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
  const TAppParams pages = w.encoded();
  const auto before = Snapshot(dir());
  const qsizetype lines = w.logLines().size();

#ifndef _WIN32
  rlimit oldLimit{};
  auto oldSignal = SIG_DFL;
  if (kind == "full") { // the file system refuses a byte past the hundredth
    oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
    rlimit small = oldLimit;
    small.rlim_cur = 100;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
  }
  w.exportTo(path);
  if (kind == "full") {
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldSignal);
  }
#else
  w.exportTo(path);
#endif

  if (kind == "directory" || kind == "fifo")
    QVERIFY(w.logTailIs(
        lines, {Failure("export_failed", Named(path, WindowFixture::caption("not_plain_file")))}));
  else
    QVERIFY(w.logSize() == lines + 1 &&
            w.logTexts().last().startsWith(Failure("export_failed", Named(path)).text));
  QCOMPARE(Snapshot(dir()), before);
  QVERIFY(!QFileInfo::exists("/proc/k7v-unit.par"));
  QCOMPARE(w.encoded(), pages);
  QVERIFY(w.boxes.isEmpty());
}

void TestParamFiles::unconvertibleFieldWritesNothing_data() {
  QTest::addColumn<bool>("existing");
  QTest::newRow("new file") << false;
  QTest::newRow("existing file") << true;
}

// The conversion box is the only report; the file is never touched.
void TestParamFiles::unconvertibleFieldWritesNothing() {
  QFETCH(bool, existing);
  Window w;
  const QString path = file("unit.par");
  if (existing) QVERIFY(WriteFile(path, RecordBytes(DistinctRecord())));
  w.get<QLineEdit>("ed_heart")->clear();
  const auto before = Snapshot(dir());

  w.exportTo(path);
  QCOMPARE(w.boxes, QStringList{ConversionError("")});
  QCOMPARE(Snapshot(dir()), before);
  QVERIFY(w.logLines().isEmpty());
}

void TestParamFiles::nothingHappens_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("answer");
  QTest::newRow("import cancelled") << "SpeedButton11"
                                    << "";
  QTest::newRow("export cancelled") << "SpeedButton12"
                                    << "";
  QTest::newRow("import of a missing file") << "SpeedButton11"
                                            << "nowhere.par";
  QTest::newRow("import under a missing directory") << "SpeedButton11"
                                                    << "missing/nowhere.par";
}

void TestParamFiles::nothingHappens() {
  QFETCH(QString, button);
  QFETCH(QString, answer);
  Window w;
  w.form().DecodeParams(DistinctRecord());
  QVERIFY(WriteFile(file("unit.par"), QByteArray(kRecordSize, '\x01')));
  const auto before = Snapshot(dir());

  w.dialogAnswers.push_back(answer.isEmpty() ? answer : files_->filePath(answer));
  w.click(qPrintable(button));
  QVERIFY(w.dialogAnswers.empty()); // the dialog was asked
  QCOMPARE(w.encoded(), DistinctRecord());
  QCOMPARE(Snapshot(dir()), before);
  QVERIFY(w.logLines().isEmpty());
  QVERIFY(w.boxes.isEmpty());
}

QTEST_MAIN(TestParamFiles)
#include "test_param_files.moc"
