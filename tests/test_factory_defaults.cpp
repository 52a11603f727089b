// The factory button: what it puts on the pages, and what a write then gives
// the device.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <cstring>

#include "app/limited_edit.h"
#include "params/app_params.h"
#include "params/factory_set.h"
#include "support/dtu_sim_process.h"
#include "support/records.h"
#include "support/window_fixture.h"

using F = AppField;

namespace {

const char kDtuId[] = "K7V-UNIT-0042"; // the factory set leaves the identifier alone

// A record far from the factory set, the remote link permanent as well.
TAppParams FarRecord() {
  TAppParams p = DistinctRecord();
  p.Set(F::run_type, 0);
  p.SetText(F::dtu_id, kDtuId);
  return p;
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
  w.setText("ed_dtuid", kDtuId);
  if (start == "wakeup") {
    w.choose("cb_workmode", 1);
    QVERIFY(Shown(w, "ed_idletime") && Shown(w, "ckbDropWakedata") &&
            !Shown(w, "ed_reconnecttime"));
  } else if (start == "far") {
    w.form().DecodeParams(FarRecord());
  }

  w.click("SpeedButton15");
  const TAppParams once = w.encoded();
  QVERIFY2(once == FactoryRecord(kDtuId),
           qPrintable(RecordDifferences(once, FactoryRecord(kDtuId))));
  // The button's steps and the record the simulator and the command line use agree.
  TAppParams core = FactoryParams();
  core.SetText(F::dtu_id, kDtuId);
  QVERIFY2(once == core, qPrintable(RecordDifferences(once, core)));
  w.click("SpeedButton15");
  const TAppParams twice = w.encoded();
  QVERIFY2(twice == once, qPrintable(RecordDifferences(twice, once)));

  QVERIFY(w.logTailIs(0, {Progress("default_par"), Progress("default_par")}));
  QVERIFY(w.boxes.isEmpty());

  // Every dependent row matches the factory selections.
  for (const char* shown : {"ed_packet_length", "ed_delay", "Panel13", "ed_reconnecttime",
                            "Label39", "edAuto_cnt_interval"})
    QVERIFY2(Shown(w, shown), shown);
  for (const char* hidden : {"ed_idletime", "Label42", "ckbDropWakedata", "ePcreconnectinterval"})
    QVERIFY2(!Shown(w, hidden), hidden);
  // What the pages show, beyond what the record says.
  QCOMPARE(w.get<QComboBox>("cb_baudrate")->currentText(), QString("57600"));
  QCOMPARE(w.text("edConf"), QString("######"));
  QCOMPARE(w.text("edprimaryDNS"), QString("0.0.0.0"));
  QVERIFY(w.text("m_heart").isEmpty());
  QVERIFY(w.text("m_heart_ack").isEmpty());
}

// Ticked boxes are unticked as a click would do it, so their rules disable
// the controls that hang on them.
void TestFactoryDefaults::boxRulesRunAsByAClick() {
  WindowFixture w;
  w.form().DecodeParams(FarRecord());
  for (const char* on : {"ck_enable_heart", "ck_enable_heart_ack", "cb_insert_enable"})
    QVERIFY2(w.get<QCheckBox>(on)->isChecked(), on);
  for (const char* enabled :
       {"m_heart", "m_heart_ack", "ck_enable_heart_ack", "cb_insert_enable", "ed_insert_pos"})
    QVERIFY2(Enabled(w, enabled), enabled);

  w.click("SpeedButton15");
  for (const char* box : {"ck_enable_heart", "ck_enable_heart_ack", "cb_insert_enable",
                          "ckbDropWakedata", "ck_enable_recv_sms"})
    QVERIFY2(!w.get<QCheckBox>(box)->isChecked(), box);
  for (const char* disabled : {"m_heart", "Label33", "m_heart_ack", "Label34",
                               "ck_enable_heart_ack", "cb_insert_enable", "ed_insert_pos"})
    QVERIFY2(!Enabled(w, disabled), disabled);
}

// End to end over the pty: the defaults, written, reach the device as the
// factory record.
void TestFactoryDefaults::writeDeliversTheFactoryRecord() {
  DtuSimProcess sim;
  if (!sim.start()) QSKIP(qPrintable(sim.errorString()));
  WindowFixture w;
  QVERIFY(w.connectTo(sim.devicePath()));

  w.form().DecodeParams(FarRecord()); // the pages start far from the factory set
  w.setText("ed_dtuid", kDtuId);
  QVERIFY(sim.stateRecord().isEmpty()); // nothing written yet
  w.click("SpeedButton15");
  w.click("sb_setpar");
  QTRY_VERIFY2(w.logTexts().contains(WindowFixture::caption("app_par_save_completed")),
               qPrintable(w.logTexts().join('\n')));

  const QByteArray stored = sim.stateRecord();
  QCOMPARE(stored.size(), qsizetype(TAppParams::kSize));
  const TAppParams got = RecordFrom(stored);
  QVERIFY2(got == FactoryRecord(kDtuId), qPrintable(RecordDifferences(got, FactoryRecord(kDtuId))));
  // The bytes as the device sees them.
  QCOMPARE(stored.mid(FieldInfo(F::port1).offset, 2), QByteArray::fromHex("39C7"));
  QCOMPARE(stored.mid(FieldInfo(F::baudrate).offset, 4), QByteArray::fromHex("00E10000"));
  QCOMPARE(stored.mid(FieldInfo(F::apn).offset, 64), QByteArray("cmnet") + QByteArray(59, '\0'));
  QCOMPARE(stored.mid(FieldInfo(F::switch_cmd).offset, 6), QByteArray("######"));
  QVERIFY(w.boxes.isEmpty());
}

QTEST_MAIN(TestFactoryDefaults)
#include "test_factory_defaults.moc"
