// The link settings dialog, parcfg.ini, and INI files in either text encoding.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include "app/link_settings_dialog.h"
#include "platform/ini_text.h"
#include "support/bytes.h"
#include "support/window_fixture.h"

namespace {

QByteArray Gbk(const QString& text) {
  QStringEncoder enc("GBK");
  return enc.encode(text);
}

const QString kCaptionText =
    QStringLiteral("[connect_setup]\r\ntitle=设置连接串口参数\r\nparitybit3= \"偶\" \r\n"
                   "[serial]\r\ncom=串口1\r\n");

} // namespace

class TestLinkSettings : public QObject {
  Q_OBJECT

private slots:
  void init();
  void cleanup();

  void encodingsDecodeAlike_data();
  void encodingsDecodeAlike();
  void writeKeepsTheFilesEncoding();
  void writeRefusesTextTheEncodingCannotHold();
  void writeFailsWhereNoFileCanBe();

  void layoutLists();
  void defaultsWithoutFile();
  void loadIndexes_data();
  void loadIndexes();
  void saveThenLoadRoundTrip();
  void saveKeepsOtherContent();
  void saveStopsAtFirstFailingKey();
  void settingsFromControls();
  void refreshKeepsTypedPort();
  void buttonsCloseWithResult();
  void switchCommandKeptOrRefused_data();
  void switchCommandKeptOrRefused();

private:
  QString Path(const QString& name) const { return dir_->filePath(name); }
  std::unique_ptr<QTemporaryDir> dir_;
};

void TestLinkSettings::init() {
  dir_ = std::make_unique<QTemporaryDir>();
  QVERIFY(dir_->isValid());
  SetPortListing(TestMachinePorts);
}

void TestLinkSettings::cleanup() { SetPortListing({}); }

void TestLinkSettings::encodingsDecodeAlike_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<int>("encoding");
  QTest::newRow("GBK") << Gbk(kCaptionText) << int(IniTextFile::Encoding::Ansi);
  QTest::newRow("UTF-8") << kCaptionText.toUtf8() << int(IniTextFile::Encoding::Utf8);
  QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF") + kCaptionText.toUtf8()
                                  << int(IniTextFile::Encoding::Utf8);
  QTest::newRow("UTF-16 LE") << Utf16File(kCaptionText, false)
                             << int(IniTextFile::Encoding::Utf16Le);
  QTest::newRow("UTF-16 BE") << Utf16File(kCaptionText, true)
                             << int(IniTextFile::Encoding::Utf16Be);
  // Lines added in a GBK editor must not turn the UTF-8 lines into mojibake.
  const qsizetype com = kCaptionText.indexOf(QStringLiteral("com="));
  QTest::newRow("UTF-8 with a GBK value")
      << kCaptionText.left(com).toUtf8() + Gbk(kCaptionText.mid(com))
      << int(IniTextFile::Encoding::Utf8WithAnsiLines);
}

void TestLinkSettings::encodingsDecodeAlike() {
  QFETCH(QByteArray, bytes);
  QFETCH(int, encoding);
  QVERIFY(WriteFile(Path("caption.ini"), bytes));
  const IniTextFile ini(Path("caption.ini"));
  QVERIFY(ini.exists());
  QCOMPARE(int(ini.encoding()), encoding);
  QCOMPARE(ini.GetString("CONNECT_SETUP", "Title", "x"), QStringLiteral("设置连接串口参数"));
  QCOMPARE(ini.GetString("connect_setup", "paritybit3", "x"), QStringLiteral("偶"));
  QCOMPARE(ini.GetString("serial", "com", "x"), QStringLiteral("串口1"));
  QCOMPARE(ini.GetString("serial", "conf", "dflt"), QStringLiteral("dflt"));
}

void TestLinkSettings::writeKeepsTheFilesEncoding() {
  // GBK stays GBK, and nothing but the written line changes.
  const QString gbkPath = Path("gbk.ini");
  QVERIFY(WriteFile(gbkPath, Gbk(kCaptionText)));
  QVERIFY(WriteIniString(gbkPath, "serial", "com", QStringLiteral("口2")));
  QCOMPARE(ReadFile(gbkPath), Gbk(QString(kCaptionText).replace("串口1", "口2")));

  // UTF-8 with its byte order mark stays so.
  const QString utf8Path = Path("utf8.ini");
  const QByteArray bom("\xEF\xBB\xBF");
  QVERIFY(WriteFile(utf8Path, bom + kCaptionText.toUtf8()));
  QVERIFY(WriteIniString(utf8Path, "serial", "conf", QStringLiteral("切换")));
  QCOMPARE(ReadFile(utf8Path), bom + (kCaptionText + "conf=切换\r\n").toUtf8());

  // A GBK file whose only line that UTF-8 cannot read is rewritten: had it
  // stayed GBK, the next reading would take it for UTF-8 and 模 would read ģ.
  const QString flipPath = Path("flip.ini");
  QVERIFY(WriteFile(flipPath, Gbk(QStringLiteral("[serial]\r\ncom=串口\r\nconf=模\r\n"))));
  QVERIFY(WriteIniString(flipPath, "serial", "com", "COM3"));
  QCOMPARE(IniTextFile(flipPath).GetString("serial", "conf", ""), QStringLiteral("模"));
  QCOMPARE(IniTextFile(flipPath).GetString("serial", "com", ""), QStringLiteral("COM3"));

  // A new file is UTF-8.
  const QString newPath = Path("new.ini");
  QVERIFY(WriteIniString(newPath, "serial", "com", QStringLiteral("无")));
  QCOMPARE(ReadFile(newPath), QStringLiteral("[serial]\r\ncom=无\r\n").toUtf8());
  QCOMPARE(IniTextFile(newPath).GetString("serial", "com", ""), QStringLiteral("无"));
}

void TestLinkSettings::writeRefusesTextTheEncodingCannotHold() {
  const QString path = Path("gbk.ini");
  const QByteArray before = Gbk(kCaptionText);
  QVERIFY(WriteFile(path, before));
  QVERIFY(!WriteIniString(path, "serial", "com", QStringLiteral("COM\U0001F600")));
  QVERIFY(!WriteIniString(path, "serial", "com", QStringLiteral("a\nb")));
  QCOMPARE(ReadFile(path), before);
}

void TestLinkSettings::writeFailsWhereNoFileCanBe() {
  QVERIFY(!WriteIniString(Path("no/such/dir/parcfg.ini"), "serial", "com", "COM1"));
  QVERIFY(!WriteIniString(dir_->path(), "serial", "com", "COM1"));
  QVERIFY(!IniTextFile(dir_->path()).exists());
  QVERIFY(!IniTextFile(Path("missing.ini")).exists());
}

void TestLinkSettings::layoutLists() {
  // List positions are the values saved in parcfg.ini, so the orders matter.
  TForm3 form;
  auto items = [](const QComboBox* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->itemText(i);
    return out;
  };
  QCOMPARE(items(form.cbbaudrate), QStringList({"115200", "57600", "38400", "19200", "9600", "4800",
                                                "2400", "1200", "600", "300"}));
  QCOMPARE(items(form.cbDatabit), QStringList({"8", "7"}));
  QCOMPARE(items(form.cbParitybit), QStringList({"无", "奇", "偶"}));
  QCOMPARE(items(form.cgStopbit), QStringList({"2", "1"}));
  QCOMPARE(form.edSwitchChr->maxLength(), 6);
  QVERIFY(form.cb_com->isEditable());
}

void TestLinkSettings::defaultsWithoutFile() {
  const PortListing system = SetPortListing([] { return QStringList{"COM1"}; });
  const auto restore = qScopeGuard([&] { SetPortListing(system); });
  TForm3 form;
  // The layout's own selections must not survive a load without a file.
  form.cb_com->setEditText("ttyS0");
  form.cbbaudrate->setCurrentIndex(5);
  form.cbDatabit->setCurrentIndex(1);
  form.cgStopbit->setCurrentIndex(0);
  form.cbParitybit->setCurrentIndex(2);
  form.edSwitchChr->setText("+++");

  LoadLinkSettings(form, Path("parcfg.ini"));
  QCOMPARE(form.LinkSummary(false), QStringLiteral("COM1,115200-8-无-1-######"));
  QCOMPARE(form.LinkSummary(true), QStringLiteral("COM1,115200-8-无-1, ######"));
  QVERIFY(!QFile::exists(Path("parcfg.ini")));
}

void TestLinkSettings::loadIndexes_data() {
  QTest::addColumn<QByteArray>("line");
  QTest::addColumn<QString>("list");
  QTest::addColumn<int>("index");
  QTest::addColumn<QString>("note"); // key=value>item used instead, for the start-up line
  // What counts as an integer is the INI reader's (test_core_ini); here each
  // key reaching its list, and a value that is no whole integer, not even
  // "2x", giving the default.
  QTest::newRow("baud index 4 is 9600") << QByteArray("baudrate=4") << "cbbaudrate" << 4 << "";
  QTest::newRow("baud outside the list")
      << QByteArray("baudrate=10") << "cbbaudrate" << -1 << "baudrate=10>";
  QTest::newRow("baud with trailing text")
      << QByteArray("baudrate=2x") << "cbbaudrate" << 0 << "baudrate=2x>115200";
  QTest::newRow("data bits 7") << QByteArray("databit=1") << "cbDatabit" << 1 << "";
  QTest::newRow("two stop bits") << QByteArray("stopbit=0") << "cgStopbit" << 0 << "";
  QTest::newRow("negative stop bits")
      << QByteArray("stopbit=-1") << "cgStopbit" << -1 << "stopbit=-1>";
  QTest::newRow("quoted odd parity") << QByteArray("PARITYBIT = '1'") << "cbParitybit" << 1 << "";
}

void TestLinkSettings::loadIndexes() {
  QFETCH(QByteArray, line);
  QFETCH(QString, list);
  QFETCH(int, index);
  QFETCH(QString, note);
  QVERIFY(WriteFile(Path("parcfg.ini"), "[Serial]\r\n" + line + "\r\n"));
  TForm3 form;
  const QList<LinkSettingsNote> notes = LoadLinkSettings(form, Path("parcfg.ini"));
  QStringList told;
  for (const LinkSettingsNote& n : notes) told << n.key + '=' + n.value + '>' + n.usedInstead;
  QCOMPARE(told.join(';'), note);
  auto* combo = form.findChild<QComboBox*>(list);
  QVERIFY(combo);
  QCOMPARE(combo->currentIndex(), index);
  if (index < 0) QCOMPARE(combo->currentText(), QString());
}

void TestLinkSettings::saveThenLoadRoundTrip() {
  TForm3 saved;
  saved.cb_com->setEditText("ttyUSB0");
  saved.cbbaudrate->setCurrentIndex(3);
  saved.cbDatabit->setCurrentIndex(1);
  saved.cgStopbit->setCurrentIndex(0);
  saved.cbParitybit->setCurrentIndex(2);
  saved.edSwitchChr->setText("+++AT");
  QVERIFY(SaveLinkSettings(saved, Path("parcfg.ini")));
  QCOMPARE(ReadFile(Path("parcfg.ini")),
           QByteArray("[serial]\r\ncom=ttyUSB0\r\nbaudrate=3\r\ndatabit=1\r\nstopbit=0\r\n"
                      "paritybit=2\r\nconf=+++AT\r\n"));

  TForm3 loaded;
  LoadLinkSettings(loaded, Path("parcfg.ini"));
  QCOMPARE(loaded.LinkSummary(false), QStringLiteral("ttyUSB0,19200-7-偶-2-+++AT"));
  QCOMPARE(loaded.LinkSummary(true), QStringLiteral("ttyUSB0,19200-7-偶-2, +++AT"));

  // A list without a selection is saved as -1 and loads without one again.
  loaded.cbbaudrate->setCurrentIndex(-1);
  QVERIFY(SaveLinkSettings(loaded, Path("parcfg.ini")));
  TForm3 again;
  LoadLinkSettings(again, Path("parcfg.ini"));
  QCOMPARE(again.cbbaudrate->currentIndex(), -1);
}

void TestLinkSettings::saveKeepsOtherContent() {
  const QByteArray before = "; written by hand\n[other]\nx=1\n\n[SERIAL]\nCom = COM9\nextra=keep\n"
                            "conf=\"abc\"\n";
  QVERIFY(WriteFile(Path("parcfg.ini"), before));
  TForm3 form;
  LoadLinkSettings(form, Path("parcfg.ini"));
  QVERIFY(SaveLinkSettings(form, Path("parcfg.ini")));
  // Values that read as the controls hold them keep their lines as written.
  QCOMPARE(ReadFile(Path("parcfg.ini")),
           QByteArray("; written by hand\n[other]\nx=1\n\n[SERIAL]\nCom = COM9\nextra=keep\n"
                      "conf=\"abc\"\nbaudrate=0\ndatabit=0\nstopbit=1\nparitybit=0\n"));
}

void TestLinkSettings::saveStopsAtFirstFailingKey() {
  TForm3 form;
  LoadLinkSettings(form, Path("parcfg.ini"));
  QVERIFY(!SaveLinkSettings(form, Path("no/such/dir/parcfg.ini")));

  // A GBK file cannot hold the switch command, the last key: the keys before it
  // are written, the file stays GBK.
  QVERIFY(WriteFile(Path("parcfg.ini"), Gbk("[serial]\r\ncom=串口\r\n")));
  LoadLinkSettings(form, Path("parcfg.ini"));
  QCOMPARE(form.cb_com->currentText(), QStringLiteral("串口"));
  form.cbbaudrate->setCurrentIndex(4);
  form.edSwitchChr->setText(QStringLiteral("\U0001F600"));
  QVERIFY(!SaveLinkSettings(form, Path("parcfg.ini")));
  QCOMPARE(ReadFile(Path("parcfg.ini")),
           Gbk("[serial]\r\ncom=串口\r\nbaudrate=4\r\ndatabit=0\r\nstopbit=1\r\nparitybit=0\r\n"));
}

void TestLinkSettings::settingsFromControls() {
  const PortListing system = SetPortListing([] { return QStringList{"COM1"}; });
  const auto restore = qScopeGuard([&] { SetPortListing(system); });
  TForm3 form;
  LoadLinkSettings(form, Path("parcfg.ini"));
  LineSettings s = form.Settings();
  QCOMPARE(s.portName, QStringLiteral("COM1"));
  QCOMPARE(s.baudRate, 115200);
  QCOMPARE(s.dataBits, 8);
  QCOMPARE(s.stopBitsIndex, 1);
  QCOMPARE(s.parityIndex, 0);

  form.cbbaudrate->setCurrentIndex(9);
  form.cbDatabit->setCurrentIndex(1);
  form.cgStopbit->setCurrentIndex(0);
  form.cbParitybit->setCurrentIndex(1);
  s = form.Settings();
  QCOMPARE(s.baudRate, 300);
  QCOMPARE(s.dataBits, 7);
  QCOMPARE(s.stopBitsIndex, 0);
  QCOMPARE(s.parityIndex, 1);

  // No selection gives no value, for the port to refuse.
  form.cbbaudrate->setCurrentIndex(-1);
  form.cbDatabit->setCurrentIndex(-1);
  form.cbParitybit->setCurrentIndex(-1);
  s = form.Settings();
  QCOMPARE(s.baudRate, 0);
  QCOMPARE(s.dataBits, 0);
  QCOMPARE(s.parityIndex, -1);
}

void TestLinkSettings::refreshKeepsTypedPort() {
  TForm3 form;
  form.cb_com->setEditText("/dev/ttyS9");
  form.RefreshPorts();
  QCOMPARE(form.cb_com->currentText(), QStringLiteral("/dev/ttyS9"));
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  QCOMPARE(form.cb_com->currentText(), QStringLiteral("/dev/ttyS9"));
  QCOMPARE(form.Settings().portName, QStringLiteral("/dev/ttyS9"));
}

void TestLinkSettings::buttonsCloseWithResult() {
  TForm3 form;
  QSignalSpy finished(&form, &QDialog::finished);
  form.open();
  QTest::mouseClick(form.BitBtn2, Qt::LeftButton);
  QCOMPARE(finished.count(), 1);
  QCOMPARE(finished.takeFirst().at(0).toInt(), int(QDialog::Rejected));

  form.open();
  QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
  QCOMPARE(finished.count(), 1);
  QCOMPARE(finished.takeFirst().at(0).toInt(), int(QDialog::Accepted));
}

void TestLinkSettings::switchCommandKeptOrRefused_data() {
  QTest::addColumn<QString>("command");
  QTest::addColumn<int>("fault");
  using F = TForm3::SwitchCommandFault;
  QTest::newRow("longer than the typing limit") << "+++AT+CONF" << int(F::None);
  QTest::newRow("blank and quote inside") << "# \"#" << int(F::None);
  QTest::newRow("lone quote") << "'" << int(F::None);
  QTest::newRow("leading blank") << " #####" << int(F::BlankAtEnd);
  QTest::newRow("trailing tab") << "#####\t" << int(F::BlankAtEnd);
  QTest::newRow("quotes around") << "'##'" << int(F::Quoted);
}

void TestLinkSettings::switchCommandKeptOrRefused() {
  QFETCH(QString, command);
  QFETCH(int, fault);
  TForm3 form;
  form.SetSwitchCommand(command); // as parcfg.ini gave it
  form.open();
  // Judged as soon as it is shown: OK waits, the reason stands under the field.
  QCOMPARE(form.BitBtn1->isEnabled(), fault == 0);
  QCOMPARE(form.lbSwitchChrFault->isVisible(), fault != 0);
  QTest::mouseClick(form.BitBtn1, Qt::LeftButton);
  QCOMPARE(form.isVisible(), fault != 0);
  if (fault) {
    QVERIFY(!form.lbSwitchChrFault->text().isEmpty());
    // Mended, OK comes back; a blank typed at the end takes it away again.
    form.edSwitchChr->clear();
    QTest::keyClicks(form.edSwitchChr, "##");
    QVERIFY(form.BitBtn1->isEnabled() && !form.lbSwitchChrFault->isVisible());
    QTest::keyClicks(form.edSwitchChr, " ");
    QVERIFY(!form.BitBtn1->isEnabled() && form.lbSwitchChrFault->isVisible());
    return;
  }
  // What the dialog lets through comes back from parcfg.ini whole, and
  // typing cannot lengthen it past six characters or its own length.
  QVERIFY(SaveLinkSettings(form, Path("parcfg.ini")));
  TForm3 again;
  LoadLinkSettings(again, Path("parcfg.ini"));
  QCOMPARE(again.edSwitchChr->text(), command);
  QTest::keyClicks(again.edSwitchChr, "1234567");
  QCOMPARE(again.edSwitchChr->text().size(), std::max<qsizetype>(6, command.size()));
}

QTEST_MAIN(TestLinkSettings)
#include "test_link_settings.moc"
