// Reading and writing the parameters and product information of the simulated
// DTU over a pseudo-terminal, through the main window's buttons.

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSerialPort>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

#include "link/device_frame.h"
#include "link/link_settings_dialog.h"
#include "params/app_params.h"
#include "support/dtu_sim_process.h"
#include "support/window_fixture.h"

namespace {

const QColor kBlack(0, 0, 0);
const QColor kGreen(0, 0x80, 0);
const QColor kRed(0xFF, 0, 0);

QByteArray Bytes(const TAppParams& p) {
  return QByteArray(reinterpret_cast<const char*>(p.bytes().data()), int(p.bytes().size()));
}

// A record that survives the pages unchanged: every list value inside its
// list, flags 0 or 1, texts zero-padded or exactly full, heartbeat lengths at
// most 24 with zero tails, protocol not KTSP. Values differ from field to
// field so that a field landing in the wrong place shows. The switch command
// is not the default, so the dialog's own must be used to connect.
TAppParams RoundTripRecord() {
  using F = AppField;
  TAppParams p;
  p.Set(F::baudrate, 38400);
  p.Set(F::databit, 7);
  p.Set(F::stopbit, 2);
  p.Set(F::paritybit, 2);
  p.Set(F::com_ptcl, 1);
  p.Set(F::packet_len, 777);
  p.Set(F::delay, 450);
  p.Set(F::debug, 3);
  p.SetText(F::apn, "cmnet.k7v.apn");
  p.SetText(F::ppp_username, "\xD3\xC3\xBB\xA7" "A"); // GBK for two Chinese characters, then A
  p.SetText(F::ppp_pw, "pw#9");
  p.Set(F::main_dns, 0x0A141E28);   // 10.20.30.40
  p.Set(F::second_dns, 0x08080404); // 8.8.4.4
  p.Set(F::ping_ip, 0xC0A80102);    // 192.168.1.2
  p.SetText(F::ping_host, "ping.example.org");
  p.Set(F::ping_interval, 17);
  p.Set(F::ip1, 0x01020304);
  p.SetText(F::hostname1, "centre-one.example");
  p.Set(F::port1, 40009);
  p.Set(F::connection_type1, 1);
  p.Set(F::ip2, 0x05060708);
  p.SetText(F::hostname2, "centre-two.example");
  p.Set(F::port2, 5002);
  p.Set(F::connection_type2, 0);
  p.Set(F::ip3, 0xDFEEFD09);
  p.SetText(F::hostname3, std::string(64, 'h')); // full: no terminator
  p.Set(F::port3, 6003);
  p.Set(F::connection_type3, 1);
  p.Set(F::heart_interval, 61);
  p.SetText(F::dtu_id, "DTU-ID-0123456789"); // cut at 16: full
  p.Set(F::select_ptcl, 3);
  p.Set(F::dtuinsertid, 1);
  p.Set(F::dtuinsertid_pos, 19);
  p.Set(F::custom_heart_packet_en, 1);
  p.Set(F::custom_heart_packet_len, 5);
  p.SetText(F::custom_heart_packet, "\xDE\xAD\xBE\xEF\x01");
  p.Set(F::custom_heart_packet_ack_en, 1);
  p.Set(F::custom_heart_packet_ack_len, 7);
  p.SetText(F::custom_heart_packet_ack, "\x10\x20\x30\x40\x50\x60\x7F");
  p.Set(F::run_mode, 1);
  p.Set(F::idle_interval, 321);
  p.Set(F::reconnect_interval, 654);
  p.Set(F::drop_wakeup_data, 1);
  p.SetText(F::phone_number, "+8613800138000");
  p.Set(F::recv_sms_en, 0);
  p.SetText(F::switch_cmd, "K7#CFG");
  p.Set(F::auto_interval, 1440);
  p.Set(F::master_ip, 0xAC100509); // 172.16.5.9
  p.SetText(F::master_host, "mgmt.example");
  p.Set(F::master_port, 9009);
  p.SetText(F::pin_code, "1234");
  p.Set(F::run_type, 1);
  p.Set(F::master_reconnect_interval, 99);
  return p;
}

const char* const kProductFields[] = {"edProductType", "edProductModel", "edSerialType", "edsn"};

// The frames the simulator took from the PC, in order, as "AA 03 06 00 B3 BB" text.
QStringList FramesReceivedBySim(const DtuSimProcess& sim) {
  QStringList frames;
  for (const QByteArray& line : sim.logText().split('\n')) {
    if (line.startsWith("RX frame "))
      frames << QString::fromLatin1(line.mid(9));
  }
  return frames;
}

QString Hex(std::span<const std::uint8_t> bytes) {
  return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())).toHex(' ').toUpper());
}

const QString kReadRequest = QStringLiteral("AA 03 06 00 B3 BB");
const QString kSysInfoRequest = QStringLiteral("AA 07 06 00 B7 BB");

struct Expected {
  const char* key;
  QColor colour;
  int size;
};

// The simulated DTU with the round-trip record, and a window connected to it.
class Session {
public:
  explicit Session(QStringList simArgs = {}) {
    QFile f(tmp_.filePath(QStringLiteral("record.bin")));
    if (f.open(QIODevice::WriteOnly)) f.write(Bytes(RoundTripRecord()));
    f.close();
    simArgs << QStringLiteral("--record") << f.fileName();
    started_ = sim.start(simArgs);
  }

  // Empty when connected; else why not.
  QString connect() {
    if (!started_) return sim.errorString();
    w = std::make_unique<WindowFixture>();
    w->form().Form3()->cb_com->setEditText(sim.devicePath());
    w->form().Form3()->edSwitchChr->setText(QStringLiteral("K7#CFG"));
    w->click("sb_com_open");
    if (!w->form().link().LinkConnected) return w->logTexts().join(u'\n');
    return {};
  }

  TForm1& form() { return w->form(); }
  QString text(const char* name) const { return w->get<QLineEdit>(name)->text(); }
  bool waitCursor() { return form().cursor().shape() == Qt::WaitCursor; }

  // Clicks a button; every time bytes arrive or 150 ms pass while its
  // handler runs, notes whether the hourglass shows. True when it always did.
  bool clickWithHourglass(const char* name) {
    QObject ctx;
    bool active = true;
    int samples = 0, hourglass = 0;
    auto sample = [&] {
      if (!active) return;
      ++samples;
      hourglass += waitCursor() ? 1 : 0;
    };
    QObject::connect(&form().link().CommHandle(), &SerialPort::bytesArrived, &ctx, sample);
    QTimer timer;
    timer.setInterval(150);
    QObject::connect(&timer, &QTimer::timeout, &ctx, sample);
    timer.start();
    w->click(name);
    active = false;
    hourglassSamples = samples;
    return samples == hourglass;
  }

  // The value of every parameter control of the pages, product fields excluded.
  QStringList pages() const {
    QStringList s;
    const auto* stack = w->get<QStackedWidget>("PageStack");
    for (const QLineEdit* e : stack->findChildren<QLineEdit*>()) {
      if (e->parent() && qobject_cast<const QComboBox*>(e->parent())) continue;
      if (std::find_if(std::begin(kProductFields), std::end(kProductFields), [&](const char* n) {
            return e->objectName() == QLatin1String(n);
          }) != std::end(kProductFields))
        continue;
      s << e->objectName() + u'=' + e->text();
    }
    for (const QComboBox* c : stack->findChildren<QComboBox*>()) s << c->objectName() + u'#' + QString::number(c->currentIndex());
    for (const QCheckBox* c : stack->findChildren<QCheckBox*>()) s << c->objectName() + (c->isChecked() ? u'+' : u'-');
    for (const QPlainTextEdit* m : stack->findChildren<QPlainTextEdit*>()) s << m->objectName() + u'=' + m->toPlainText();
    return s;
  }

  QStringList productFields() const {
    QStringList s;
    for (const char* n : kProductFields) s << text(n);
    return s;
  }
  void setProductFields(const QStringList& values) {
    for (int i = 0; i < 4; ++i) w->get<QLineEdit>(kProductFields[i])->setText(values.value(i));
  }

  // The log from index from on is exactly these, in these colours and sizes.
  bool logTailIs(qsizetype from, const QList<Expected>& expected) const {
    const QList<LogLine> lines = w->logLines().mid(from);
    bool same = lines.size() == expected.size();
    for (qsizetype i = 0; same && i < lines.size(); ++i) {
      same = lines[i].text == WindowFixture::caption(expected[i].key) && lines[i].colour == expected[i].colour &&
             qRound(lines[i].pointSize) == expected[i].size;
    }
    if (!same) {
      for (const LogLine& l : lines) qWarning().noquote() << "log:" << l.text << l.colour.name() << l.pointSize;
    }
    return same;
  }
  qsizetype logSize() const { return w->logLines().size(); }

  DtuSimProcess sim;
  std::unique_ptr<WindowFixture> w;
  int hourglassSamples = 0; // looks taken by the last clickWithHourglass

private:
  QTemporaryDir tmp_;
  bool started_ = false;
};

const Expected kReading{"app_par_reading", kBlack, 9};
const Expected kReadCompleted{"app_par_read_completed", kGreen, 10};
const Expected kReadFailed{"app_par_read_failed", kRed, 10};
const Expected kSysCompleted{"sys_par_read_completed", kGreen, 10};
const Expected kSysFailed{"sys_par_read_failed", kRed, 10};
const Expected kSaving{"app_par_saving", kBlack, 9};
const Expected kSaved{"app_par_save_completed", kGreen, 10};

} // namespace

class TestParamExchange : public QObject {
  Q_OBJECT

private slots:
  void initTestCase();
  void readThenWriteBackStoresTheSameRecord();
  void readFailures_data();
  void readFailures();
  void writeFailures_data();
  void writeFailures();
  void unconvertibleFieldSendsNothing();
  void windowClosedDuringReadWait_data();
  void windowClosedDuringReadWait();
  void disconnectDuringReadWait();
  void closingWhileConnectedDoesNotTellTheDtu();
};

void TestParamExchange::initTestCase() {
  // The round-trip record is only useful if the pages can hold it.
  const TAppParams p = RoundTripRecord();
  QCOMPARE(p.GetText(AppField::switch_cmd), std::string("K7#CFG"));
  QCOMPARE(p.GetText(AppField::dtu_id).size(), std::size_t(16));
}

void TestParamExchange::readThenWriteBackStoresTheSameRecord() {
  Session s({"--sn", "SN-0123456789ABC"}); // 16 characters: no terminator
  const QString why = s.connect();
  QVERIFY2(why.isEmpty(), qPrintable(why));

  qsizetype before = s.logSize();
  QVERIFY(s.clickWithHourglass("sb_getpar"));
  QVERIFY(s.hourglassSamples > 0);
  QVERIFY(s.logTailIs(before, {kReading, kReadCompleted, kSysCompleted}));
  QVERIFY(!s.waitCursor());
  QCOMPARE(FramesReceivedBySim(s.sim), (QStringList{kReadRequest, kSysInfoRequest}));

  // The pages show the record: a few controls by eye, then all of it.
  QCOMPARE(s.text("ed_apn"), QStringLiteral("cmnet.k7v.apn"));
  QCOMPARE(s.text("ed_pppname"), QString::fromUtf8("用户A"));
  QCOMPARE(s.text("ed_ip1"), QStringLiteral("1.2.3.4"));
  QCOMPARE(s.text("ed_port1"), QStringLiteral("40009"));
  QCOMPARE(s.text("ed_hostname3"), QString(64, u'h'));
  QCOMPARE(s.text("ed_dtuid"), QStringLiteral("DTU-ID-012345678"));
  QCOMPARE(s.text("edConf"), QStringLiteral("K7#CFG"));
  QCOMPARE(s.w->get<QComboBox>("cb_baudrate")->currentText(), QStringLiteral("38400"));
  QCOMPARE(s.w->get<QPlainTextEdit>("m_heart")->toPlainText(), QStringLiteral("DE AD BE EF 01 "));
  const std::optional<TAppParams> shown = s.form().EncodeParams();
  QVERIFY(shown.has_value());
  QCOMPARE(Bytes(*shown), Bytes(RoundTripRecord()));

  QCOMPARE(s.productFields(), (QStringList{"DTU1", "K7-GPRS-SIM1", "232", "SN-0123456789ABC"}));
  QCOMPARE(s.text("ed_ver"), QStringLiteral("V2.01")); // from the connect, not from command 7

  // Written back without an edit, the DTU stores the very bytes it sent.
  QVERIFY(s.sim.stateRecord().isEmpty());
  const QStringList pagesBefore = s.pages();
  before = s.logSize();
  QVERIFY(s.clickWithHourglass("sb_setpar"));
  QVERIFY(s.hourglassSamples > 0);
  QVERIFY(s.logTailIs(before, {kSaving, kSaved}));
  QVERIFY(!s.waitCursor());
  QCOMPARE(s.sim.stateRecord(), Bytes(RoundTripRecord()));
  QCOMPARE(s.pages(), pagesBefore);

  // On the wire: 699 bytes, length BB 02, the sum of all before it, BB.
  std::array<std::uint8_t, 699> expected{};
  QCOMPARE(BuildFrame(4, RoundTripRecord().bytes(), expected), std::size_t(699));
  QCOMPARE(expected[2], std::uint8_t(0xBB));
  QCOMPARE(expected[3], std::uint8_t(0x02));
  QCOMPARE(FramesReceivedBySim(s.sim).value(2), Hex(expected));
  QCOMPARE(FramesReceivedBySim(s.sim).size(), 3);
}

void TestParamExchange::readFailures_data() {
  QTest::addColumn<QStringList>("simArgs");
  QTest::addColumn<bool>("pagesFilled");
  QTest::addColumn<QStringList>("product"); // empty: left as they were
  QTest::addColumn<bool>("sysInfoAsked");

  // Product fields not held whole by a short answer are emptied rather than
  // left showing another unit's values.
  QTest::newRow("no answer to command 3") << QStringList{"--silent", "3"} << false << QStringList{} << false;
  QTest::newRow("command 3 answer with a bad checksum") << QStringList{"--bad-checksum", "3"} << false << QStringList{}
                                                        << false;
  QTest::newRow("command 3 answer too short for the record") << QStringList{"--short", "3"} << false << QStringList{}
                                                             << false;
  QTest::newRow("no answer to command 7") << QStringList{"--silent", "7"} << true << QStringList{} << true;
  QTest::newRow("command 7 answer of 20 bytes") << QStringList{"--short", "7"} << true
                                                << QStringList{"DTU1", "K7-GPRS-SIM1", "232", ""} << true;
}

void TestParamExchange::readFailures() {
  QFETCH(QStringList, simArgs);
  QFETCH(bool, pagesFilled);
  QFETCH(QStringList, product);
  QFETCH(bool, sysInfoAsked);

  Session s(simArgs);
  const QString why = s.connect();
  QVERIFY2(why.isEmpty(), qPrintable(why));
  const QStringList earlier{"OLD1", "OLD-MODEL", "485", "OLD-SN"};
  s.setProductFields(earlier);
  const QStringList pagesBefore = s.pages();

  const qsizetype before = s.logSize();
  QVERIFY(s.clickWithHourglass("sb_getpar"));
  QVERIFY(s.hourglassSamples > 0);
  QVERIFY(!s.waitCursor());

  if (!pagesFilled) {
    QVERIFY(s.logTailIs(before, {kReading, kReadFailed}));
    QCOMPARE(s.pages(), pagesBefore);
  } else {
    QVERIFY(s.logTailIs(before, {kReading, kReadCompleted, product.isEmpty() ? kSysFailed : kSysCompleted}));
    const std::optional<TAppParams> shown = s.form().EncodeParams();
    QVERIFY(shown.has_value());
    QCOMPARE(Bytes(*shown), Bytes(RoundTripRecord()));
  }
  QCOMPARE(s.productFields(), product.isEmpty() ? earlier : product);
  QStringList requests{kReadRequest};
  if (sysInfoAsked) requests << kSysInfoRequest;
  QCOMPARE(FramesReceivedBySim(s.sim), requests);
  // Still connected: a failed read is no reason to drop the link.
  QVERIFY(s.form().link().LinkConnected);
  QVERIFY(s.w->get<QAbstractButton>("sb_getpar")->isEnabled());
}

void TestParamExchange::writeFailures_data() {
  QTest::addColumn<QStringList>("simArgs");
  QTest::addColumn<QString>("key");
  QTest::addColumn<bool>("stored"); // whether the DTU kept the record anyway

  QTest::newRow("no answer") << QStringList{"--silent", "4"} << "app_par_save_failed_with_timeout" << true;
  QTest::newRow("refused") << QStringList{"--refuse-writes"} << "app_par_save_failed_with_checksum_error" << false;
  QTest::newRow("answer without a result byte")
      << QStringList{"--short", "4"} << "app_par_save_failed_with_checksum_error" << true;
}

void TestParamExchange::writeFailures() {
  QFETCH(QStringList, simArgs);
  QFETCH(QString, key);
  QFETCH(bool, stored);

  Session s(simArgs);
  const QString why = s.connect();
  QVERIFY2(why.isEmpty(), qPrintable(why));
  s.w->click("sb_getpar");
  QCOMPARE(s.w->logTexts().last(), WindowFixture::caption("sys_par_read_completed"));
  const QStringList pagesBefore = s.pages();

  const qsizetype before = s.logSize();
  QVERIFY(s.clickWithHourglass("sb_setpar"));
  QVERIFY(s.hourglassSamples > 0);
  QVERIFY(!s.waitCursor());
  const QByteArray k = key.toLatin1();
  QVERIFY(s.logTailIs(before, {kSaving, {k.constData(), kRed, 10}}));
  QCOMPARE(s.pages(), pagesBefore);
  QCOMPARE(s.sim.stateRecord(), stored ? Bytes(RoundTripRecord()) : QByteArray());
  QVERIFY(s.form().link().LinkConnected);
}

void TestParamExchange::unconvertibleFieldSendsNothing() {
  Session s;
  const QString why = s.connect();
  QVERIFY2(why.isEmpty(), qPrintable(why));
  s.w->click("sb_getpar");
  s.w->get<QLineEdit>("ed_heart")->clear();

  const qsizetype before = s.logSize();
  QVERIFY(s.clickWithHourglass("sb_setpar"));
  QVERIFY(!s.waitCursor());
  QCOMPARE(s.w->boxes, QStringList{"'' is not a valid integer value."});
  QCOMPARE(s.logSize(), before);
  QCOMPARE(FramesReceivedBySim(s.sim), (QStringList{kReadRequest, kSysInfoRequest}));

  // Put right, the same write goes through.
  s.w->get<QLineEdit>("ed_heart")->setText(QStringLiteral("61"));
  s.w->click("sb_setpar");
  QCOMPARE(s.w->logTexts().last(), WindowFixture::caption("app_par_save_completed"));
  QCOMPARE(s.sim.stateRecord(), Bytes(RoundTripRecord()));
}

void TestParamExchange::windowClosedDuringReadWait_data() {
  QTest::addColumn<bool>("destroy");
  QTest::newRow("closed") << false;
  QTest::newRow("closed and destroyed") << true;
}

void TestParamExchange::windowClosedDuringReadWait() {
  QFETCH(bool, destroy);
  Session s({"--silent", "3"});
  const QString why = s.connect();
  QVERIFY2(why.isEmpty(), qPrintable(why));
  const QString settingsFile = QDir(s.w->dir()).filePath(QStringLiteral("parcfg.ini"));
  QObject ctx;
  QTimer::singleShot(300, &ctx, [&] {
    if (destroy)
      s.w->closeWindow();
    else
      s.form().close();
  });
  const qsizetype before = s.logSize();
  s.w->click("sb_getpar");

  // The read ends where it was: no failure report, no product request, and
  // the DTU is not told to leave configuration mode.
  if (!destroy) {
    QVERIFY(s.logTailIs(before, {kReading}));
    QVERIFY(!s.form().link().CommHandle().IsOpen());
    QVERIFY(QFile::exists(settingsFile));
  }
  QCOMPARE(FramesReceivedBySim(s.sim), QStringList{kReadRequest});
  QSerialPort other;
  other.setPortName(s.sim.devicePath());
  QVERIFY(other.open(QIODevice::ReadWrite));
}

void TestParamExchange::disconnectDuringReadWait() {
  // Disconnect stays enabled while a read waits; pressing it must end the
  // read as a failure, not let it write to the closed port.
  Session s({"--silent", "7"});
  const QString why = s.connect();
  QVERIFY2(why.isEmpty(), qPrintable(why));
  QObject ctx;
  QObject::connect(s.w->get<QPlainTextEdit>("RichEdit1"), &QPlainTextEdit::textChanged, &ctx, [&] {
    if (s.w->logTexts().last() == WindowFixture::caption("app_par_read_completed"))
      QTimer::singleShot(100, &ctx, [&] { s.w->click("sb_com_close"); });
  });
  const qsizetype before = s.logSize();
  s.w->click("sb_getpar");

  QVERIFY(s.logTailIs(before, {kReading, kReadCompleted, {"serial_closed", kBlack, 9}, kSysFailed}));
  QVERIFY(!s.waitCursor());
  QVERIFY(!s.form().link().LinkConnected);
  QVERIFY(!s.form().link().CommHandle().IsOpen());
  QVERIFY(!s.w->get<QAbstractButton>("sb_getpar")->isEnabled());
  QTRY_COMPARE_WITH_TIMEOUT(FramesReceivedBySim(s.sim).size(), 3, 3000);
  QCOMPARE(FramesReceivedBySim(s.sim), (QStringList{kReadRequest, kSysInfoRequest, "AA 02 06 00 B2 BB"}));
}

void TestParamExchange::closingWhileConnectedDoesNotTellTheDtu() {
  Session s;
  const QString why = s.connect();
  QVERIFY2(why.isEmpty(), qPrintable(why));
  s.form().close();
  QVERIFY(!s.form().link().CommHandle().IsOpen());
  // Nothing at all reached the DTU after the switch command.
  QVERIFY(s.sim.logText().contains("RX switch"));
  QCOMPARE(FramesReceivedBySim(s.sim), QStringList{});
  QSerialPort other;
  other.setPortName(s.sim.devicePath());
  QVERIFY(other.open(QIODevice::ReadWrite));
}

QTEST_MAIN(TestParamExchange)
#include "test_param_exchange.moc"
