// The configuration being edited, as every front end drives it: a unit's
// record written back, profiles laid over it, a technician's edits, files
// taken by their content, and the record a unit then stores.
//
// Records are described as profile lines laid over the factory set (hex:
// and numbers outside the lists give any byte), so each row reads as what a
// technician would see in a profile.

#include <QTest>

#include "params/edited_config.h"
#include "params/factory_set.h"

namespace {

using F = AppField;

// The factory set with the lines laid over it, as the record can hold them.
TAppParams RecordWith(const QByteArray& lines, const TAppParams& base = FactoryParams()) {
  const ProfileSource src{"setup", "[params]\n" + lines.toStdString(), false};
  const ProfileResult r = ApplyProfiles(base, std::span(&src, 1), ProfileChecks::RecordOnly);
  if (!r.ok()) qFatal("setup line refused: %s", FormatIssue(r.errors.front()).c_str());
  return r.record;
}

ProfileSource Profile(const QByteArray& text, const char* name = "p.ini") {
  return {name, text.toStdString(), false};
}

QByteArray Differences(const TAppParams& got, const TAppParams& want) {
  QByteArray out;
  for (const FieldDifference& d : CompareRecords(want, got))
    out += QByteArray(FieldInfo(d.field).name) + ": want " + d.a.c_str() + ", got " + d.b.c_str() +
           "\n";
  return out;
}

} // namespace

class TestCoreEditedConfig : public QObject {
  Q_OBJECT

private slots:
  void unitsOwnRecordGoesBack_data();
  void unitsOwnRecordGoesBack();
  void profileOverAUnit_data();
  void profileOverAUnit();
  void editsWhenLeftAndBeforeAWrite_data();
  void editsWhenLeftAndBeforeAWrite();
  void filesByTheirContent_data();
  void filesByTheirContent();
  void valuesThePagesShow();
};

// read -o r.ini, then write r.ini: never refused, stored as the pages store
// it, with a note for each value that changes on the way.
void TestCoreEditedConfig::unitsOwnRecordGoesBack_data() {
  QTest::addColumn<QByteArray>("unit");
  QTest::addColumn<QByteArray>("stored"); // lines that differ from the unit's record
  QTest::addColumn<int>("notes");
  QTest::newRow("factory set") << QByteArray() << QByteArray() << 0;
  QTest::newRow("box read as ticked at 2")
      << QByteArray("recv_sms_en = 2\n") << QByteArray("recv_sms_en = on\n") << 1;
  QTest::newRow("box off at 2") << QByteArray("custom_heart_packet_en = on\ndtuinsertid = 2\n")
                                << QByteArray("dtuinsertid = off\n") << 1;
  QTest::newRow("list outside its words")
      << QByteArray("debug = 9\n") << QByteArray("debug = 255\n") << 1;
  QTest::newRow("KTSP with TCP and long packets")
      << QByteArray("select_ptcl = ktsp\nconnection_type1 = tcp\nconnection_type3 = tcp\n"
                    "packet_len = 1024\n")
      << QByteArray("connection_type1 = udp\nconnection_type2 = udp\nconnection_type3 = udp\n"
                    "packet_len = 992\n")
      << 4;
  QTest::newRow("heartbeat off keeps bytes")
      << QByteArray("custom_heart_packet_en = off\ncustom_heart_packet = 01 02\n"
                    "custom_heart_packet_len = 3\n")
      << QByteArray("custom_heart_packet = \ncustom_heart_packet_len = 0\n") << 2;
  QTest::newRow("texts fill their fields")
      << QByteArray("apn = " + QByteArray(64, 'a') + "\ndtu_id = " + QByteArray(16, 'D') + "\n")
      << QByteArray() << 2;
  QTest::newRow("text not clean GBK")
      << QByteArray("ping_host = hex:FF FF 41\n") << QByteArray() << 0;
}

void TestCoreEditedConfig::unitsOwnRecordGoesBack() {
  QFETCH(QByteArray, unit);
  QFETCH(QByteArray, stored);
  QFETCH(int, notes);
  const TAppParams record = RecordWith(unit);
  const TAppParams want = RecordWith(stored, record);
  // As the command line writes it back: the profile read from the unit.
  const ProfileSource readBack{"r.ini", WriteProfile(record), false};
  for (ProfileChecks checks : {ProfileChecks::FieldRules, ProfileChecks::RecordOnly}) {
    const UnitWrite w = PrepareUnitWrite(record, std::span(&readBack, 1), checks);
    QVERIFY2(w.record, w.refusal.c_str());
    QVERIFY2(*w.record == want, Differences(*w.record, want).constData());
    QCOMPARE(int(w.notes.size()), notes);
    QCOMPARE(w.changed, int(stored.count('\n')));
  }
  // As the window and the page write it: read, then 设置 untouched.
  EditedConfig config;
  config.Load(record, LoadedFrom::Unit);
  QVERIFY(config.Check().empty());
  const auto encoded = config.Encode();
  QVERIFY(encoded.record);
  QVERIFY2(*encoded.record == want, Differences(*encoded.record, want).constData());
  // And the profile says what the window stores instead.
  QCOMPARE(QByteArray::fromStdString(WriteProfile(record)).count("; the window stores "),
           qsizetype(notes - (unit.contains("apn") ? 2 : 0)));
}

void TestCoreEditedConfig::profileOverAUnit_data() {
  QTest::addColumn<QByteArray>("unit");
  QTest::addColumn<QByteArray>("profile");
  QTest::addColumn<bool>("force");
  QTest::addColumn<QByteArray>("stored");  // lines that differ from the unit's record
  QTest::addColumn<QByteArray>("refusal"); // part of the refusal; empty when written
  QTest::addColumn<int>("changed");
  const QByteArray unit = "baudrate = 38400\napn = site.apn\nmain_dns = 8.8.8.8\n";
  QTest::newRow("two lines change two fields")
      << unit << QByteArray("[params]\ndtu_id = A1\nport1 = 1234\n") << false
      << QByteArray("dtu_id = A1\nport1 = 1234\n") << QByteArray() << 2;
  QTest::newRow("a value the unit holds already")
      << unit << QByteArray("baudrate = 38400\n") << false << QByteArray() << QByteArray() << 0;
  QTest::newRow("KTSP named: transports follow")
      << unit << QByteArray("select_ptcl = ktsp\nconnection_type2 = tcp\n") << false
      << QByteArray("select_ptcl = ktsp\nconnection_type1 = udp\nconnection_type2 = udp\n"
                    "connection_type3 = udp\npacket_len = 992\n")
      << QByteArray() << 4;
  QTest::newRow("forced KTSP with TCP and 1024 is stored as KTSP stores it")
      << unit << QByteArray("select_ptcl = ktsp\nconnection_type1 = tcp\npacket_len = 1024\n")
      << true
      << QByteArray("select_ptcl = ktsp\nconnection_type1 = udp\nconnection_type2 = udp\n"
                    "connection_type3 = udp\npacket_len = 992\n")
      << QByteArray() << 4;
  QTest::newRow("forced heartbeat off keeps no bytes")
      << unit
      << QByteArray("custom_heart_packet_en = off\ncustom_heart_packet = 01 02\n"
                    "custom_heart_packet_len = 3\n")
      << true << QByteArray() << QByteArray() << 0;
  QTest::newRow("a delay the rules refuse")
      << unit << QByteArray("delay = 99\n") << false << QByteArray()
      << QByteArray("delay: 99: allowed") << 0;
  QTest::newRow("forced delay") << unit << QByteArray("delay = 99\n") << true
                                << QByteArray("delay = 99\n") << QByteArray() << 1;
  QTest::newRow("a file's text may fill its field")
      << unit << QByteArray("apn = " + QByteArray(64, 'b') + "\n") << false
      << QByteArray("apn = " + QByteArray(64, 'b') + "\n") << QByteArray() << 1;
  QTest::newRow("a second DNS without a first")
      << unit << QByteArray("main_dns = 0.0.0.0\nsecond_dns = 10.0.0.2\n") << false << QByteArray()
      << QByteArray("allowed 0.0.0.0 while main_dns is 0.0.0.0") << 0;
}

void TestCoreEditedConfig::profileOverAUnit() {
  QFETCH(QByteArray, unit);
  QFETCH(QByteArray, profile);
  QFETCH(bool, force);
  QFETCH(QByteArray, stored);
  QFETCH(QByteArray, refusal);
  QFETCH(int, changed);
  const TAppParams record = RecordWith(unit);
  const ProfileSource src = Profile(profile.startsWith('[') ? profile : "[params]\n" + profile);
  const UnitWrite w = PrepareUnitWrite(
      record, std::span(&src, 1), force ? ProfileChecks::RecordOnly : ProfileChecks::FieldRules);
  if (!refusal.isEmpty()) {
    QVERIFY(!w.record);
    QVERIFY2(QByteArray::fromStdString(w.refusal).contains(refusal), w.refusal.c_str());
    return;
  }
  QVERIFY2(w.record, w.refusal.c_str());
  const TAppParams want = RecordWith(stored, record);
  QVERIFY2(*w.record == want, Differences(*w.record, want).constData());
  QCOMPARE(w.changed, changed);
}

// What a technician types, as the field is left and as 设置 or 导出 checks it.
void TestCoreEditedConfig::editsWhenLeftAndBeforeAWrite_data() {
  QTest::addColumn<QByteArray>("edits"); // name = value lines, the last one left
  QTest::addColumn<QByteArray>("left");  // the leave verdict's detail; empty: passes
  QTest::addColumn<QByteArray>("write"); // the first refusal's field and detail
  QTest::newRow("port beyond its range")
      << QByteArray("port1=65536") << QByteArray("0~65535") << QByteArray("port1 0~65535");
  QTest::newRow("emoji in the APN")
      << QByteArray("apn=x\xF0\x9F\x98\x80") << QByteArray("not in code page 936: 0~63 bytes (GBK)")
      << QByteArray("apn not in code page 936: 0~63 bytes (GBK)");
  QTest::newRow("Hangul in the identifier")
      << QByteArray("dtu_id=\xED\x95\x9C\xEA\xB5\xAD")
      << QByteArray("not in code page 936: 0~15 bytes (GBK)")
      << QByteArray("dtu_id not in code page 936: 0~15 bytes (GBK)");
  QTest::newRow("pasted identifier of 16 bytes")
      << QByteArray("dtu_id=" + QByteArray(16, 'x')) << QByteArray()
      << QByteArray("dtu_id 0~15 bytes (GBK)");
  QTest::newRow("second DNS while the first is none")
      << QByteArray("main_dns=0.0.0.0\nsecond_dns=10.0.0.2")
      << QByteArray("0.0.0.0 while main_dns is 0.0.0.0")
      << QByteArray("second_dns 0.0.0.0 while main_dns is 0.0.0.0");
  QTest::newRow("Chinese in the APN") << QByteArray("apn=中国移动") << QByteArray() << QByteArray();
  QTest::newRow("hidden idle interval is not held to its rule")
      << QByteArray("run_mode=0\nidle_interval=3") << QByteArray("5~65535") << QByteArray();
}

void TestCoreEditedConfig::editsWhenLeftAndBeforeAWrite() {
  QFETCH(QByteArray, edits);
  QFETCH(QByteArray, left);
  QFETCH(QByteArray, write);
  EditedConfig config;
  config.Load(FactoryParams(), LoadedFrom::Unit);
  AppField last = F::Count;
  for (const QByteArray& line : edits.split('\n')) {
    const qsizetype eq = line.indexOf('=');
    last = FieldByName(line.left(eq).toStdString());
    config.SetValue(last, line.mid(eq + 1).toStdString());
  }
  const auto verdict = config.Leave(last);
  QCOMPARE(verdict ? QByteArray::fromStdString(verdict->refusal.Detail()) : QByteArray(), left);
  const auto refusals = config.Check();
  const QByteArray first = refusals.empty()
                               ? QByteArray()
                               : QByteArray(FieldInfo(refusals.front().field).name) + ' ' +
                                     QByteArray::fromStdString(refusals.front().Detail());
  QCOMPARE(first, write);
  // Whatever was refused, nothing refused reaches the record.
  if (refusals.empty()) QVERIFY(config.Encode().record);
}

void TestCoreEditedConfig::filesByTheirContent_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<QByteArray>(
      "outcome"); // profile N (fields changed), record, or the refusal's key
  const TAppParams record = RecordWith("port1 = 4321\n");
  const QByteArray raw(reinterpret_cast<const char*>(record.bytes().data()), 693);
  QTest::newRow("profile named .cfg")
      << "site.cfg" << QByteArray("[params]\nport1 = 1234\n") << QByteArray("profile 1");
  const QString notepad = QStringLiteral("[params]\r\nport1 = 9\r\n");
  QTest::newRow("UTF-16 profile, Notepad's Unicode")
      << "u.cfg"
      << QByteArray("\xFF\xFE") +
             QByteArray(reinterpret_cast<const char*>(notepad.utf16()), notepad.size() * 2)
      << QByteArray("profile 1");
  QTest::newRow("raw record named .ini") << "unit.ini" << raw << QByteArray("record");
  QTest::newRow("raw record with a line end") << "unit.bin" << raw + "\n" << QByteArray("record");
  QTest::newRow("README") << "README.md" << QByteArray("# Notes\n\n" + QByteArray(700, '-'))
                          << QByteArray("file_not_params");
  QTest::newRow("short binary") << "a.bin" << QByteArray("\0\1\2", 3)
                                << QByteArray("param_file_short");
}

void TestCoreEditedConfig::filesByTheirContent() {
  QFETCH(QString, name);
  QFETCH(QByteArray, bytes);
  QFETCH(QByteArray, outcome);
  EditedConfig config;
  config.Load(RecordWith("apn = edited.apn\n"), LoadedFrom::Unit);
  config.SetValue(F::ping_host, "typed.example"); // an unsaved edit
  const auto taken = config.TakeFile(std::string_view(bytes.constData(), std::size_t(bytes.size())),
                                     name.toStdString());
  using Kind = EditedConfig::Taken::Kind;
  const QByteArray got = taken.kind == Kind::Profile
                             ? "profile " + QByteArray::number(taken.changed)
                         : taken.kind == Kind::Record ? QByteArray("record")
                                                      : QByteArray::fromStdString(taken.refusalKey);
  QCOMPARE(got, outcome);
  QVERIFY(taken.errors.empty());
  // A profile keeps the unsaved edit and every field it does not name.
  if (taken.kind == Kind::Profile) {
    QCOMPARE(config.value(F::ping_host), std::string("typed.example"));
    QCOMPARE(config.value(F::apn), std::string("edited.apn"));
  }
  if (taken.kind == Kind::Record) QCOMPARE(config.value(F::port1), std::string("4321"));
}

void TestCoreEditedConfig::valuesThePagesShow() {
  EditedConfig config;
  // A box that shows a value as ticked is no value the pages cannot show.
  auto loaded = config.Load(RecordWith("recv_sms_en = 2\ndebug = 9\n"), LoadedFrom::Unit);
  QCOMPARE(loaded.notShown, std::vector<AppField>{F::debug});
  QCOMPARE(config.value(F::recv_sms_en), std::string("1"));
  // A file's text that fills its field is said; a unit's is not.
  const TAppParams full = RecordWith("apn = " + QByteArray(64, 'f') + "\n");
  QVERIFY(config.Load(full, LoadedFrom::Unit).fullTexts.empty());
  QCOMPARE(config.Load(full, LoadedFrom::File).fullTexts, std::vector<AppField>{F::apn});
  // The factory set leaves the identifier as it stands, untouched or typed.
  config.SetValue(F::dtu_id, "KEEP-1");
  config.Load(FactoryParams(), LoadedFrom::Factory);
  QCOMPARE(config.value(F::dtu_id), std::string("KEEP-1"));
  QVERIFY(!config.Untouched(F::dtu_id));
  QVERIFY(!config.Shown(F::idle_interval));
  config.SetValue(F::run_mode, "1");
  QVERIFY(config.Shown(F::idle_interval));
  // Choosing SMS only ticks forwarding; switching the heartbeat off takes its
  // answer with it, and the answer's packet can no longer be reached.
  QCOMPARE(config.Choose(F::run_mode, "2"), (std::vector<AppField>{F::run_mode, F::recv_sms_en}));
  QCOMPARE(config.value(F::recv_sms_en), std::string("1"));
  config.Choose(F::custom_heart_packet_en, "1");
  config.Choose(F::custom_heart_packet_ack_en, "1");
  QVERIFY(config.Enabled(F::custom_heart_packet_ack));
  config.Choose(F::custom_heart_packet_en, "0");
  QCOMPARE(config.value(F::custom_heart_packet_ack_en), std::string("0"));
  QVERIFY(!config.Enabled(F::custom_heart_packet_ack));
}

QTEST_GUILESS_MAIN(TestCoreEditedConfig)
#include "test_core_edited_config.moc"
