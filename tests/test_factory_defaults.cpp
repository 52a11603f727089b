// The factory button: what it puts on the pages, and what a write then gives
// the device.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <cstring>

#include "app/limited_edit.h"
#include "link/link_settings_dialog.h"
#include "params/app_params.h"
#include "params/factory_set.h"
#include "support/dtu_sim_process.h"
#include "support/window_fixture.h"

using F = AppField;

namespace {

const char kDtuId[] = "K7V-UNIT-0042"; // the factory set leaves the identifier alone

// The factory set as a record, written out from the factory table rather than
// from the pages.
TAppParams FactoryRecord() {
  TAppParams p;
  const std::pair<F, std::uint32_t> numbers[] = {
      {F::baudrate, 57600}, {F::databit, 8}, {F::stopbit, 1}, {F::paritybit, 0}, {F::com_ptcl, 0},
      {F::packet_len, 1024}, {F::delay, 300}, {F::debug, 2}, {F::main_dns, 0}, {F::second_dns, 0},
      {F::ping_ip, 0}, {F::ping_interval, 0},
      {F::ip1, 0}, {F::port1, 51001}, {F::connection_type1, 1},
      {F::ip2, 0}, {F::port2, 40002}, {F::connection_type2, 0},
      {F::ip3, 0}, {F::port3, 40003}, {F::connection_type3, 0},
      {F::heart_interval, 0}, {F::select_ptcl, 0}, {F::dtuinsertid, 0}, {F::dtuinsertid_pos, 0},
      {F::custom_heart_packet_en, 0}, {F::custom_heart_packet_len, 0},
      {F::custom_heart_packet_ack_en, 0}, {F::custom_heart_packet_ack_len, 0},
      {F::run_mode, 0}, {F::idle_interval, 300}, {F::reconnect_interval, 10}, {F::drop_wakeup_data, 0},
      {F::recv_sms_en, 0}, {F::auto_interval, 1440}, {F::master_ip, 0}, {F::master_port, 6000},
      {F::run_type, 1}, {F::master_reconnect_interval, 300},
  };
  for (auto [f, v] : numbers) p.Set(f, v);
  p.SetText(F::apn, "cmnet");
  p.SetText(F::hostname1, kFactoryHostname1);
  p.SetText(F::switch_cmd, "######");
  p.SetText(F::master_host, kFactoryMasterHost);
  p.SetText(F::dtu_id, kDtuId);
  return p; // every other text and both heartbeat packets: all zero
}

// Field names and bytes where two records differ; empty when they agree.
QString Differences(const TAppParams& actual, const TAppParams& expected) {
  QStringList out;
  for (const AppFieldInfo& info : kAppFields) {
    const auto a = actual.FieldBytes(info.id), e = expected.FieldBytes(info.id);
    if (!std::equal(a.begin(), a.end(), e.begin(), e.end()))
      out << QString("%1: %2 instead of %3")
                 .arg(info.name, QByteArray(reinterpret_cast<const char*>(a.data()), a.size()).toHex(' '),
                      QByteArray(reinterpret_cast<const char*>(e.data()), e.size()).toHex(' '));
  }
  return out.join('\n');
}

// A record far from the factory set: command mode, a named protocol, wake-up
// mode, permanent remote link, every box ticked.
TAppParams FarRecord() {
  TAppParams p = FactoryRecord();
  const std::pair<F, std::uint32_t> numbers[] = {
      {F::baudrate, 9600}, {F::databit, 7}, {F::stopbit, 2}, {F::paritybit, 2}, {F::com_ptcl, 1},
      {F::packet_len, 10}, {F::debug, 0}, {F::port1, 1}, {F::connection_type1, 0}, {F::connection_type2, 1},
      {F::heart_interval, 77}, {F::select_ptcl, 2}, {F::dtuinsertid, 1}, {F::dtuinsertid_pos, 3},
      {F::custom_heart_packet_en, 1}, {F::custom_heart_packet_len, 2},
      {F::custom_heart_packet_ack_en, 1}, {F::custom_heart_packet_ack_len, 1},
      {F::run_mode, 1}, {F::drop_wakeup_data, 1}, {F::recv_sms_en, 1}, {F::run_type, 0}, {F::master_ip, 0x0A000001},
  };
  for (auto [f, v] : numbers) p.Set(f, v);
  p.SetText(F::apn, "internet");
  p.SetText(F::ppp_username, "user");
  p.SetText(F::hostname2, "two.example");
  p.SetText(F::phone_number, "13800000000");
  p.SetText(F::switch_cmd, "$$$$$$");
  p.SetText(F::pin_code, "1234");
  p.FieldBytes(F::custom_heart_packet)[0] = 0xAB;
  p.FieldBytes(F::custom_heart_packet)[1] = 0xCD;
  p.FieldBytes(F::custom_heart_packet_ack)[0] = 0x55;
  return p;
}

TAppParams Encoded(WindowFixture& w) {
  const auto record = w.form().EncodeParams();
  if (!record) qFatal("encoding failed: %s", qPrintable(w.boxes.join('|')));
  return *record;
}

bool Shown(WindowFixture& w, const char* name) { return !w.get<QWidget>(name)->isHidden(); }
bool Enabled(WindowFixture& w, const char* name) { return w.get<QWidget>(name)->isEnabled(); }

} // namespace

class TestFactoryDefaults : public QObject {
  Q_OBJECT

private slots:
  void hostNamesFitTheirFields();
  void sameResultFromAnyStart_data();
  void sameResultFromAnyStart();
  void boxRulesRunAsByAClick();
  void writeDeliversTheFactoryRecord();
};

void TestFactoryDefaults::hostNamesFitTheirFields() {
  for (const char* host : {kFactoryHostname1, kFactoryMasterHost}) {
    QVERIFY(std::strlen(host) > 0);
    QVERIFY2(std::strlen(host) <= 63, host);
  }
}

void TestFactoryDefaults::sameResultFromAnyStart_data() {
  QTest::addColumn<QString>("start");
  QTest::newRow("start-up pages") << "startup";
  QTest::newRow("wake-up mode picked by the user") << "wakeup";
  QTest::newRow("decoded record far from the factory set") << "far";
}

// Whatever the pages showed, the button gives the factory record and the
// factory layout, and pressing it again changes nothing. No DTU is connected.
void TestFactoryDefaults::sameResultFromAnyStart() {
  QFETCH(QString, start);
  WindowFixture w;
  QVERIFY(!w.form().link().LinkConnected);
  w.get<QLineEdit>("ed_dtuid")->setText(kDtuId);
  if (start == "wakeup") {
    auto* mode = w.get<QComboBox>("cb_workmode");
    mode->setCurrentIndex(1);
    emit mode->activated(1);
    QVERIFY(Shown(w, "ed_idletime") && Shown(w, "ckbDropWakedata") && !Shown(w, "ed_reconnecttime"));
  } else if (start == "far") {
    w.form().DecodeParams(FarRecord());
    QCOMPARE(Encoded(w), FarRecord());
  }

  w.click("SpeedButton15");
  const TAppParams once = Encoded(w);
  QVERIFY2(once == FactoryRecord(), qPrintable(Differences(once, FactoryRecord())));
  w.click("SpeedButton15");
  const TAppParams twice = Encoded(w);
  QVERIFY2(twice == once, qPrintable(Differences(twice, once)));

  const QString done = WindowFixture::caption("default_par");
  QVERIFY(!done.isEmpty());
  const QList<LogLine> lines = w.logLines();
  QCOMPARE(lines.size(), 2);
  for (const LogLine& line : lines) {
    QCOMPARE(line.text, done);
    QCOMPARE(line.colour, QColor(Qt::black));
    QCOMPARE(line.pointSize, 9.0);
  }
  QVERIFY(w.boxes.isEmpty());

  // Every dependent row matches the factory selections.
  for (const char* shown : {"ed_packet_length", "ed_delay", "Panel13", "ed_reconnecttime", "Label39",
                            "edAuto_cnt_interval"})
    QVERIFY2(Shown(w, shown), shown);
  for (const char* hidden : {"ed_idletime", "Label42", "ckbDropWakedata", "ePcreconnectinterval"})
    QVERIFY2(!Shown(w, hidden), hidden);
  // What the pages show, beyond what the record says.
  QCOMPARE(w.get<QComboBox>("cb_baudrate")->currentText(), QString("57600"));
  QCOMPARE(w.get<QLineEdit>("edConf")->text(), QString("######"));
  QCOMPARE(w.get<QLineEdit>("edprimaryDNS")->text(), QString("0.0.0.0"));
  QVERIFY(w.get<TMemo>("m_heart")->text().isEmpty());
  QVERIFY(w.get<TMemo>("m_heart_ack")->text().isEmpty());
}

// Ticked boxes are unticked as a click would do it, so their rules disable
// the controls that hang on them.
void TestFactoryDefaults::boxRulesRunAsByAClick() {
  WindowFixture w;
  w.form().DecodeParams(FarRecord());
  for (const char* on : {"ck_enable_heart", "ck_enable_heart_ack", "cb_insert_enable"})
    QVERIFY2(w.get<QCheckBox>(on)->isChecked(), on);
  for (const char* enabled : {"m_heart", "m_heart_ack", "ck_enable_heart_ack", "cb_insert_enable", "ed_insert_pos"})
    QVERIFY2(Enabled(w, enabled), enabled);

  w.click("SpeedButton15");
  for (const char* box : {"ck_enable_heart", "ck_enable_heart_ack", "cb_insert_enable", "ckbDropWakedata",
                          "ck_enable_recv_sms"})
    QVERIFY2(!w.get<QCheckBox>(box)->isChecked(), box);
  for (const char* disabled : {"m_heart", "Label33", "m_heart_ack", "Label34", "ck_enable_heart_ack",
                               "cb_insert_enable", "ed_insert_pos"})
    QVERIFY2(!Enabled(w, disabled), disabled);
}

// End to end over the pty: the defaults, written, reach the device as the
// factory record.
void TestFactoryDefaults::writeDeliversTheFactoryRecord() {
  DtuSimProcess sim;
  if (!sim.start()) QSKIP(qPrintable(sim.errorString()));
  WindowFixture w;
  w.form().Form3()->cb_com->setEditText(sim.devicePath());
  w.click("sb_com_open");
  QTRY_VERIFY2(w.get<QWidget>("sb_getpar")->isEnabled(), qPrintable(w.logTexts().join('\n')));

  w.form().DecodeParams(FarRecord()); // the pages start far from the factory set
  w.get<QLineEdit>("ed_dtuid")->setText(kDtuId);
  QVERIFY(sim.stateRecord().isEmpty()); // nothing written yet
  w.click("SpeedButton15");
  w.click("sb_setpar");
  QTRY_VERIFY2(w.logTexts().contains(WindowFixture::caption("app_par_save_completed")),
               qPrintable(w.logTexts().join('\n')));

  const QByteArray stored = sim.stateRecord();
  QCOMPARE(stored.size(), qsizetype(TAppParams::kSize));
  const TAppParams got =
      TAppParams::FromBytes(std::span(reinterpret_cast<const std::uint8_t*>(stored.constData()), stored.size()));
  QVERIFY2(got == FactoryRecord(), qPrintable(Differences(got, FactoryRecord())));
  // The bytes as the device sees them.
  QCOMPARE(stored.mid(FieldInfo(F::port1).offset, 2), QByteArray::fromHex("39C7"));
  QCOMPARE(stored.mid(FieldInfo(F::baudrate).offset, 4), QByteArray::fromHex("00E10000"));
  QCOMPARE(stored.mid(FieldInfo(F::apn).offset, 64), QByteArray("cmnet") + QByteArray(59, '\0'));
  QCOMPARE(stored.mid(FieldInfo(F::switch_cmd).offset, 6), QByteArray("######"));
  QCOMPARE(got.Get(F::connection_type1), 1u);
  QCOMPARE(got.Get(F::debug), 2u);
  QCOMPARE(got.Get(F::run_type), 1u);
  QVERIFY(w.boxes.isEmpty());
}

QTEST_MAIN(TestFactoryDefaults)
#include "test_factory_defaults.moc"
