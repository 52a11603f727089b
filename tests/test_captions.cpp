// Caption texts (control texts at start-up) and message texts (status log
// keys), read from caption.ini in the working directory and beside the
// program respectively.

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QToolButton>
#include <QtTest>
#include <map>
#include <memory>

#include "app/app_texts.h"
#include "app/caption_table.h"
#include "app/fonts.h"
#include "app/link_settings_dialog.h"
#include "app/main_window.h"
#include "app/message_texts.h"
#include "app/style.h"
#include "platform/ini_text.h"
#include "support/bytes.h"
#include "support/window_fixture.h"

namespace {

// The real windows, their captions applied from the working directory's
// caption.ini as they are created. The dialog is a direct child of the main
// window and shares label names with the pages, which sit deeper.
struct Forms {
  const QString exeDir = ExeDir; // the window sets its own, the test keeps its
  TForm1 form1;
  QWidget* form3 = form1.Form3();

  Forms() { ExeDir = exeDir; }

  QWidget* main(const char* name) const {
    // The pages' copy, never the dialog's.
    const auto all = form1.findChildren<QWidget*>(QString::fromLatin1(name));
    for (QWidget* w : all)
      if (!form3->isAncestorOf(w)) return w;
    return nullptr;
  }
  QWidget* dialog(const char* name) const {
    return form3->findChild<QWidget*>(QString::fromLatin1(name));
  }
  QString text(QWidget* w) const {
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    return QStringLiteral("<no text>");
  }
  QString mainText(const char* name) const { return text(main(name)); }
  QComboBox* list(const char* name) const { return qobject_cast<QComboBox*>(main(name)); }
  QStringList items(QComboBox* list) const {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->itemText(i);
    return out;
  }
  // Applies the captions again, as at start-up.
  void load() { LoadCaptions(form1, *form1.Form3()); }
};

bool IsDialogEntry(const CaptionEntry& e) {
  return e.kind == CaptionKind::DialogText || e.kind == CaptionKind::DialogItem;
}

// Pixels a label's or button's content takes in one line: the text, and a
// button's icon or a check box's box beside it, with the style's gaps. The
// frame's padding is left to spare: the text is cut only past the edge.
int TextWidthNeeded(QWidget* w) {
  w->ensurePolished();
  const QFontMetrics fm = w->fontMetrics();
  if (auto* box = qobject_cast<QCheckBox*>(w))
    return box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
           box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box) +
           fm.horizontalAdvance(box->text());
  // A tool button's size hint is its content in the style's frame and padding,
  // plus a blank either side of the text that is not needed to show it whole.
  if (auto* tool = qobject_cast<QToolButton*>(w))
    return tool->sizeHint().width() - 2 * fm.horizontalAdvance(u' ') -
           (tool->width() - tool->contentsRect().width());
  if (auto* button = qobject_cast<QAbstractButton*>(w))
    return (button->icon().isNull() ? 0 : button->iconSize().width() + 4) +
           fm.horizontalAdvance(button->text());
  if (auto* label = qobject_cast<QLabel*>(w))
    return fm.horizontalAdvance(label->text()) + 2 * label->margin();
  return 0;
}

QByteArray Gbk(const QString& text) {
  QStringEncoder enc("GBK");
  return enc.isValid() ? QByteArray(enc.encode(text)) : QByteArray();
}

// The keys of an INI file, as "section/key", read from its lines.
QStringList IniKeys(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  QStringList keys;
  QString section;
  for (const QByteArray& raw : file.readAll().split('\n')) {
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.startsWith(u'[') && line.endsWith(u']'))
      section = line.mid(1, line.size() - 2).toLower();
    else if (!line.startsWith(u';') && line.contains(u'='))
      keys << section + u'/' + line.section(u'=', 0, 0).trimmed().toLower();
  }
  return keys;
}

} // namespace

class TestCaptions : public QObject {
  Q_OBJECT

private slots:
  void init();
  void cleanup();

  void languageSelector_data();
  void languageSelector();
  void fileTextsReplaceDefaults();
  void controlTextsComeFromWorkingDirectory();
  void gbkFileIsDecoded();
  void getCaption_data();
  void getCaption();
  void getCaptionRereadsTheFile();
  void deliveredFileIsComplete();
  void builtInTextsReachEveryReceiver();
  void captionFilesAreFound_data();
  void captionFilesAreFound();
  void englishFileHasEveryKey();
  void textsFitTheirControls_data();
  void textsFitTheirControls();

private:
  std::unique_ptr<QTemporaryDir> work_;
  std::unique_ptr<QTemporaryDir> exe_;
  QString oldCwd_;
  QString oldExeDir_;

  QString workFile() const { return work_->filePath(QStringLiteral("caption.ini")); }
  QString exeFile() const { return exe_->filePath(QStringLiteral("caption.ini")); }
};

void TestCaptions::init() {
  work_ = std::make_unique<QTemporaryDir>();
  exe_ = std::make_unique<QTemporaryDir>();
  QVERIFY(work_->isValid() && exe_->isValid());
  oldCwd_ = QDir::currentPath();
  oldExeDir_ = ExeDir;
  QVERIFY(QDir::setCurrent(work_->path()));
  ExeDir = exe_->path() + QLatin1Char('/');
  SetPortListing(TestMachinePorts);
}

void TestCaptions::cleanup() {
  SetPortListing({});
  QDir::setCurrent(oldCwd_);
  ExeDir = oldExeDir_;
  SetCaptionFileOverride({});
  work_.reset();
  exe_.reset();
}

void TestCaptions::languageSelector_data() {
  QTest::addColumn<QByteArray>("line");
  QTest::addColumn<bool>("applied");
  QTest::newRow("0") << QByteArray("lang=0") << true;
  QTest::newRow("1") << QByteArray("lang=1") << false;
  QTest::newRow("256, low byte 0") << QByteArray("lang=256") << true;
  QTest::newRow("257") << QByteArray("lang=257") << false;
  QTest::newRow("-1") << QByteArray("lang=-1") << false;
  QTest::newRow("not a number") << QByteArray("lang=english") << true;
}

void TestCaptions::languageSelector() {
  QFETCH(QByteArray, line);
  QFETCH(bool, applied);
  QVERIFY(WriteFile(workFile(), "[Lang]\n" + line + "\n[menu]\ndial=Dial-up\n"));
  Forms f;
  if (applied) {
    QCOMPARE(f.mainText("SpeedButton2"), QStringLiteral("Dial-up"));
    QCOMPARE(f.list("cbPtcl_select")->count(), 5);
    QCOMPARE(f.form3->windowTitle(), QStringLiteral("设置连接串口参数"));
  } else {
    // Not a single control is touched, lists included: the layout's texts.
    QCOMPARE(f.mainText("SpeedButton2"), QStringLiteral("拨号网络"));
    QCOMPARE(f.items(f.list("cbPtcl_select")),
             QStringList({QStringLiteral("透明传输"), QStringLiteral("KTSP协议"),
                          QStringLiteral("HD-DDP")}));
    QCOMPARE(f.list("cb_report")->currentText(), QStringLiteral("关闭"));
    QCOMPARE(f.mainText("Label1"), QStringLiteral("串口设置"));
    QCOMPARE(f.text(f.dialog("BitBtn1")), QStringLiteral("确认"));
  }
}

void TestCaptions::fileTextsReplaceDefaults() {
  QVERIFY(WriteFile(workFile(), "; my captions\n"
                                "[PTCL]\n"
                                "SELECT_PTCL4=\n"
                                "select_ptcl2=\"  KTSP protocol \"\n"
                                "select_ptcl5 =   tail  \n"
                                "[connect_setup]\n"
                                "title=Link <setup> & more\n"
                                "[serial]\n"
                                "group_com_setup=Serial\n"));
  Forms f;
  // An empty value is an empty item: the positions keep their values.
  QCOMPARE(f.items(f.list("cbPtcl_select")),
           QStringList({QStringLiteral("透明传输"), QStringLiteral("  KTSP protocol "),
                        QStringLiteral("HD-DDP"), QString(), QStringLiteral("tail")}));
  QCOMPARE(f.form3->windowTitle(), QStringLiteral("Link <setup> & more"));
  QCOMPARE(f.mainText("Label1"), QStringLiteral("Serial"));
  QCOMPARE(f.text(f.dialog("Label1")), QStringLiteral("串口"));
}

void TestCaptions::controlTextsComeFromWorkingDirectory() {
  // Only the file beside the program: the controls get the built-in texts,
  // the messages still come from there.
  QVERIFY(WriteFile(exeFile(), "[menu]\ndial=from exe dir\n[built_in]\nconnected=OK\n"));
  Forms f;
  QCOMPARE(f.mainText("SpeedButton2"), QStringLiteral("拨号设置"));
  QCOMPARE(GetCaption(QStringLiteral("connected")), QStringLiteral("OK"));

  // And the other way round.
  QVERIFY(QFile::remove(exeFile()));
  QVERIFY(WriteFile(workFile(), "[menu]\ndial=from cwd\n[built_in]\nconnected=OK\n"));
  f.load();
  QCOMPARE(f.mainText("SpeedButton2"), QStringLiteral("from cwd"));
  QCOMPARE(GetCaption(QStringLiteral("connected")), BuiltInMessage(QStringLiteral("connected")));
}

void TestCaptions::gbkFileIsDecoded() {
  const QByteArray bytes =
      Gbk(QStringLiteral("[menu]\ndial=拨号网络设置\n[built_in]\nconneting=正在连接设备……\n"));
  if (bytes.isEmpty()) QSKIP("no GBK codec in this Qt build");
  QVERIFY(WriteFile(workFile(), bytes));
  QVERIFY(WriteFile(exeFile(), bytes));
  Forms f;
  QCOMPARE(f.mainText("SpeedButton2"), QStringLiteral("拨号网络设置"));
  QCOMPARE(GetCaption(QStringLiteral("conneting")), QStringLiteral("正在连接设备……"));

  // The shipped UTF-8 file with one GBK line added keeps its texts.
  const QByteArray shipped = ReadFile(QStringLiteral(K7V_SOURCE_DIR "/resources/caption.ini"));
  QVERIFY(WriteFile(workFile(), shipped + Gbk(QStringLiteral("; 本地修改\n"))));
  QVERIFY(WriteFile(exeFile(), Gbk(QStringLiteral("; 本地修改\n")) + shipped));
  f.load();
  QCOMPARE(f.mainText("SpeedButton2"), QStringLiteral("拨号设置"));
  QCOMPARE(GetCaption(QStringLiteral("conneting")), QStringLiteral("正在连接设备……"));
}

void TestCaptions::getCaption_data() {
  QTest::addColumn<QByteArray>("file");
  QTest::addColumn<QString>("key");
  QTest::addColumn<QString>("expected");
  // The profile rules (names in any case, blanks dropped) are those of the
  // INI reader; here only that the messages are read by them.
  const QByteArray file = "[menu]\nconnected=wrong section\n"
                          "[BUILT_IN]\n"
                          "CONNECTED = 已连接 \n"
                          "par_error=\n";
  QTest::newRow("profile rules") << file << "Connected" << QStringLiteral("已连接");
  QTest::newRow("empty value") << file << "par_error" << QString();
  QTest::newRow("missing key") << file << "download_completed" << QString();
  QTest::newRow("no section") << QByteArray("[menu]\nconnected=x\n") << "connected" << QString();
  // No caption file at all: every message keeps its words.
  QTest::newRow("no file") << QByteArray() << "open_serial_error" << QStringLiteral("串口打开失败");
  // A caption.ini made for the first version: its own keys as they are, the
  // later ones from the built-in texts, so no failure logs an empty line.
  const QByteArray firstVersion = "[built_in]\nconnected=OK\n";
  QTest::newRow("later key, old file")
      << firstVersion << "serial_lost" << QStringLiteral("串口已断开（设备被拔出或出错）");
  QTest::newRow("later key, no file")
      << QByteArray() << "download_failed" << QStringLiteral("固件升级失败：设备拒绝了固件");
  QTest::newRow("later key, file wins") << QByteArray("[built_in]\nbin_error=bad image\n")
                                        << "bin_error" << QStringLiteral("bad image");
}

void TestCaptions::getCaption() {
  QFETCH(QByteArray, file);
  QFETCH(QString, key);
  QFETCH(QString, expected);
  if (!file.isEmpty()) QVERIFY(WriteFile(exeFile(), file));
  QCOMPARE(GetCaption(key), expected);
}

void TestCaptions::getCaptionRereadsTheFile() {
  QVERIFY(WriteFile(exeFile(), "[built_in]\nexported=first\n"));
  QCOMPARE(GetCaption(QStringLiteral("exported")), QStringLiteral("first"));
  QVERIFY(WriteFile(exeFile(), "[built_in]\nexported=second\n"));
  QCOMPARE(GetCaption(QStringLiteral("exported")), QStringLiteral("second"));
  QVERIFY(QFile::remove(exeFile()));
  QCOMPARE(GetCaption(QStringLiteral("exported")), QStringLiteral("参数文件已导出"));
}

void TestCaptions::deliveredFileIsComplete() {
  // The caption.ini shipped beside the program: a text for every message key
  // and every control key, and applying it gives the built-in texts.
  const QString dir = QStringLiteral(K7V_SOURCE_DIR "/resources/");
  QVERIFY(QFile::exists(dir + QStringLiteral("caption.ini")));
  ExeDir = dir;
  const QStringList messages =
      QStringLiteral(
          "open_serial open_serial_error open_serial_error_code serial_opened conneting "
          "connected connect_failed serial_closed app_par_reading app_par_read_completed "
          "app_par_read_failed sys_par_read_completed sys_par_read_failed app_par_saving "
          "app_par_save_completed app_par_save_failed_with_checksum_error "
          "app_par_save_failed_with_timeout default_par par_error imported exported select_bin "
          "start_download download_completed serial_lost export_failed import_failed bin_error "
          "download_failed bin_kept parcfg_value_unusable parcfg_no_selection switchchr_blank "
          "switchchr_quoted not_plain_file param_file_short param_file_long value_not_shown")
          .split(u' ');
  // Read from the file itself: the later keys' built-in texts would hide a gap.
  const IniTextFile file(dir + QStringLiteral("caption.ini"));
  for (const QString& key : messages)
    QVERIFY2(!file.GetString(QStringLiteral("built_in"), key, {}).isEmpty(), qPrintable(key));

  // Without a caption file the messages read as the delivered file words them.
  for (const QString& key : IniKeys(dir + QStringLiteral("caption.ini")))
    if (key.startsWith(QLatin1String("built_in/")))
      QVERIFY2(BuiltInMessage(key.mid(9)) ==
                   file.GetString(QStringLiteral("built_in"), key.mid(9), {}),
               qPrintable(key));

  // Every control key is present (a missing one would hide behind its
  // default) and spells the built-in text.
  QCOMPARE(file.encoding(), IniTextFile::Encoding::Utf8);
  QCOMPARE(file.GetInt(QStringLiteral("lang"), QStringLiteral("lang")), std::optional<int>(0));
  const QString missing = QStringLiteral("\x01missing");
  for (const CaptionEntry& e : kCaptionTable) {
    const QString value =
        file.GetString(QString::fromLatin1(e.section), QString::fromLatin1(e.key), missing);
    QVERIFY2(value == QString::fromUtf8(e.def),
             qPrintable(QStringLiteral("%1/%2: %3").arg(e.section, e.key, value)));
  }
}

void TestCaptions::builtInTextsReachEveryReceiver() {
  // No caption.ini in the working directory: the built-in texts, on controls
  // of the right kind in the right window.
  Forms f;
  // Nor anywhere else: one black line names where caption.ini was looked for.
  const auto* log = f.form1.findChild<QPlainTextEdit*>(QStringLiteral("RichEdit1"));
  QVERIFY(log);
  const QTextBlock line = log->document()->firstBlock();
  QVERIFY2(line.text().startsWith(BuiltInMessage(QStringLiteral("captions_missing"))) &&
               line.text().contains(QDir::toNativeSeparators(workFile())) && !line.next().isValid(),
           qPrintable(log->toPlainText()));
  QCOMPARE(line.begin().fragment().charFormat().foreground().color(), QColor(Qt::black));
  QCOMPARE(f.mainText("SpeedButton2"), QStringLiteral("拨号设置"));
  QCOMPARE(f.items(f.list("cbPtcl_select")),
           QStringList({QStringLiteral("透明传输"), QStringLiteral("KTSP"),
                        QStringLiteral("HD-DDP"), QStringLiteral("Modbus-tcp 2 rtu TCP-CLIENT"),
                        QStringLiteral("Modbus-tcp 2 rtu TCP-SERVER")}));
  QCOMPARE(f.list("cbPtcl_select")->currentIndex(), 0); // refilled lists keep their first item
  QCOMPARE(f.list("cb_report")->currentIndex(), 0);
  QCOMPARE(f.list("cb_report")->currentText(), QStringLiteral("无"));
  QCOMPARE(f.mainText("StatusPanel2"), QStringLiteral("DTU Tools Workshop"));
  QCOMPARE(f.mainText("StatusPanel3"), QStringLiteral("www.dtu-tools.example.net"));
  // Same names, different windows, different texts.
  QCOMPARE(f.mainText("Label1"), QStringLiteral("通讯参数"));
  QCOMPARE(f.text(f.dialog("Label1")), QStringLiteral("串口"));
  QCOMPARE(f.mainText("Label16"), QStringLiteral("切换命令"));
  QCOMPARE(f.form3->windowTitle(), QStringLiteral("设置连接串口参数"));
  QCOMPARE(f.text(f.dialog("BitBtn1")), QStringLiteral("确定"));
  QCOMPARE(f.mainText("cb_insert_enable"), QStringLiteral("插入ID"));

  std::map<QString, QStringList> items;
  for (const CaptionEntry& e : kCaptionTable) {
    const QString def = QString::fromUtf8(e.def);
    const QString where = QStringLiteral("%1/%2 -> %3").arg(e.section, e.key, e.receiver);
    switch (e.kind) {
    case CaptionKind::Text:
      QVERIFY2(f.mainText(e.receiver) == def,
               qPrintable(where + " reads " + f.mainText(e.receiver)));
      break;
    case CaptionKind::DialogText:
      QVERIFY2(f.text(f.dialog(e.receiver)) == def, qPrintable(where));
      break;
    case CaptionKind::DialogTitle:
      QCOMPARE(f.form3->windowTitle(), def);
      break;
    case CaptionKind::Item:
    case CaptionKind::DialogItem: {
      QWidget* w = e.kind == CaptionKind::Item ? f.main(e.receiver) : f.dialog(e.receiver);
      QVERIFY2(qobject_cast<QComboBox*>(w), qPrintable(where));
      items[QStringLiteral("%1/%2").arg(e.kind == CaptionKind::Item ? "main" : "dialog",
                                        e.receiver)]
          << def;
      break;
    }
    }
  }
  for (const auto& [name, expected] : items) {
    const QStringList parts = name.split(u'/');
    auto* list = qobject_cast<QComboBox*>(parts[0] == u"main" ? f.main(qPrintable(parts[1]))
                                                              : f.dialog(qPrintable(parts[1])));
    QCOMPARE(f.items(list), expected);
  }

  // Filling the lists runs no change rule.
  QSignalSpy ptclChanged(f.list("cbPtcl_select"), &QComboBox::currentIndexChanged);
  QSignalSpy parityChanged(f.dialog("cbParitybit"), SIGNAL(currentIndexChanged(int)));
  f.load();
  QCOMPARE(ptclChanged.count(), 0);
  QCOMPARE(parityChanged.count(), 0);
}

void TestCaptions::captionFilesAreFound_data() {
  // Which files exist: in the working directory, beside the program (bin/),
  // installed in share/k7vconf/ (Chinese and English), and one named with
  // --captions; and the user's language (LC_ALL, LC_MESSAGES, LANG).
  QTest::addColumn<QStringList>("places");
  QTest::addColumn<QStringList>("language");
  QTest::addColumn<QString>("controlsFrom");
  QTest::addColumn<QString>("messagesFrom");
  const QStringList installed{"share", "share-en"};
  const QStringList chinese{"", "", "zh_CN.UTF-8"};
  const QStringList english{"", "", "en_GB.UTF-8"};
  QTest::newRow("installed, Chinese user") << installed << chinese << "share"
                                           << "share";
  QTest::newRow("installed, English user") << installed << english << "share-en"
                                           << "share-en";
  QTest::newRow("LC_ALL before LANG")
      << installed << QStringList{"C.UTF-8", "", "zh_CN.UTF-8"} << "share-en"
      << "share-en";
  QTest::newRow("LC_MESSAGES before LANG")
      << installed << QStringList{"", "zh_TW.UTF-8", "en_US.UTF-8"} << "share"
      << "share";
  QTest::newRow("installed Chinese only, English user")
      << QStringList{"share"} << english << "share"
      << "share";
  QTest::newRow("own copies first") << QStringList{"cwd", "bin"} + installed << english << "cwd"
                                    << "bin";
  QTest::newRow("own controls keep the messages Chinese")
      << QStringList{"cwd"} + installed << english << "cwd"
      << "share";
  QTest::newRow("named file for both")
      << QStringList{"cwd", "bin", "named"} + installed << english << "named"
      << "named";
  QTest::newRow("none") << QStringList{} << english << "拨号设置"
                        << "设备已连接，进入配置模式";
}

void TestCaptions::captionFilesAreFound() {
  QFETCH(QStringList, places);
  QFETCH(QStringList, language);
  QFETCH(QString, controlsFrom);
  QFETCH(QString, messagesFrom);
  const char* variables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  QList<QByteArray> saved;
  for (int i = 0; i < 3; ++i) {
    saved << qgetenv(variables[i]);
    qputenv(variables[i], language[i].toUtf8());
  }
  const auto restore = qScopeGuard([&] {
    for (int i = 0; i < 3; ++i) qputenv(variables[i], saved[i]);
  });
  // An installed layout: the program in bin/, its texts in share/k7vconf/.
  ExeDir = exe_->filePath(QStringLiteral("bin/"));
  const QMap<QString, QString> files = {
      {"cwd", workFile()},
      {"bin", ExeDir + QStringLiteral("caption.ini")},
      {"share", exe_->filePath(QStringLiteral("share/k7vconf/caption.ini"))},
      {"share-en", exe_->filePath(QStringLiteral("share/k7vconf/caption-en.ini"))},
      {"named", exe_->filePath(QStringLiteral("texts/mine.ini"))}};
  for (const QString& place : places) {
    QVERIFY(QDir().mkpath(QFileInfo(files[place]).path()));
    QVERIFY(WriteFile(files[place], "[menu]\ndial=" + place.toUtf8() +
                                        "\n[built_in]\nconnected=" + place.toUtf8() + "\n"));
  }
  if (places.contains(QStringLiteral("named"))) SetCaptionFileOverride(files["named"]);
  Forms f;
  f.load(); // the window set ExeDir to the test program's own; again with the layout's
  QCOMPARE(f.mainText("SpeedButton2"), controlsFrom);
  QCOMPARE(GetCaption(QStringLiteral("connected")), messagesFrom);
}

void TestCaptions::englishFileHasEveryKey() {
  const QString dir = QStringLiteral(K7V_SOURCE_DIR "/resources/");
  const QStringList chinese = IniKeys(dir + QStringLiteral("caption.ini"));
  const QStringList english = IniKeys(dir + QStringLiteral("caption-en.ini"));
  QVERIFY(chinese.size() > 100);
  QStringList missing;
  for (const QString& key : chinese)
    if (!english.contains(key)) missing << key;
  QVERIFY2(missing.isEmpty(), qPrintable(missing.join(u' ')));
  // Read as the program reads it: every text is there and not empty.
  const IniTextFile file(dir + QStringLiteral("caption-en.ini"));
  for (const QString& key : english)
    QVERIFY2(!file.GetString(key.section(u'/', 0, 0), key.section(u'/', 1), {}).isEmpty(),
             qPrintable(key));
}

void TestCaptions::textsFitTheirControls_data() {
  QTest::addColumn<QString>("file");
  // The built-in control texts are the shipped caption.ini's, word for word.
  QTest::newRow("caption.ini") << QStringLiteral(K7V_SOURCE_DIR "/resources/caption.ini");
  QTest::newRow("caption-en.ini") << QStringLiteral(K7V_SOURCE_DIR "/resources/caption-en.ini");
}

void TestCaptions::textsFitTheirControls() {
  QFETCH(QString, file);
  // The window's own fonts and style sheet, as the program starts.
  InstallFontSubstitutions();
  ApplyStyle(*qApp);
  SetCaptionFileOverride(file);
  Forms f;
  f.form1.ensurePolished(); // the style sheet's fonts (bold buttons) are in place
  QStringList cut;
  for (const CaptionEntry& e : kCaptionTable) {
    QWidget* w = IsDialogEntry(e) ? f.dialog(e.receiver) : f.main(e.receiver);
    if (!w) continue; // the dialog's title
    const QString where = QStringLiteral("%1/%2").arg(e.section, e.key);
    if (auto* list = qobject_cast<QComboBox*>(w)) {
      QStyleOptionComboBox opt;
      opt.initFrom(list);
      opt.editable = false;
      const int room =
          list->style()
              ->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, list)
              .width();
      for (int i = 0; i < list->count(); ++i)
        if (list->fontMetrics().horizontalAdvance(list->itemText(i)) > room)
          cut << QStringLiteral("%1 item %2 \"%3\" (room %4)")
                     .arg(where)
                     .arg(i)
                     .arg(list->itemText(i))
                     .arg(room);
    } else if (const int need = TextWidthNeeded(w), room = w->contentsRect().width(); need > room) {
      cut << QStringLiteral("%1 \"%2\" needs %3, has %4").arg(where, f.text(w)).arg(need).arg(room);
    }
  }
  cut.removeDuplicates();
  QVERIFY2(cut.isEmpty(), qPrintable(cut.join(u'\n')));
}

QTEST_MAIN(TestCaptions)
#include "test_captions.moc"
