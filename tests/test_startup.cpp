// Start-up and shutdown of the main window, its frame, and page navigation:
// what the technician sees before touching anything, and what is left behind
// in parcfg.ini when the window closes.

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QFile>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "app/fonts.h"
#include "app/link_settings_dialog.h"
#include "app/style.h"
#include "platform/profile_ini.h"
#include "support/bytes.h"
#include "support/fake_serial_port.h"
#include "support/window_fixture.h"

namespace {

// Files to place in the working directory before the window starts.
WindowFixture::Prepare Files(QByteArray parcfg, QByteArray caption = {}) {
  return [parcfg, caption](const QDir& dir) {
    if (!parcfg.isNull() && !WriteFile(dir.filePath("parcfg.ini"), parcfg))
      qFatal("cannot write parcfg.ini");
    if (!caption.isNull() && !WriteFile(dir.filePath("caption.ini"), caption))
      qFatal("cannot write caption.ini");
  };
}

// A fixture whose serial port the test can inspect; the window owns the port.
// The shipped caption.ini is in its working folder unless withCaptions is false.
struct Started {
  FakeSerialPort* port;
  WindowFixture fx;
  explicit Started(const WindowFixture::Prepare& prepare = {}, bool withCaptions = true)
      : port(new FakeSerialPort), fx(std::unique_ptr<SerialPort>(port), withCaptions, prepare) {}
};

QString ParcfgValue(const QString& dir, const char* key) {
  const std::string path = QDir(dir).filePath(QStringLiteral("parcfg.ini")).toStdString();
  return QString::fromStdString(ReadProfileString(path, "serial", key, "<missing>"));
}

// Opens the link settings dialog with its tool button and, once it is up,
// lets edit change it and closes it with OK or Cancel.
void RunLinkDialog(WindowFixture& fx, bool accept, const std::function<void(TForm3&)>& edit = {}) {
  TForm3* dialog = fx.form().Form3();
  QTimer answer;
  answer.setInterval(0);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    if (!dialog->isVisible()) return;
    answer.stop();
    if (edit) edit(*dialog);
    accept ? dialog->accept() : dialog->reject();
  });
  answer.start();
  fx.click("SpeedButton30"); // returns when the modal dialog has closed
  answer.stop();
}

} // namespace

class TestStartup : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void cleanupTestCase();
  void windowFrame();
  void firstStartWithoutFiles_data();
  void firstStartWithoutFiles();
  void windowFontUnderTheStyleSheet();
  void savedSettingsSurviveCaptionRebuild_data();
  void savedSettingsSurviveCaptionRebuild();
  void utf16SettingsFileStaysUtf16File();
  void unwritableSettingsFileSaysWhy();
  void linkDialogOkRewritesSummary();
  void linkDialogCancelKeepsNothing();
  void closeWhileNotConnectedTouchesNoPort();
  void navigation_data();
  void navigation();
  void clickingCurrentPageOnlyMovesFocus();
  void dependentControlsFollowFirstShow();

private:
  PortListing systemPorts_;
};

// The machine's own ports must not decide what a first start shows.
void TestStartup::initTestCase() {
  systemPorts_ = SetPortListing([] { return QStringList{QStringLiteral("ttyS0")}; });
}

void TestStartup::cleanupTestCase() { SetPortListing(systemPorts_); }

void TestStartup::windowFrame() {
  Started s;
  TForm1& form = s.fx.form();
  QCOMPARE(form.windowTitle(), QStringLiteral("K7v Conf tool v1.0.10"));
  QCOMPARE(form.size(), QSize(984, 690));
  QCOMPARE(form.minimumSize(), QSize(984, 690)); // not resizable
  QCOMPARE(form.maximumSize(), QSize(984, 690));
  const Qt::WindowFlags flags = form.windowFlags();
  QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
  QVERIFY(flags & Qt::WindowMinimizeButtonHint);
  QVERIFY(flags & Qt::WindowSystemMenuHint);
  QCOMPARE(form.StatusPanel(0), QStringLiteral("V1.0.10"));
}

void TestStartup::windowFontUnderTheStyleSheet() {
  InstallFontSubstitutions(); // as the program starts
  ApplyStyle(*qApp);
  const auto plain = qScopeGuard([] { qApp->setStyleSheet(QString()); });
  Started s;
  const QString family = QFontInfo(s.fx.form().font()).family();
  QList<QWidget*> shown;
  for (QWidget* w : s.fx.get<QWidget>("StatusBar1")->findChildren<QLabel*>()) shown << w;
  for (QWidget* w : s.fx.get<QWidget>("Panel4")->findChildren<QAbstractButton*>()) shown << w;
  for (QWidget* w : shown)
    QVERIFY2(QFontInfo(w->font()).pixelSize() == 13 && QFontInfo(w->font()).family() == family,
             qPrintable(w->objectName()));
  QVERIFY(s.fx.get<QWidget>("sb_com_open")->font().bold());
  RunLinkDialog(s.fx, false, [](TForm3& d) { // its controls and their drop-down lists
    for (QWidget* w : d.findChildren<QWidget*>())
      if ((!w->objectName().isEmpty() && !w->objectName().startsWith("qt_")) ||
          qobject_cast<QAbstractItemView*>(w))
        QVERIFY2(QFontInfo(w->font()).pixelSize() == 11, qPrintable(w->objectName()));
  });
}

void TestStartup::firstStartWithoutFiles_data() {
  QTest::addColumn<QStringList>("systemPorts"); // as the system lists them
  QTest::addColumn<QString>("port");
  QTest::newRow("USB adapters first")
      << QStringList{"ttyS0", "ttyS1", "ttyACM0", "ttyUSB0"} << QStringLiteral("ttyACM0");
  QTest::newRow("no USB adapter") << QStringList{"ttyS4", "ttyS0"} << QStringLiteral("ttyS4");
  QTest::newRow("no port at all") << QStringList{} << QString();
}

void TestStartup::firstStartWithoutFiles() {
  QFETCH(QStringList, systemPorts);
  QFETCH(QString, port);
  const PortListing fixed = SetPortListing([&] { return systemPorts; });
  const auto restore = qScopeGuard([&] { SetPortListing(fixed); });
  Started s({}, false); // no parcfg.ini, no caption.ini anywhere
  QCOMPARE(s.fx.get<QLabel>("StatusPanel1")->text(),
           port + QStringLiteral(",115200-8-无-1-######"));
  QCOMPARE(s.fx.linkButtons(), QStringLiteral("10000")); // as for a unit that is not connected
  // Only the line that says no caption file was found.
  QCOMPARE(s.fx.logSize(), 1);
  QVERIFY(s.fx.logTexts().first().startsWith(WindowFixture::caption("captions_missing")));
  s.fx.shortenWaitsFrom(); // the port stays silent
  s.fx.click("sb_com_open");
  QCOMPARE(s.port->openCount(), port.isEmpty() ? 0 : 1);
  if (port.isEmpty()) QVERIFY(s.fx.lastLineIs(Refusal("no_port")));
}

void TestStartup::savedSettingsSurviveCaptionRebuild_data() {
  QTest::addColumn<QByteArray>("parcfg");
  QTest::addColumn<QByteArray>("caption");
  QTest::addColumn<int>("parity");
  QTest::addColumn<QString>("summary");
  QTest::addColumn<QString>("note"); // after the start-up line's text; empty: no line
  const QByteArray even = "[serial]\r\nparitybit=2\r\n";
  QTest::newRow("shipped texts") << even << QByteArray() << 2 << "ttyS0,115200-8-偶-1-######"
                                 << QString();
  QTest::newRow("texts from caption.ini")
      << even << QByteArray("[connect_setup]\r\nparitybit3=Even\r\n") << 2
      << "ttyS0,115200-8-Even-1-######" << QString();
  QTest::newRow("layout texts (lang=1)") << even << QByteArray("[lang]\r\nlang=1\r\n") << 2
                                         << "ttyS0,115200-8-偶-1-######" << QString();
  QTest::newRow("every key, Linux port")
      << QByteArray("[serial]\r\ncom=ttyUSB0\r\nbaudrate=4\r\ndatabit=1\r\nstopbit=0\r\nparitybit="
                    "1\r\nconf=+++ABC\r\n")
      << QByteArray() << 1 << "ttyUSB0,9600-7-奇-2-+++ABC" << QString();
  QTest::newRow("index outside the list")
      << QByteArray("[serial]\r\nparitybit=7\r\n") << QByteArray() << -1
      << "ttyS0,115200-8--1-######"
      << "paritybit=7 → " + WindowFixture::caption("parcfg_no_selection");
  QTest::newRow("words where positions belong, one line for both")
      << QByteArray("[serial]\r\nbaudrate=fast\r\nparitybit=even\r\n") << QByteArray() << 0
      << "ttyS0,115200-8-无-1-######"
      << "baudrate=fast → 115200; paritybit=even → 无";
  // Kept whole in the dialog; the bar shows what the unit is sent.
  QTest::newRow("switch command longer than six, kept whole")
      << QByteArray("[serial]\r\nconf=+++AT+ENTER\r\n") << QByteArray() << 0
      << "ttyS0,115200-8-无-1-+++AT+" << QString();
}

void TestStartup::savedSettingsSurviveCaptionRebuild() {
  QFETCH(QByteArray, parcfg);
  QFETCH(QByteArray, caption);
  QFETCH(int, parity);
  QFETCH(QString, summary);
  QFETCH(QString, note);
  Started s(Files(parcfg, caption));
  QCOMPARE(s.fx.form().Form3()->cbParitybit->currentIndex(), parity);
  QCOMPARE(s.fx.form().StatusPanel(1), summary);
  if (note.isEmpty())
    QVERIFY(s.fx.logTexts().isEmpty());
  else
    QVERIFY(s.fx.logTailIs(0, {Progress("parcfg_value_unusable", note)}));
}

void TestStartup::utf16SettingsFileStaysUtf16File() {
  Started s(
      Files(Utf16File(QStringLiteral("; 连接\r\n[serial]\r\ncom=COM4\r\nbaudrate=4\r\n"), false)));
  RunLinkDialog(s.fx, true, [](TForm3& d) { d.cbbaudrate->setCurrentIndex(2); });
  const QString dir = s.fx.dir();
  s.fx.form().close();
  QVERIFY(s.fx.boxes.isEmpty());
  QCOMPARE(
      ReadFile(QDir(dir).filePath("parcfg.ini")),
      Utf16File(QStringLiteral(
                    "; 连接\r\n[serial]\r\ncom=COM4\r\nbaudrate=2\r\ndatabit=0\r\nstopbit=1\r\n"
                    "paritybit=0\r\nconf=######\r\n"),
                false));
}

void TestStartup::unwritableSettingsFileSaysWhy() {
  Started s(
      [](const QDir& dir) { dir.mkdir(QStringLiteral("parcfg.ini")); }); // unwritable even by root
  const QString path = QDir::toNativeSeparators(QDir(s.fx.dir()).absoluteFilePath("parcfg.ini"));
  s.fx.form().close();
  QCOMPARE(s.fx.boxes.size(), 1);
  const QString head = WindowFixture::caption("parcfg_write_failed").arg(path) + "\n\n";
  QVERIFY(s.fx.boxes.first().startsWith(head));
  QVERIFY(s.fx.boxes.first().size() > head.size()); // followed by the reason
}

void TestStartup::linkDialogOkRewritesSummary() {
  Started s(Files("[serial]\r\nparitybit=2\r\n"));
  RunLinkDialog(s.fx, true);
  QCOMPARE(s.fx.form().StatusPanel(1), QStringLiteral("ttyS0,115200-8-偶-1, ######"));

  RunLinkDialog(s.fx, true, [](TForm3& d) {
    d.cb_com->setEditText(QStringLiteral("/dev/ttyUSB1"));
    d.cbbaudrate->setCurrentIndex(1);
  });
  QCOMPARE(s.fx.form().StatusPanel(1), QStringLiteral("/dev/ttyUSB1,57600-8-偶-1, ######"));
  QCOMPARE(s.port->openCount(), 0); // choosing settings opens nothing

  // A path too long for the panel is shortened on screen only.
  const QString longPort =
      QStringLiteral("/dev/serial/by-id/usb-Prolific_Technology_USB-Serial_Controller-if00-port0");
  RunLinkDialog(s.fx, true, [&](TForm3& d) { d.cb_com->setEditText(longPort); });
  const QString full = longPort + QStringLiteral(",57600-8-偶-1, ######");
  auto* panel = s.fx.get<QLabel>("StatusPanel1");
  QCOMPARE(s.fx.form().StatusPanel(1), full);
  QCOMPARE(panel->toolTip(), full);
  // The start gives way: the end of a by-id path tells adapters apart.
  QVERIFY(panel->text().startsWith(QChar(0x2026)) &&
          panel->text().endsWith(QStringLiteral("-if00-port0,57600-8-偶-1, ######")));
}

void TestStartup::linkDialogCancelKeepsNothing() {
  Started s;
  const QString before = s.fx.form().StatusPanel(1);
  RunLinkDialog(s.fx, false, [](TForm3& d) {
    d.cbbaudrate->setCurrentIndex(4);
    d.cb_com->setEditText(QStringLiteral("ttyUSB7"));
    d.edSwitchChr->setText(QStringLiteral(" ##"));
  });
  QCOMPARE(s.fx.form().StatusPanel(1), before);
  // The next connect and program end use what was there before the dialog.
  QCOMPARE(s.fx.form().Form3()->LinkSummary(false), before);
  const QString dir = s.fx.dir();
  s.fx.form().close();
  QCOMPARE(ParcfgValue(dir, "baudrate"), QStringLiteral("0"));
  QCOMPARE(ParcfgValue(dir, "conf"), QStringLiteral("######"));
}

void TestStartup::closeWhileNotConnectedTouchesNoPort() {
  Started s(Files("[serial]\r\ncom=ttyUSB0\r\nparitybit=2\r\n"));
  const QString dir = s.fx.dir();
  s.fx.form().close();
  QCOMPARE(s.port->openCount(), 0);
  QCOMPARE(s.port->closeCount(), 0);
  QVERIFY(s.port->written().isEmpty());

  const std::pair<const char*, const char*> expected[] = {
      {"com", "ttyUSB0"}, {"baudrate", "0"},  {"databit", "0"},
      {"stopbit", "1"},   {"paritybit", "2"}, {"conf", "######"},
  };
  for (const auto& [key, value] : expected)
    QVERIFY2(ParcfgValue(dir, key) == QLatin1String(value), key);
  QVERIFY(s.fx.boxes.isEmpty());
}

void TestStartup::navigation_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("page");
  for (const auto& [button, page] : kPageButtons)
    QTest::newRow(button) << QString::fromLatin1(button) << QString::fromLatin1(page);
}

void TestStartup::navigation() {
  QFETCH(QString, button);
  QFETCH(QString, page);
  Started s;
  auto* stack = s.fx.get<QStackedWidget>("PageStack");
  QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("pSerial"));
  QVERIFY(s.fx.get<QAbstractButton>("SpeedButton1")->isChecked());
  QVERIFY(QTest::qWaitForWindowActive(&s.fx.form()));

  // Start from another page so every button really changes the page.
  s.fx.click(button == u"SpeedButton3" ? "SpeedButton5" : "SpeedButton3");
  auto* edit = s.fx.get<QLineEdit>("ed_apn");
  edit->setText(QStringLiteral("kept.apn"));

  s.fx.click(qPrintable(button));
  QWidget* front = stack->currentWidget();
  QCOMPARE(front->objectName(), page);
  QTRY_VERIFY(front->hasFocus());
  int checked = 0;
  for (const auto& [name, _] : kPageButtons) {
    const bool down = s.fx.get<QAbstractButton>(name)->isChecked();
    checked += down ? 1 : 0;
    QCOMPARE(down, button == QLatin1String(name));
  }
  QCOMPARE(checked, 1);
  QCOMPARE(edit->text(), QStringLiteral("kept.apn")); // other pages keep their contents
  QVERIFY(s.fx.logTexts().isEmpty());                 // nothing is read or checked
}

void TestStartup::clickingCurrentPageOnlyMovesFocus() {
  Started s;
  QVERIFY(QTest::qWaitForWindowActive(&s.fx.form()));
  s.fx.click("SpeedButton3");
  auto* port1 = s.fx.get<QLineEdit>("ed_port1");
  port1->setFocus();
  QTRY_VERIFY(port1->hasFocus());
  port1->setText(QStringLiteral("40010"));

  s.fx.click("SpeedButton3");
  auto* stack = s.fx.get<QStackedWidget>("PageStack");
  QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("pConnection"));
  QVERIFY(s.fx.get<QAbstractButton>("SpeedButton3")->isChecked());
  QTRY_VERIFY(stack->currentWidget()->hasFocus());
  QCOMPARE(port1->text(), QStringLiteral("40010"));
  QVERIFY(s.fx.logTexts().isEmpty());
}

void TestStartup::dependentControlsFollowFirstShow() {
  // The layout shows every row; the rules of the three lists hide what the
  // initial selections exclude, once the window is first shown. The window
  // writes parcfg.ini into the working directory, so it runs in a scratch one.
  QTemporaryDir work;
  const QString oldCwd = QDir::currentPath();
  QVERIFY(QDir::setCurrent(work.path()));
  const auto restore = qScopeGuard([&] { QDir::setCurrent(oldCwd); });
  TForm1 form(std::make_unique<FakeSerialPort>());
  auto hidden = [&](const char* name) {
    auto* w = form.findChild<QWidget*>(QString::fromLatin1(name));
    if (!w) qFatal("no control named %s", name);
    return w->isHidden();
  };
  QVERIFY(!hidden("ed_idletime")); // nothing has run yet

  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  for (const char* shown : {"Panel13", "Label30", "ed_packet_length", "ed_delay", "Label108",
                            "Label107", "ed_reconnecttime", "Label39", "Label41"})
    QVERIFY2(!hidden(shown), shown);
  for (const char* gone : {"ed_idletime", "Label42", "Label70", "ckbDropWakedata"})
    QVERIFY2(hidden(gone), gone);
  QVERIFY(!form.findChild<QAbstractButton*>(QStringLiteral("ck_enable_recv_sms"))->isChecked());
  form.close();
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
