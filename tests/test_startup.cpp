// Start-up and shutdown of the main window, its frame, and page navigation:
// what the technician sees before touching anything, and what is left behind
// in parcfg.ini when the window closes.

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <vector>

#include "link/device_frame.h"
#include "link/link_constants.h"
#include "link/link_settings_dialog.h"
#include "platform/profile_ini.h"
#include "support/fake_serial_port.h"
#include "support/window_fixture.h"

namespace {

const char* const kNavButtons[] = {"SpeedButton1", "SpeedButton2", "SpeedButton3", "SpeedButton4",
                                   "SpeedButton5", "SpeedButton6", "SpeedButton7", "SpeedButton8"};

void WriteFile(const QDir& dir, const char* name, const QByteArray& bytes) {
  QFile f(dir.filePath(QString::fromLatin1(name)));
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
    qFatal("cannot write %s", name);
}

// Files to place in the working directory before the window starts.
WindowFixture::Prepare Files(QByteArray parcfg, QByteArray caption = {}) {
  return [parcfg, caption](const QDir& dir) {
    if (!parcfg.isNull()) WriteFile(dir, "parcfg.ini", parcfg);
    if (!caption.isNull()) WriteFile(dir, "caption.ini", caption);
  };
}

// A fixture whose serial port the test can inspect; the window owns the port.
struct Started {
  FakeSerialPort* port;
  WindowFixture fx;
  explicit Started(const WindowFixture::Prepare& prepare = {}, bool withCaptions = false)
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

QByteArray Frame(std::uint8_t command, const QByteArray& payload) {
  std::vector<std::uint8_t> out(std::size_t(payload.size()) + k7v::kFrameOverhead);
  const auto n = BuildFrame(
      command, {reinterpret_cast<const std::uint8_t*>(payload.constData()), std::size_t(payload.size())}, out);
  return QByteArray(reinterpret_cast<const char*>(out.data()), qsizetype(n));
}

} // namespace

class TestStartup : public QObject {
  Q_OBJECT

private slots:
  void windowFrame();
  void firstStartWithoutFiles();
  void languageSelector_data();
  void languageSelector();
  void savedSettingsSurviveCaptionRebuild_data();
  void savedSettingsSurviveCaptionRebuild();
  void linkDialogOkRewritesSummary();
  void linkDialogCancelKeepsSummaryButNotChoices();
  void closeWhileNotConnectedTouchesNoPort();
  void closeWhileConnectedClosesPortSilently();
  void navigation_data();
  void navigation();
  void clickingCurrentPageOnlyMovesFocus();
  void dependentControlsFollowFirstShow();
};

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
  QVERIFY(!form.StatusPanel(2).isEmpty()); // maker's name
  QVERIFY(!form.StatusPanel(3).isEmpty()); // web address
}

void TestStartup::firstStartWithoutFiles() {
  Started s; // no parcfg.ini, no caption.ini
  QCOMPARE(s.fx.get<QLabel>("StatusPanel1")->text(), QStringLiteral("COM1,115200-8-无-1-######"));
  QCOMPARE(s.fx.get<QComboBox>("cbPtcl_select")->count(), 5);
  QCOMPARE(s.fx.get<QAbstractButton>("SpeedButton2")->text(), QStringLiteral("拨号设置"));
  // The link buttons start as for a unit that is not connected.
  QVERIFY(s.fx.get<QAbstractButton>("sb_com_open")->isEnabled());
  for (const char* name : {"sb_com_close", "sb_getpar", "sb_setpar", "bStart"})
    QVERIFY2(!s.fx.get<QWidget>(name)->isEnabled(), name);
  QVERIFY(s.fx.logTexts().isEmpty());
  QCOMPARE(s.port->openCount(), 0);
}

void TestStartup::languageSelector_data() {
  QTest::addColumn<QByteArray>("caption");
  QTest::addColumn<QString>("dialButton");
  QTest::addColumn<int>("protocols");
  // The selector's low 8 bits decide; a file section with other texts is
  // only applied when they are 0.
  const QByteArray menu = "[menu]\r\ndial=Dial-up\r\n";
  QTest::newRow("no selector") << menu << "Dial-up" << 5;
  QTest::newRow("lang=0") << "[lang]\r\nlang=0\r\n" + menu << "Dial-up" << 5;
  QTest::newRow("lang=1: layout texts") << "[lang]\r\nlang=1\r\n" + menu << "拨号网络" << 3;
  QTest::newRow("lang=256: low byte 0") << "[lang]\r\nlang=256\r\n" + menu << "Dial-up" << 5;
  QTest::newRow("lang=257") << "[lang]\r\nlang=257\r\n" + menu << "拨号网络" << 3;
}

void TestStartup::languageSelector() {
  QFETCH(QByteArray, caption);
  QFETCH(QString, dialButton);
  QFETCH(int, protocols);
  Started s(Files({}, caption));
  QCOMPARE(s.fx.get<QAbstractButton>("SpeedButton2")->text(), dialButton);
  QCOMPARE(s.fx.get<QComboBox>("cbPtcl_select")->count(), protocols);
  QCOMPARE(s.fx.get<QComboBox>("cbPtcl_select")->currentIndex(), 0);
  // The dialog's parity list has three items whichever texts apply.
  QCOMPARE(s.fx.form().Form3()->cbParitybit->count(), 3);
}

void TestStartup::savedSettingsSurviveCaptionRebuild_data() {
  QTest::addColumn<QByteArray>("parcfg");
  QTest::addColumn<QByteArray>("caption");
  QTest::addColumn<int>("parity");
  QTest::addColumn<QString>("summary");
  const QByteArray even = "[serial]\r\nparitybit=2\r\n";
  QTest::newRow("built-in texts") << even << QByteArray() << 2 << "COM1,115200-8-偶-1-######";
  QTest::newRow("texts from caption.ini")
      << even << QByteArray("[connect_setup]\r\nparitybit3=Even\r\n") << 2 << "COM1,115200-8-Even-1-######";
  QTest::newRow("layout texts (lang=1)") << even << QByteArray("[lang]\r\nlang=1\r\n") << 2
                                         << "COM1,115200-8-偶-1-######";
  QTest::newRow("every key, Linux port")
      << QByteArray("[serial]\r\ncom=ttyUSB0\r\nbaudrate=4\r\ndatabit=1\r\nstopbit=0\r\nparitybit=1\r\nconf=+++ABC\r\n")
      << QByteArray() << 1 << "ttyUSB0,9600-7-奇-2-+++ABC";
  QTest::newRow("index outside the list")
      << QByteArray("[serial]\r\nparitybit=7\r\n") << QByteArray() << -1 << "COM1,115200-8--1-######";
}

void TestStartup::savedSettingsSurviveCaptionRebuild() {
  QFETCH(QByteArray, parcfg);
  QFETCH(QByteArray, caption);
  QFETCH(int, parity);
  QFETCH(QString, summary);
  Started s(Files(parcfg, caption));
  QCOMPARE(s.fx.form().Form3()->cbParitybit->currentIndex(), parity);
  QCOMPARE(s.fx.form().StatusPanel(1), summary);
}

void TestStartup::linkDialogOkRewritesSummary() {
  Started s(Files("[serial]\r\nparitybit=2\r\n"));
  RunLinkDialog(s.fx, true);
  QCOMPARE(s.fx.form().StatusPanel(1), QStringLiteral("COM1,115200-8-偶-1, ######"));

  RunLinkDialog(s.fx, true, [](TForm3& d) {
    d.cb_com->setEditText(QStringLiteral("/dev/ttyUSB1"));
    d.cbbaudrate->setCurrentIndex(1);
  });
  QCOMPARE(s.fx.form().StatusPanel(1), QStringLiteral("/dev/ttyUSB1,57600-8-偶-1, ######"));
  QCOMPARE(s.port->openCount(), 0); // choosing settings opens nothing
}

void TestStartup::linkDialogCancelKeepsSummaryButNotChoices() {
  Started s;
  const QString before = s.fx.form().StatusPanel(1);
  RunLinkDialog(s.fx, false, [](TForm3& d) { d.cbbaudrate->setCurrentIndex(4); });
  QCOMPARE(s.fx.form().StatusPanel(1), before);
  // The dialog keeps what was chosen: the next connect and program end use it.
  QCOMPARE(s.fx.form().Form3()->Settings().baudRate, 9600);
  const QString dir = s.fx.dir();
  s.fx.form().close();
  QCOMPARE(ParcfgValue(dir, "baudrate"), QStringLiteral("4"));
}

void TestStartup::closeWhileNotConnectedTouchesNoPort() {
  Started s(Files("[serial]\r\ncom=ttyUSB0\r\nparitybit=2\r\n[other]\r\nkeep=me\r\n"));
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
  const std::string path = QDir(dir).filePath(QStringLiteral("parcfg.ini")).toStdString();
  QCOMPARE(ReadProfileString(path, "other", "keep", ""), std::string("me"));
  QVERIFY(s.fx.boxes.isEmpty());
}

void TestStartup::closeWhileConnectedClosesPortSilently() {
  Started s(Files("[serial]\r\ncom=ttyUSB0\r\n"), true);
  s.port->setAutoResponder([](FakeSerialPort& port, const QByteArray& written) {
    if (written == "######") port.feedReceived(Frame(0x01, QByteArray("V2.01\0\0\0", 8)));
  });
  s.fx.click("sb_com_open");
  QVERIFY(s.fx.form().link().LinkConnected);
  QCOMPARE(s.port->openCount(), 1);
  const int framesBefore = int(s.port->writtenFrames().size());

  const QString dir = s.fx.dir();
  s.fx.form().close();
  QVERIFY(!s.port->IsOpen());
  QCOMPARE(s.port->closeCount(), 1);
  QCOMPARE(int(s.port->writtenFrames().size()), framesBefore); // the DTU is not told
  QCOMPARE(ParcfgValue(dir, "com"), QStringLiteral("ttyUSB0"));
}

void TestStartup::navigation_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("page");
  const std::pair<const char*, const char*> rows[] = {
      {"SpeedButton1", "pSerial"},   {"SpeedButton2", "sbDial"},  {"SpeedButton3", "pConnection"},
      {"SpeedButton4", "sbPtcl"},    {"SpeedButton5", "pWorkmode"}, {"SpeedButton6", "pRemote"},
      {"SpeedButton8", "pUpdate"},   {"SpeedButton7", "pVersion"},
  };
  for (const auto& [button, page] : rows)
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
  for (const char* name : kNavButtons) {
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
  for (const char* shown : {"Panel13", "Label30", "ed_packet_length", "ed_delay", "Label108", "Label107",
                            "ed_reconnecttime", "Label39", "Label41"})
    QVERIFY2(!hidden(shown), shown);
  for (const char* gone : {"ed_idletime", "Label42", "Label70", "ckbDropWakedata"})
    QVERIFY2(hidden(gone), gone);
  QVERIFY(!form.findChild<QAbstractButton*>(QStringLiteral("ck_enable_recv_sms"))->isChecked());
  form.close();
}

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
