// Parameter record layout, product information block, heartbeat hex text,
// device text code page and what a field can hold.

#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "params/app_params.h"
#include "params/factory_set.h"
#include "params/hex_text.h"
#include "params/param_profile.h"
#include "params/sys_info.h"
#include "platform/code_page_936.h"

#include <random>

namespace {

bool IsNumeric(FieldEncoding e) { return e != FieldEncoding::Text && e != FieldEncoding::Bytes; }

// A byte unique to (field, position) and never zero, so a text field written
// with it is full and no field can be mistaken for its neighbour.
std::uint8_t Pattern(std::size_t field, std::size_t k) {
  return std::uint8_t((field * 37 + k * 11) % 254 + 1);
}

std::vector<std::uint8_t> Bytes(std::initializer_list<int> v) {
  return std::vector<std::uint8_t>(v.begin(), v.end());
}

} // namespace

class TestCoreRecord : public QObject {
  Q_OBJECT

private slots:
  // ---------------------------------------------------------------- record layout
  void layoutMatchesDeviceRecord();
  void everyFieldLandsAtItsOffsetAndReadsBack();
  void documentedByteExamples();
  void numbersKeepOnlyTheFieldWidth();
  void zeroRecordReadsAsEmpty();
  void textFieldsFillAndPad();
  void fromBytesCopiesAtMostOneRecord();
  void wrongKindOfAccessTouchesNothing();

  // ---------------------------------------------------------------- product information
  void sysInfoFullBlock();
  void sysInfoShortPayloads();

  // ---------------------------------------------------------------- heartbeat hex text
  void hexToBytes_data();
  void hexToBytes();
  void hexToBytesHonoursLength();
  void bytesToHex();
  void bytesToHexStopsAtCapacity();
  void hexRoundTripAllByteValues();

  // ---------------------------------------------------------------- readable profile
  void profileRoundTripsAnyRecord();
  void profileValues_data();
  void profileValues();
  void profileReportsEveryProblemWithItsLine();
  void profileFollowsTheFieldModel_data();
  void profileFollowsTheFieldModel();
  void profileIssuesNameWhatTheTechnicianGave();
  void profileFilesInWindowsEncodings_data();
  void profileFilesInWindowsEncodings();

  // ---------------------------------------------------------------- device texts, field checks
  void codePageAgreesWithWindowCodec_data();
  void codePageAgreesWithWindowCodec();
};

void TestCoreRecord::layoutMatchesDeviceRecord() {
  // Offsets and sizes as the DTU lays the record out, written out here
  // independently of the table in the code.
  struct Expect {
    AppField id;
    int offset;
    int size;
  };
  using F = AppField;
  const Expect expected[] = {
      {F::baudrate, 0, 4},
      {F::databit, 4, 1},
      {F::stopbit, 5, 1},
      {F::paritybit, 6, 1},
      {F::com_ptcl, 7, 1},
      {F::packet_len, 8, 2},
      {F::delay, 10, 2},
      {F::debug, 12, 1},
      {F::apn, 13, 64},
      {F::ppp_username, 77, 64},
      {F::ppp_pw, 141, 64},
      {F::main_dns, 205, 4},
      {F::second_dns, 209, 4},
      {F::ping_ip, 213, 4},
      {F::ping_host, 217, 64},
      {F::ping_interval, 281, 1},
      {F::ip1, 282, 4},
      {F::hostname1, 286, 64},
      {F::port1, 350, 2},
      {F::connection_type1, 352, 1},
      {F::ip2, 353, 4},
      {F::hostname2, 357, 64},
      {F::port2, 421, 2},
      {F::connection_type2, 423, 1},
      {F::ip3, 424, 4},
      {F::hostname3, 428, 64},
      {F::port3, 492, 2},
      {F::connection_type3, 494, 1},
      {F::heart_interval, 495, 2},
      {F::dtu_id, 497, 16},
      {F::select_ptcl, 513, 1},
      {F::dtuinsertid, 514, 1},
      {F::dtuinsertid_pos, 515, 1},
      {F::custom_heart_packet_en, 516, 1},
      {F::custom_heart_packet_len, 517, 1},
      {F::custom_heart_packet, 518, 24},
      {F::custom_heart_packet_ack_en, 542, 1},
      {F::custom_heart_packet_ack_len, 543, 1},
      {F::custom_heart_packet_ack, 544, 24},
      {F::run_mode, 568, 1},
      {F::idle_interval, 569, 2},
      {F::reconnect_interval, 571, 2},
      {F::drop_wakeup_data, 573, 1},
      {F::phone_number, 574, 32},
      {F::recv_sms_en, 606, 1},
      {F::switch_cmd, 607, 6},
      {F::auto_interval, 613, 2},
      {F::master_ip, 615, 4},
      {F::master_host, 619, 64},
      {F::master_port, 683, 2},
      {F::pin_code, 685, 5},
      {F::run_type, 690, 1},
      {F::master_reconnect_interval, 691, 2},
  };
  QCOMPARE(std::size(expected), kAppFields.size());
  for (const Expect& e : expected) {
    const AppFieldInfo& info = FieldInfo(e.id);
    QVERIFY2(info.id == e.id, info.name);
    QVERIFY2(info.offset == e.offset, info.name);
    QVERIFY2(info.size == e.size, info.name);
  }
}

void TestCoreRecord::everyFieldLandsAtItsOffsetAndReadsBack() {
  TAppParams p;
  for (std::size_t i = 0; i < kAppFields.size(); ++i) {
    const AppFieldInfo& f = kAppFields[i];
    if (IsNumeric(f.encoding)) {
      std::uint32_t v = 0;
      for (std::size_t k = f.size; k-- > 0;) v = (v << 8) | Pattern(i, k);
      p.Set(f.id, v);
    } else {
      std::string text;
      for (std::size_t k = 0; k < f.size; ++k) text.push_back(char(Pattern(i, k)));
      p.SetText(f.id, text);
    }
  }

  // Every byte of the record belongs to exactly one field and carries that
  // field's pattern, least significant byte first for numbers.
  std::vector<int> owner(TAppParams::kSize, -1);
  for (std::size_t i = 0; i < kAppFields.size(); ++i) {
    const AppFieldInfo& f = kAppFields[i];
    for (std::size_t k = 0; k < f.size; ++k) {
      const std::size_t at = f.offset + k;
      QVERIFY2(at < TAppParams::kSize, f.name);
      QVERIFY2(owner[at] == -1, f.name);
      owner[at] = int(i);
      QVERIFY2(p.bytes()[at] == Pattern(i, k), f.name);
    }
  }
  QVERIFY(std::none_of(owner.begin(), owner.end(), [](int o) { return o < 0; }));

  for (std::size_t i = 0; i < kAppFields.size(); ++i) {
    const AppFieldInfo& f = kAppFields[i];
    const auto field = p.FieldBytes(f.id);
    QCOMPARE(field.size(), std::size_t(f.size));
    QVERIFY2(field.data() == p.bytes().data() + f.offset, f.name);
    if (IsNumeric(f.encoding)) {
      std::uint32_t v = 0;
      for (std::size_t k = f.size; k-- > 0;) v = (v << 8) | Pattern(i, k);
      QVERIFY2(p.Get(f.id) == v, f.name);
    } else {
      QVERIFY2(p.GetText(f.id).size() == f.size, f.name);
      QVERIFY2(std::equal(field.begin(), field.end(), p.GetText(f.id).begin(),
                          [](std::uint8_t a, char b) { return a == std::uint8_t(b); }),
               f.name);
    }
  }
}

void TestCoreRecord::documentedByteExamples() {
  TAppParams p;
  p.Set(AppField::port1, 40009);
  p.Set(AppField::baudrate, 57600);
  p.Set(AppField::ip1, 0xC0A80102); // 192.168.1.2
  const auto& b = p.bytes();
  QCOMPARE(b[350], std::uint8_t(0x49));
  QCOMPARE(b[351], std::uint8_t(0x9C));
  QCOMPARE(Bytes({b[0], b[1], b[2], b[3]}), Bytes({0x00, 0xE1, 0x00, 0x00}));
  QCOMPARE(Bytes({b[282], b[283], b[284], b[285]}), Bytes({0x02, 0x01, 0xA8, 0xC0}));
  QCOMPARE(p.Get(AppField::ip1), 0xC0A80102u);
  QCOMPARE(p.Get(AppField::port1), 40009u);
  QCOMPARE(p.Get(AppField::baudrate), 57600u);

  // Readers see the raw byte of a flag; what counts as on is the form's business.
  p.Set(AppField::recv_sms_en, 2);
  QCOMPARE(p.Get(AppField::recv_sms_en), 2u);
}

void TestCoreRecord::numbersKeepOnlyTheFieldWidth() {
  TAppParams p;
  p.Set(AppField::port2, 70000); // low 16 bits: 4464
  QCOMPARE(p.Get(AppField::port2), 4464u);
  QCOMPARE(p.bytes()[420], std::uint8_t(0)); // last byte of hostname2
  QCOMPARE(p.bytes()[423], std::uint8_t(0)); // connection_type2
  p.Set(AppField::debug, 0xFFFFFFFF);        // a list with no selection stores 0xFF
  QCOMPARE(p.Get(AppField::debug), 0xFFu);
  QCOMPARE(p.bytes()[11], std::uint8_t(0));
  QCOMPARE(p.bytes()[13], std::uint8_t(0));
}

void TestCoreRecord::zeroRecordReadsAsEmpty() {
  const TAppParams p = TAppParams::FromBytes(std::vector<std::uint8_t>(693, 0));
  QVERIFY(p == TAppParams());
  for (const AppFieldInfo& f : kAppFields) {
    QVERIFY2(p.Get(f.id) == 0, f.name);
    QVERIFY2(p.GetText(f.id).empty(), f.name);
  }
}

void TestCoreRecord::textFieldsFillAndPad() {
  TAppParams p;
  const std::string full(64, 'x');
  p.SetText(AppField::apn, full);
  QCOMPARE(p.GetText(AppField::apn), full);

  // Too long: cut at the field, the neighbour keeps its bytes.
  p.SetText(AppField::ppp_username, "keep");
  p.SetText(AppField::apn, std::string(70, 'y'));
  QCOMPARE(p.GetText(AppField::apn), std::string(64, 'y'));
  QCOMPARE(p.GetText(AppField::ppp_username), std::string("keep"));

  // Shorter text over a longer one: the rest of the field is zero again.
  p.SetText(AppField::apn, "cmnet");
  QCOMPARE(p.GetText(AppField::apn), std::string("cmnet"));
  const auto apn = p.FieldBytes(AppField::apn);
  QVERIFY(std::all_of(apn.begin() + 5, apn.end(), [](std::uint8_t c) { return c == 0; }));

  // The switch command fills its six bytes with no terminator.
  p.Set(AppField::auto_interval, 0xBEEF);
  p.SetText(AppField::switch_cmd, "######");
  for (int i = 607; i < 613; ++i) QCOMPARE(p.bytes()[i], std::uint8_t('#'));
  QCOMPARE(p.GetText(AppField::switch_cmd), std::string("######"));
  QCOMPARE(p.Get(AppField::auto_interval), 0xBEEFu);

  // A text ends at its first zero even when bytes follow.
  p.FieldBytes(AppField::pin_code)[0] = '1';
  p.FieldBytes(AppField::pin_code)[2] = '3';
  QCOMPARE(p.GetText(AppField::pin_code), std::string("1"));

  // Bytes fields read the same way.
  p.SetText(AppField::custom_heart_packet, std::string("\x01\x02\x00\x04", 4));
  QCOMPARE(p.FieldBytes(AppField::custom_heart_packet)[3], std::uint8_t(4));
}

void TestCoreRecord::fromBytesCopiesAtMostOneRecord() {
  std::vector<std::uint8_t> longer(800, 0x5A);
  const TAppParams longRec = TAppParams::FromBytes(longer);
  QVERIFY(std::all_of(longRec.bytes().begin(), longRec.bytes().end(),
                      [](std::uint8_t c) { return c == 0x5A; }));

  const TAppParams shortRec = TAppParams::FromBytes(std::vector<std::uint8_t>(10, 0x5A));
  QCOMPARE(shortRec.bytes()[9], std::uint8_t(0x5A));
  QCOMPARE(shortRec.bytes()[10], std::uint8_t(0));
  QCOMPARE(shortRec.Get(AppField::packet_len), 0x5A5Au);
  QCOMPARE(shortRec.Get(AppField::delay), 0u);
  QVERIFY(TAppParams::FromBytes({}) == TAppParams());
}

void TestCoreRecord::wrongKindOfAccessTouchesNothing() {
  TAppParams p;
  p.Set(AppField::apn, 0x41414141);
  p.SetText(AppField::port1, "AB");
  p.Set(AppField::Count, 1);
  QVERIFY(p == TAppParams());
  QCOMPARE(p.Get(AppField::Count), 0u);
  QVERIFY(p.FieldBytes(AppField::Count).empty());
  QVERIFY(p.GetText(AppField::baudrate).empty());
  QCOMPARE(FieldInfo(AppField::Count).size, std::uint16_t(0));
}

// ---------------------------------------------------------------- product information

void TestCoreRecord::sysInfoFullBlock() {
  std::vector<std::uint8_t> payload(60, 'z'); // bytes 20..32 and past 49 must not leak in
  const std::string type = "DTU1", model = "K7V-GPRS-232", serial = "R232", sn = "0123456789ABCDEF";
  std::copy(type.begin(), type.end(), payload.begin());
  std::copy(model.begin(), model.end(), payload.begin() + 4);
  std::copy(serial.begin(), serial.end(), payload.begin() + 16);
  std::copy(sn.begin(), sn.end(), payload.begin() + 33);
  TSysInfo info = ParseSysInfo(payload);
  QCOMPARE(info.product_type, type);
  QCOMPARE(info.product_model, model);
  QCOMPARE(info.serial_type, serial);
  QCOMPARE(info.sn, sn);

  // Zero-terminated short texts.
  payload.assign(49, 0);
  payload[0] = 'A';
  payload[4] = 'M';
  payload[5] = '1';
  payload[16] = 'S';
  payload[33] = '7';
  payload[35] = '9'; // after the terminator: not part of the text
  info = ParseSysInfo(payload);
  QCOMPARE(info.product_type, std::string("A"));
  QCOMPARE(info.product_model, std::string("M1"));
  QCOMPARE(info.serial_type, std::string("S"));
  QCOMPARE(info.sn, std::string("7"));
}

void TestCoreRecord::sysInfoShortPayloads() {
  const std::vector<std::uint8_t> block(49, 'q');
  struct Case {
    std::size_t size;
    bool type, model, serial, sn;
  };
  const Case cases[] = {
      {0, false, false, false, false}, {3, false, false, false, false},
      {4, true, false, false, false},  {15, true, false, false, false},
      {16, true, true, false, false},  {19, true, true, false, false},
      {20, true, true, true, false},   {48, true, true, true, false},
      {49, true, true, true, true},
  };
  for (const Case& c : cases) {
    const TSysInfo info = ParseSysInfo(std::span(block).first(c.size));
    QCOMPARE(info.product_type.size(), c.type ? 4u : 0u);
    QCOMPARE(info.product_model.size(), c.model ? 12u : 0u);
    QCOMPARE(info.serial_type.size(), c.serial ? 4u : 0u);
    QCOMPARE(info.sn.size(), c.sn ? 16u : 0u);
  }
}

// ---------------------------------------------------------------- heartbeat hex text

void TestCoreRecord::hexToBytes_data() {
  QTest::addColumn<QByteArray>("text");
  QTest::addColumn<QByteArray>("bytes");
  QTest::newRow("blank between") << QByteArray("01 AB") << QByteArray("\x01\xAB");
  QTest::newRow("no blank") << QByteArray("01AB") << QByteArray("\x01\xAB");
  QTest::newRow("trailing blank") << QByteArray("01 AB ") << QByteArray("\x01\xAB");
  QTest::newRow("lone digit dropped") << QByteArray("1 AB") << QByteArray("\xAB");
  QTest::newRow("odd digit at end") << QByteArray("ABC") << QByteArray("\xAB");
  QTest::newRow("lower case") << QByteArray("01 ab") << QByteArray("\x01\xAB");
  QTest::newRow("mixed case") << QByteArray("aB Cd") << QByteArray("\xAB\xCD");
  QTest::newRow("letter beyond F") << QByteArray("0G 12") << QByteArray("\x12");
  QTest::newRow("leading junk") << QByteArray("zz12") << QByteArray("\x12");
  QTest::newRow("between 9 and A") << QByteArray("01:AB") << QByteArray("\x01\xAB");
  QTest::newRow("punctuation") << QByteArray("01,02;03") << QByteArray("\x01\x02\x03");
  QTest::newRow("high bytes") << QByteArray("\xC1\xC2"
                                            "7F")
                              << QByteArray("\x7F");
  QTest::newRow("newlines") << QByteArray("01\r\n02") << QByteArray("\x01\x02");
  QTest::newRow("empty") << QByteArray("") << QByteArray();
  QTest::newRow("single digit") << QByteArray("A") << QByteArray();
  QTest::newRow("only separators") << QByteArray("  ::  ") << QByteArray();
}

void TestCoreRecord::hexToBytes() {
  QFETCH(QByteArray, text);
  QFETCH(QByteArray, bytes);
  const auto got =
      HexToBytes(std::string_view(text.constData(), std::size_t(text.size())), int(text.size()));
  QCOMPARE(QByteArray(reinterpret_cast<const char*>(got.data()), qsizetype(got.size())), bytes);
}

void TestCoreRecord::hexToBytesHonoursLength() {
  QCOMPARE(HexToBytes("01AB", 3), Bytes({0x01}));
  QCOMPARE(HexToBytes("01AB", 1), Bytes({}));
  QCOMPARE(HexToBytes("01AB", 100), Bytes({0x01, 0xAB}));
  QCOMPARE(HexToBytes("01AB", -1), Bytes({}));
}

void TestCoreRecord::bytesToHex() {
  const std::uint8_t two[] = {0x01, 0xAB};
  QCOMPARE(BytesToHex(two, 2, 130), std::string("01 AB "));
  QCOMPARE(BytesToHex(two, 0, 130), std::string());
  QCOMPARE(BytesToHex(nullptr, 2, 130), std::string());

  std::vector<std::uint8_t> packet(24);
  for (int i = 0; i < 24; ++i) packet[std::size_t(i)] = std::uint8_t(i * 11);
  const std::string text = BytesToHex(packet.data(), 24, 130);
  QCOMPARE(text.size(), 72u);
  QCOMPARE(text.substr(0, 9), std::string("00 0B 16 "));
  QCOMPARE(text.substr(69), std::string("FD "));
}

void TestCoreRecord::bytesToHexStopsAtCapacity() {
  const std::vector<std::uint8_t> many(255, 0xEE);
  // 130 characters hold 43 whole bytes and the closing zero.
  QCOMPARE(BytesToHex(many.data(), 43, 130).size(), 129u);
  const std::string cut = BytesToHex(many.data(), 255, 130);
  QCOMPARE(cut.size(), 129u);
  QCOMPARE(cut.substr(123), std::string("EE EE "));
  QCOMPARE(BytesToHex(many.data(), 2, 5), std::string("EE E"));
  QCOMPARE(BytesToHex(many.data(), 2, 1), std::string());
  QCOMPARE(BytesToHex(many.data(), 2, 0), std::string());
}

void TestCoreRecord::hexRoundTripAllByteValues() {
  for (int start = 0; start < 256; start += 24) {
    std::vector<std::uint8_t> in;
    for (int v = start; v < std::min(start + 24, 256); ++v) in.push_back(std::uint8_t(v));
    const std::string text = BytesToHex(in.data(), int(in.size()), 130);
    QCOMPARE(HexToBytes(text, int(text.size())), in);
  }
}

// ---------------------------------------------------------------- readable profile

namespace {

// A record applied from profile text onto base, or the joined reasons.
ProfileResult Apply(const TAppParams& base, const std::string& text, ProfileChecks checks) {
  const ProfileSource src{"p.ini", text, false};
  return ApplyProfiles(base, std::span(&src, 1), checks);
}

} // namespace

void TestCoreRecord::profileRoundTripsAnyRecord() {
  // Half the fields get plain random bytes, the others values a technician
  // would write, with the awkward texts among them (blanks at the ends,
  // quotes, GBK, something that looks like hex:).
  const std::string texts[] = {"cmnet",  " lead", "trail ", "\"quoted\"", "'", "\xD6\xD0\xB9\xFA",
                               "hex:41", "a=b;c", "#"};
  std::mt19937 rng(20261207);
  for (int n = 0; n < 10000; ++n) {
    TAppParams p;
    for (auto& b : p.bytes()) b = std::uint8_t(rng());
    for (const AppFieldInfo& f : kAppFields) {
      if (rng() % 2) continue;
      if (f.encoding == FieldEncoding::Text)
        p.SetText(f.id, texts[rng() % std::size(texts)]);
      else if (f.encoding == FieldEncoding::List || f.encoding == FieldEncoding::Flag)
        p.Set(f.id, rng() % 3);
    }
    const std::string text = WriteProfile(p);
    const ProfileResult back = Apply(TAppParams(), text, ProfileChecks::RecordOnly);
    if (!back.ok()) QFAIL(FormatIssue(back.errors.front()).c_str());
    if (!(back.record == p)) QFAIL(text.c_str());
  }
}

void TestCoreRecord::profileValues_data() {
  QTest::addColumn<QByteArray>("line");
  QTest::addColumn<bool>("forced");
  QTest::addColumn<QByteArray>("stored"); // the field's bytes, hex; empty when refused
  QTest::addColumn<QByteArray>("reason"); // part of the refusal

  QTest::newRow("port") << QByteArray("port1 = 40009") << false << QByteArray("499c")
                        << QByteArray();
  QTest::newRow("list word, any case")
      << QByteArray("connection_type2=UDP") << false << QByteArray("01") << QByteArray();
  QTest::newRow("address") << QByteArray("ip1 = 192.168.1.2") << false << QByteArray("0201a8c0")
                           << QByteArray();
  QTest::newRow("GBK text") << QByteArray("apn = 中国") << false
                            << QByteArray("d6d0b9fa") + QByteArray(120, '0') << QByteArray();
  QTest::newRow("heartbeat hex") << QByteArray("custom_heart_packet = 01 ab FF") << false
                                 << QByteArray("01abff") + QByteArray(42, '0') << QByteArray();
  QTest::newRow("raw text") << QByteArray("pin_code = hex:31 00 33") << false
                            << QByteArray("3100330000") << QByteArray();
  QTest::newRow("port beyond record")
      << QByteArray("port1 = 70000") << true << QByteArray() << QByteArray("65535");
  QTest::newRow("delay breaks rule")
      << QByteArray("delay = 99") << false << QByteArray() << QByteArray("100");
  QTest::newRow("delay forced") << QByteArray("delay = 99") << true << QByteArray("6300")
                                << QByteArray();
  QTest::newRow("list outside") << QByteArray("run_mode = 7") << false << QByteArray()
                                << QByteArray("online");
  QTest::newRow("list outside forced")
      << QByteArray("run_mode = 7") << true << QByteArray("07") << QByteArray();
  QTest::newRow("bad address") << QByteArray("ip1 = 300.1.1.1") << true << QByteArray()
                               << QByteArray("IPv4");
  QTest::newRow("unknown name") << QByteArray("port9 = 1") << true << QByteArray()
                                << QByteArray("unknown name");
  QTest::newRow("chinese too long")
      << QByteArray("dtu_id = 一二三四五六七八九") << true << QByteArray() << QByteArray("18");
  QTest::newRow("packet too long") << QByteArray("custom_heart_packet = ") + QByteArray(25 * 2, 'a')
                                   << true << QByteArray() << QByteArray("24");
  QTest::newRow("switch command short")
      << QByteArray("switch_cmd = #####") << false << QByteArray() << QByteArray("6");
  QTest::newRow("negative port") << QByteArray("port2 = -1") << true << QByteArray()
                                 << QByteArray("0~65535");
  QTest::newRow("ping interval beyond 8 bits")
      << QByteArray("ping_interval = 300") << true << QByteArray() << QByteArray("0~255");
  QTest::newRow("not a number") << QByteArray("delay = 3OO") << true << QByteArray()
                                << QByteArray("not a whole number");
  QTest::newRow("broadcast is itself") << QByteArray("master_ip = 255.255.255.255") << true
                                       << QByteArray("ffffffff") << QByteArray();
  QTest::newRow("identifier of 16 bytes") << QByteArray("dtu_id = 中中中中中中中中") << true
                                          << QByteArray("d6d0").repeated(8) << QByteArray();
  QTest::newRow("text outside GBK")
      << QByteArray("apn = \xF0\x9F\x98\x80") << true << QByteArray() << QByteArray("GBK");
}

void TestCoreRecord::profileValues() {
  QFETCH(QByteArray, line);
  QFETCH(bool, forced);
  QFETCH(QByteArray, stored);
  QFETCH(QByteArray, reason);
  const ProfileResult r = Apply(TAppParams(), "[params]\n" + line.toStdString() + "\n",
                                forced ? ProfileChecks::RecordOnly : ProfileChecks::FieldRules);
  if (stored.isEmpty()) {
    QVERIFY(!r.ok());
    QCOMPARE(r.errors.front().line, 2);
    QVERIFY2(r.errors.front().reason.find(reason.toStdString()) != std::string::npos,
             r.errors.front().reason.c_str());
    return;
  }
  if (!r.ok()) QFAIL(FormatIssue(r.errors.front()).c_str());
  const std::string name = line.left(line.indexOf('=')).trimmed().toStdString();
  const auto field = r.record.FieldBytes(FieldByName(name));
  QCOMPARE(QByteArray(reinterpret_cast<const char*>(field.data()), qsizetype(field.size())).toHex(),
           stored);
}

void TestCoreRecord::profileReportsEveryProblemWithItsLine() {
  TAppParams base;
  base.Set(AppField::port2, 1234);
  base.SetText(AppField::apn, "keep");
  const ProfileResult partial =
      Apply(base, "; one field\n[params]\nport1 = 5\n", ProfileChecks::FieldRules);
  QVERIFY(partial.ok());
  TAppParams expected = base;
  expected.Set(AppField::port1, 5);
  QVERIFY(partial.record == expected);

  const ProfileResult bad = Apply(base,
                                  "port1 = 1\n" // 1: before the section
                                  "[params]\n"
                                  "port1 = 70000\n" // 3
                                  "ip2 = x\n"       // 4
                                  "port2 = 2\n"
                                  "PORT2 = 3\n"      // 6: duplicate
                                  "no equals sign\n" // 7
                                  "[other]\n",       // 8
                                  ProfileChecks::FieldRules);
  std::vector<int> lines;
  for (const ProfileIssue& i : bad.errors) lines.push_back(i.line);
  QCOMPARE(lines, (std::vector<int>{1, 3, 4, 6, 7, 8}));
  QCOMPARE(FormatIssue(bad.errors[1]).substr(0, 23), std::string("p.ini:3: port1: 70000: "));
}

void TestCoreRecord::profileFollowsTheFieldModel_data() {
  QTest::addColumn<QByteArray>("lines");  // after [params], laid over the factory set
  QTest::addColumn<QByteArray>("reason"); // part of the first refusal; empty: accepted
  QTest::addColumn<QByteArray>("field");  // accepted: a field and what it stores
  QTest::addColumn<uint>("stored");
  // A field its selector hides or disables is held to the record only.
  QTest::newRow("idle interval, online") << QByteArray("run_mode = online\nidle_interval = 4")
                                         << QByteArray() << QByteArray("idle_interval") << 4u;
  QTest::newRow("idle interval, wake-up") << QByteArray("run_mode = wakeup\nidle_interval = 4")
                                          << QByteArray("5~65535") << QByteArray() << 0u;
  QTest::newRow("insert position, not inserted")
      << QByteArray("dtuinsertid = off\ndtuinsertid_pos = 25") << QByteArray()
      << QByteArray("dtuinsertid_pos") << 25u;
  // What the window stores from a selector the profile names.
  QTest::newRow("KTSP makes the transports UDP")
      << QByteArray("select_ptcl = ktsp") << QByteArray() << QByteArray("connection_type3") << 1u;
  QTest::newRow("KTSP caps the packet")
      << QByteArray("select_ptcl = ktsp") << QByteArray() << QByteArray("packet_len") << 992u;
  // Named with KTSP, a TCP transport is no refusal: a write stores it as UDP.
  QTest::newRow("KTSP with TCP named") << QByteArray("select_ptcl = ktsp\nconnection_type2 = tcp")
                                       << QByteArray() << QByteArray("select_ptcl") << 1u;
  // A file's text may fill its field; numbers beyond 32 bits.
  QTest::newRow("8 Chinese characters fill the identifier")
      << QByteArray("dtu_id = 中中中中中中中中") << QByteArray() << QByteArray("dtu_id") << 0u;
  QTest::newRow("9 Chinese characters as the identifier")
      << QByteArray("dtu_id = 中中中中中中中中中") << QByteArray("18 GBK bytes, allowed 0~16 bytes")
      << QByteArray() << 0u;
  QTest::newRow("port beyond 32 bits")
      << QByteArray("port1 = 99999999999") << QByteArray("too large") << QByteArray() << 0u;
  QTest::newRow("list value beyond 32 bits")
      << QByteArray("run_mode = 99999999999") << QByteArray("too large") << QByteArray() << 0u;
  QTest::newRow("zero-padded address")
      << QByteArray("ip1 = 192.168.001.010") << QByteArray("192.168.1.10, four numbers 0–255")
      << QByteArray() << 0u;
  // The refusal says what it refuses, not "four numbers 0–255" alone.
  QTest::newRow("the address the rule refuses")
      << QByteArray("ip1 = 255.255.255.255") << QByteArray("0–255, not 255.255.255.255")
      << QByteArray() << 0u;
}

void TestCoreRecord::profileFollowsTheFieldModel() {
  QFETCH(QByteArray, lines);
  QFETCH(QByteArray, reason);
  QFETCH(QByteArray, field);
  QFETCH(uint, stored);
  const ProfileResult r =
      Apply(FactoryParams(), "[params]\n" + lines.toStdString() + "\n", ProfileChecks::FieldRules);
  if (!reason.isEmpty()) {
    QVERIFY(!r.ok());
    QVERIFY2(r.errors.front().reason.find(reason.toStdString()) != std::string::npos,
             FormatIssue(r.errors.front()).c_str());
    return;
  }
  if (!r.ok()) QFAIL(FormatIssue(r.errors.front()).c_str());
  QCOMPARE(r.record.Get(FieldByName(field.toStdString())), stored);
}

void TestCoreRecord::profileIssuesNameWhatTheTechnicianGave() {
  // A raw record's lines were never seen: its issues name the field alone.
  TAppParams unit = FactoryParams();
  unit.Set(AppField::delay, 50);
  const std::string written = WriteProfile(unit);
  const ProfileSource raw{"unit.bin", written, false, true};
  const ProfileResult fromRecord =
      ApplyProfiles(TAppParams(), std::span(&raw, 1), ProfileChecks::FieldRules);
  QCOMPARE(fromRecord.errors.size(), std::size_t(1));
  QCOMPARE(FormatIssue(fromRecord.errors[0]), std::string("unit.bin: delay: 50: allowed 100~1000"));
  // Written back to that unit it is the unit's own value, which the window
  // sends as it came: the profile warns of no refusal.
  QCOMPARE(QByteArray::fromStdString(written).count("refuse"), 0);

  // A --set is named as such, never as line 0.
  const ProfileSource sources[] = {{"p.ini", "[params]\ncustom_heart_packet = 01 02\n", false},
                                   {"--set", "custom_heart_packet_len=3", true}};
  const ProfileResult set = ApplyProfiles(TAppParams(), sources, ProfileChecks::FieldRules);
  QCOMPARE(set.errors.size(), std::size_t(1));
  QCOMPARE(
      FormatIssue(set.errors[0]),
      std::string("--set: custom_heart_packet_len: 3: the packet given on line 2 has 2 bytes"));

  // Nonsense gives a few bounded, escaped lines: a megabyte of zero bytes,
  // then a hundred wrong lines, of which 50 are told.
  const ProfileResult zeros =
      Apply(TAppParams(), std::string(1 << 20, '\0'), ProfileChecks::RecordOnly);
  QCOMPARE(zeros.errors.size(), std::size_t(1));
  QVERIFY(FormatIssue(zeros.errors[0]).size() < 1000);
  QVERIFY(zeros.errors[0].value.starts_with("\\x00\\x00"));
  std::string wrong = "[params]\n";
  for (int i = 0; i < 100; ++i) wrong += "no equals sign\n";
  const ProfileResult many = Apply(TAppParams(), wrong, ProfileChecks::RecordOnly);
  QCOMPARE(many.errors.size(), std::size_t(51));
  QCOMPARE(FormatIssue(many.errors.back()), std::string("… and 50 more"));
}

void TestCoreRecord::profileFilesInWindowsEncodings_data() {
  QTest::addColumn<QByteArray>("file");
  const QString text = QStringLiteral("[params]\r\napn = 中国移动\r\n");
  QStringEncoder le(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
  QStringEncoder be(QStringConverter::Utf16BE, QStringConverter::Flag::WriteBom);
  QStringEncoder gbk("GBK");
  QTest::newRow("UTF-16 little endian, as Notepad saves it") << QByteArray(le.encode(text));
  QTest::newRow("UTF-16 big endian") << QByteArray(be.encode(text));
  QTest::newRow("GBK, Chinese Windows ANSI") << QByteArray(gbk.encode(text));
  QTest::newRow("UTF-8 with a mark") << QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

void TestCoreRecord::profileFilesInWindowsEncodings() {
  QFETCH(QByteArray, file);
  const ProfileResult r =
      Apply(TAppParams(), ProfileTextFromFileBytes(file.toStdString()), ProfileChecks::FieldRules);
  if (!r.ok()) QFAIL(FormatIssue(r.errors.front()).c_str());
  QCOMPARE(r.record.GetText(AppField::apn), std::string("\xD6\xD0\xB9\xFA\xD2\xC6\xB6\xAF"));
  // A file neither is not guessed at line by line: its odd line is told, escaped.
  const ProfileResult mixed =
      Apply(TAppParams(),
            ProfileTextFromFileBytes("[params]\napn = \xE4\xB8\xAD\nppp_pw = \xFF\xFE\x81\n"),
            ProfileChecks::FieldRules);
  QCOMPARE(mixed.errors.size(), std::size_t(1));
  QCOMPARE(mixed.errors[0].line, 3);
  QCOMPARE(mixed.errors[0].value, std::string("ppp_pw = \\xFF\\xFE\\x81"));
}

void TestCoreRecord::codePageAgreesWithWindowCodec_data() {
  QTest::addColumn<QByteArray>("device");
  QTest::newRow("ascii") << QByteArray("cmnet.apn-01");
  QTest::newRow("chinese") << QByteArray("\xD6\xD0\xB9\xFA\xD2\xC6\xB6\xAF"); // 中国移动
  QTest::newRow("mixed") << QByteArray("dtu-\xB1\xB1\xBE\xA9-7");
  QTest::newRow("euro single byte") << QByteArray("\x80"
                                                  "5");
  QTest::newRow("latin-1 e acute") << QByteArray("caf\xE9");
  QTest::newRow("lone lead byte at the end") << QByteArray("ab\xB1");
  QTest::newRow("lead byte with ascii second") << QByteArray("\x81\x30x");
  QTest::newRow("never a character") << QByteArray("\xFFok");
}

void TestCoreRecord::codePageAgreesWithWindowCodec() {
  QFETCH(QByteArray, device);
  QStringDecoder qt("GBK", QStringConverter::Flag::Stateless);
  QVERIFY(qt.isValid());
  const QString expected = qt.decode(device);
  const cp936::Decoded got =
      cp936::ToUtf8(std::string_view(device.constData(), std::size_t(device.size())));
  QCOMPARE(QString::fromStdString(got.utf8), expected);
  QCOMPARE(got.clean, !qt.hasError());
  // A clean text encodes back to the very bytes, as the window's encoder does.
  if (got.clean) {
    QCOMPARE(QByteArray::fromStdString(cp936::FromUtf8(got.utf8).bytes), device);
    QStringEncoder qtBack("GBK", QStringConverter::Flag::Stateless);
    QCOMPARE(QByteArray(qtBack.encode(expected)), device);
  }
}

QTEST_GUILESS_MAIN(TestCoreRecord)
#include "test_core_record.moc"
