// A parameter record shown on the pages and built back from them.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTest>

#include <algorithm>

#include "app/limited_edit.h"
#include "params/app_params.h"
#include "support/records.h"
#include "support/window_fixture.h"

using F = AppField;

namespace {

std::string Gbk(const char* hex) { // "D6D0" -> the two bytes
  return QByteArray::fromHex(hex).toStdString();
}

class Window : public WindowFixture {
public:
  int index(const char* name) { return get<QComboBox>(name)->currentIndex(); }
  bool checked(const char* name) { return get<QCheckBox>(name)->isChecked(); }
};

} // namespace

class TestFormMapping : public QObject {
  Q_OBJECT

private slots:
  void roundTripKeepsEveryByte();
  void decodeShowsFieldsOnTheirControls();
  void ktspForcesUdpAndShortPackets_data();
  void ktspForcesUdpAndShortPackets();
  void numbersKeepTheFieldWidth_data();
  void numbersKeepTheFieldWidth();
  void firstBadNumberEndsEncoding_data();
  void firstBadNumberEndsEncoding();
  void textsAndHeartbeats();
  void unknownBaudRateBlocksEncoding();
  void flagsAsTheDeviceReadsThem();
  void overlongHeartbeatShowsOnlyItsField();
  void deviceTextsInTheirCodePage();
  void listValuesOutsideTheirLists();
};

void TestFormMapping::roundTripKeepsEveryByte() {
  Window w;
  const TAppParams original = DistinctRecord();
  w.form().DecodeParams(original);
  const TAppParams again = w.encoded();
  QVERIFY2(again == original, qPrintable(RecordDifferences(again, original)));
  QVERIFY(w.boxes.isEmpty());
}

void TestFormMapping::decodeShowsFieldsOnTheirControls() {
  Window w;
  w.form().DecodeParams(DistinctRecord());
  const std::pair<const char*, QString> texts[] = {
      {"ed_packet_length", "777"},
      {"ed_delay", "450"},
      {"edprimaryDNS", "8.8.8.8"},
      {"edSecondaryDNS", "8.8.4.4"},
      {"edPingIP", "1.2.3.4"},
      {"ed_ip1", "192.168.1.2"},
      {"ed_ip3", "255.255.255.254"},
      {"ed_port1", "40009"},
      {"ed_pw", "Pa55密码"},
      {"ed_hostname3", QString(64, 'x')},
      {"ed_dtuid", "DTU-000000000001"},
      {"edConf", "$k7v$#"},
      {"m_heart", "01 AB 00 FF 7E "},
      {"edMasterIP", "10.20.30.40"},
      {"edPincode", "12345"},
  };
  for (const auto& [name, expected] : texts) QCOMPARE(w.text(name), expected);
  QCOMPARE(w.get<QComboBox>("cb_baudrate")->currentText(), QString("9600"));
  QCOMPARE(w.index("cb_paritybit"), 2);
  QCOMPARE(w.index("cbPtcl_select"), 2);
  QCOMPARE(w.index("cb_connecttype2"), 0);
  // The list rules were applied along the way.
  QVERIFY(w.get<QWidget>("ed_packet_length")->isHidden());     // command mode
  QVERIFY(w.get<QWidget>("Panel13")->isHidden());              // a named protocol
  QVERIFY(!w.get<QWidget>("ed_idletime")->isHidden());         // wake-up mode
  QVERIFY(!w.get<QWidget>("edAuto_cnt_interval")->isHidden()); // timed remote mode
  QVERIFY(w.get<QWidget>("m_heart")->isEnabled() && w.get<QWidget>("ed_insert_pos")->isEnabled());
}

void TestFormMapping::ktspForcesUdpAndShortPackets_data() {
  QTest::addColumn<int>("protocol");
  QTest::addColumn<QString>("packetText");
  QTest::addColumn<int>("stored");
  QTest::addColumn<int>("transport"); // what the record carries for the TCP shown
  QTest::newRow("ktsp 1024") << 1 << "1024" << 992 << 1;
  QTest::newRow("ktsp 992") << 1 << "992" << 992 << 1;
  QTest::newRow("ktsp 500") << 1 << "500" << 500 << 1;
  QTest::newRow("transparent 1024") << 0 << "1024" << 1024 << 0;
  QTest::newRow("hd-ddp 1024") << 2 << "1024" << 1024 << 0;
  QTest::newRow("modbus server 1024") << 4 << "1024" << 1024 << 0;
}

void TestFormMapping::ktspForcesUdpAndShortPackets() {
  QFETCH(int, protocol);
  QFETCH(QString, packetText);
  QFETCH(int, stored);
  QFETCH(int, transport);
  Window w;
  TAppParams p = DistinctRecord();
  p.Set(F::select_ptcl, protocol);
  for (F f : {F::connection_type1, F::connection_type2, F::connection_type3}) p.Set(f, 0);
  w.form().DecodeParams(p);
  w.setText("ed_packet_length", packetText);
  const TAppParams out = w.encoded();
  QCOMPARE(int(out.Get(F::packet_len)), stored);
  for (F f : {F::connection_type1, F::connection_type2, F::connection_type3})
    QCOMPARE(int(out.Get(f)), transport);
  // The pages keep what they showed.
  for (const char* list : {"cb_connecttype1", "cb_connecttype2", "cb_connecttype3"})
    QCOMPARE(w.index(list), 0);
  QCOMPARE(w.text("ed_packet_length"), packetText);
}

void TestFormMapping::numbersKeepTheFieldWidth_data() {
  QTest::addColumn<QString>("control");
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("field");
  QTest::addColumn<uint>("stored");
  QTest::newRow("port low 16 bits") << "ed_port1"
                                    << "70000" << int(F::port1) << 4464u;
  QTest::newRow("negative packet") << "ed_packet_length"
                                   << "-5" << int(F::packet_len) << 65531u;
  QTest::newRow("insert position 8 bits") << "ed_insert_pos"
                                          << "300" << int(F::dtuinsertid_pos) << 44u;
  QTest::newRow("ping interval 8 bits") << "edPingIvl"
                                        << "256" << int(F::ping_interval) << 0u;
  QTest::newRow("plus sign") << "edMasterPort"
                             << "+80" << int(F::master_port) << 80u;
  QTest::newRow("bad address") << "ed_ip2"
                               << "not an address" << int(F::ip2) << 0xFFFFFFFFu;
  // Four decimal parts or no address: the old rules read these as 10.0.0.1
  // and 192.168.1.8.
  QTest::newRow("short address") << "edMasterIP"
                                 << "10.1" << int(F::master_ip) << 0xFFFFFFFFu;
  QTest::newRow("zero-padded address") << "ed_ip1"
                                       << "192.168.001.010" << int(F::ip1) << 0xFFFFFFFFu;
}

void TestFormMapping::numbersKeepTheFieldWidth() {
  QFETCH(QString, control);
  QFETCH(QString, text);
  QFETCH(int, field);
  QFETCH(uint, stored);
  Window w;
  w.form().DecodeParams(DistinctRecord());
  w.setText(control.toLatin1(), text);
  QCOMPARE(w.encoded().Get(F(field)), stored);
}

void TestFormMapping::firstBadNumberEndsEncoding_data() {
  QTest::addColumn<QStringList>("controls"); // name=text, set in this order
  QTest::addColumn<QString>("reported");
  QTest::newRow("empty heart interval") << QStringList{"ed_heart="} << "";
  QTest::newRow("delay before port") << QStringList{"ed_port1=p", "ed_delay=d"} << "d";
  QTest::newRow("ping interval before port") << QStringList{"ed_port3=p", "edPingIvl=i"} << "i";
  QTest::newRow("insert position before idle")
      << QStringList{"ed_idletime=x", "ed_insert_pos=y"} << "y";
  QTest::newRow("master port before reconnect")
      << QStringList{"ePcreconnectinterval=r", "edMasterPort=m"} << "m";
  QTest::newRow("last field") << QStringList{"ePcreconnectinterval=1e3"} << "1e3";
}

void TestFormMapping::firstBadNumberEndsEncoding() {
  QFETCH(QStringList, controls);
  QFETCH(QString, reported);
  Window w;
  w.form().DecodeParams(DistinctRecord());
  for (const QString& c : controls) {
    const QStringList kv = c.split('=');
    w.setText(kv[0].toLatin1(), kv[1]);
  }
  QVERIFY(!w.form().EncodeParams());
  QCOMPARE(w.boxes, QStringList{ConversionError(reported)});
}

void TestFormMapping::textsAndHeartbeats() {
  Window w;
  w.form().DecodeParams(DistinctRecord());
  w.setText("ed_apn", "");
  w.get<QCheckBox>("ck_enable_heart_ack")->setChecked(false);
  w.setText("m_heart_ack", "01 02");
  w.setText("m_heart", "1 ab ABC 7f"); // only whole pairs of digits count
  const TAppParams out = w.encoded();
  for (std::uint8_t b : out.FieldBytes(F::apn)) QCOMPARE(int(b), 0);
  QCOMPARE(int(out.Get(F::custom_heart_packet_ack_en)), 0);
  QCOMPARE(int(out.Get(F::custom_heart_packet_ack_len)), 0);
  for (std::uint8_t b : out.FieldBytes(F::custom_heart_packet_ack)) QCOMPARE(int(b), 0);
  QCOMPARE(int(out.Get(F::custom_heart_packet_en)), 1);
  QCOMPARE(int(out.Get(F::custom_heart_packet_len)), 3);
  const auto heart = out.FieldBytes(F::custom_heart_packet);
  QCOMPARE(QByteArray(reinterpret_cast<const char*>(heart.data()), 24),
           QByteArray::fromHex("ABAB7F") + QByteArray(21, '\0'));
  // A pasted memo with more pairs than the field holds fills the field only.
  w.setText("m_heart", QString("5A ").repeated(30));
  const TAppParams full = w.encoded();
  QCOMPARE(int(full.Get(F::custom_heart_packet_len)), 24);
  QCOMPARE(int(full.Get(F::custom_heart_packet_ack_en)), 0); // the next field is untouched
}

void TestFormMapping::unknownBaudRateBlocksEncoding() {
  Window w;
  TAppParams p = DistinctRecord();
  p.Set(F::baudrate, 12345);
  p.Set(F::run_type, 7);
  w.form().DecodeParams(p);
  QCOMPARE(w.index("cb_baudrate"), -1);
  // The technician learns what the unit holds that the pages cannot show.
  const QString notShown = WindowFixture::caption("value_not_shown");
  QCOMPARE(w.logTexts(), (QStringList{notShown + w.get<QLabel>("Label74")->text() + " 12345",
                                      notShown + w.get<QLabel>("Label48")->text() + " 7"}));
  QVERIFY(!w.form().EncodeParams());
  QCOMPARE(w.boxes, QStringList{ConversionError("")});
  w.get<QComboBox>("cb_baudrate")->setCurrentIndex(0);
  QCOMPARE(w.encoded().Get(F::baudrate), 115200u);
}

void TestFormMapping::flagsAsTheDeviceReadsThem() {
  Window w;
  TAppParams p = DistinctRecord();
  p.Set(F::run_mode, 2);
  p.Set(F::recv_sms_en, 0);
  w.form().DecodeParams(p);
  QVERIFY(!w.checked("ck_enable_recv_sms")); // the field wins over the work-mode rule
  p.Set(F::recv_sms_en, 2);
  p.Set(F::dtuinsertid, 2);
  p.Set(F::drop_wakeup_data, 2);
  w.form().DecodeParams(p);
  QVERIFY(w.checked("ck_enable_recv_sms"));
  QVERIFY(!w.checked("cb_insert_enable"));
  QVERIFY(!w.checked("ckbDropWakedata"));
  const TAppParams out = w.encoded();
  QCOMPARE(int(out.Get(F::recv_sms_en)), 1);
  QCOMPARE(int(out.Get(F::dtuinsertid)), 0);
  // A box that shows the value ticked shows it; each value stored otherwise
  // than the unit held it is named when the record is built.
  const QStringList log = w.logTexts();
  const QString forwarding = w.get<QCheckBox>("ck_enable_recv_sms")->text();
  QCOMPARE(log.filter(WindowFixture::caption("value_not_shown")).filter(forwarding).size(), 0);
  QCOMPARE(log.filter(WindowFixture::caption("value_not_shown")).size(), 2);
  QCOMPARE(log.filter(WindowFixture::caption("value_stored_as")).filter(": 2 → ").size(), 3);
}

void TestFormMapping::overlongHeartbeatShowsOnlyItsField() {
  Window w;
  TAppParams p = DistinctRecord();
  p.Set(F::custom_heart_packet_len, 30);
  p.Set(F::custom_heart_packet_ack_len, 255);
  w.form().DecodeParams(p);
  QCOMPARE(w.text("m_heart"), QString("01 AB 00 FF 7E ") + QString("00 ").repeated(19));
  const QString ack = w.text("m_heart_ack");
  QCOMPARE(ack.size(), 72);
  QVERIFY(ack.startsWith("C0 C1 ") && ack.endsWith("D7 "));
  const TAppParams out = w.encoded();
  QCOMPARE(int(out.Get(F::custom_heart_packet_len)), 24);
  QCOMPARE(int(out.Get(F::custom_heart_packet_ack_len)), 24);
}

void TestFormMapping::deviceTextsInTheirCodePage() {
  Window w;
  w.form().DecodeParams(DistinctRecord());
  struct Case {
    const char* control;
    F field;
    QString text;
    std::string bytes;
  };
  const Case cases[] = {
      {"ed_apn", F::apn, "中文", Gbk("D6D0CEC4")},
      // A double-byte character that would straddle the field's end is left out.
      {"ed_pppname", F::ppp_username, QString(63, 'a') + "中", std::string(63, 'a')},
      {"edPincode", F::pin_code, "12中文", "12" + Gbk("D6D0")},
      {"edConf", F::switch_cmd, "中文中", Gbk("D6D0CEC4D6D0")},
      {"ed_dtuid", F::dtu_id, "ID-中", "ID-" + Gbk("D6D0")},
      {"edPinghost", F::ping_host, "a\U0001F600b", "a?b"}, // no such character in the code page
  };
  for (const Case& c : cases) w.setText(c.control, c.text);
  const TAppParams out = w.encoded();
  for (const Case& c : cases) {
    QCOMPARE(out.GetText(c.field), c.bytes);
    const auto raw = out.FieldBytes(c.field);
    QVERIFY(std::all_of(raw.begin() + c.bytes.size(), raw.end(),
                        [](std::uint8_t b) { return b == 0; }));
  }
  // And back onto the pages as the same characters.
  w.form().DecodeParams(out);
  QCOMPARE(w.text("ed_apn"), QString("中文"));
  QCOMPARE(w.text("edPincode"), QString("12中"));
  QCOMPARE(w.text("edConf"), QString("中文中"));
}

void TestFormMapping::listValuesOutsideTheirLists() {
  Window w;
  TAppParams p = DistinctRecord();
  const std::pair<F, const char*> lists[] = {
      {F::paritybit, "cb_paritybit"},    {F::com_ptcl, "cbdtuserialptcl"},
      {F::debug, "cb_report"},           {F::connection_type1, "cb_connecttype1"},
      {F::select_ptcl, "cbPtcl_select"}, {F::run_mode, "cb_workmode"},
      {F::run_type, "cbPconlinemode"},
  };
  for (const auto& [f, list] : lists) p.Set(f, std::uint32_t(w.get<QComboBox>(list)->count()));
  p.Set(F::databit, 9);
  w.form().DecodeParams(p);
  for (const auto& [f, list] : lists) QCOMPARE(w.index(list), -1);
  QCOMPARE(w.index("cb_databit"), -1);
  w.get<QComboBox>("cb_databit")->setCurrentIndex(1);
  const TAppParams out = w.encoded();
  for (const auto& [f, list] : lists) QCOMPARE(int(out.Get(f)), 0xFF);
  QCOMPARE(int(out.Get(F::databit)), 7);
}

QTEST_MAIN(TestFormMapping)
#include "test_form_mapping.moc"
