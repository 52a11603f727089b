// Profile INI files read and written with the rules of the Windows
// profile-string functions, and the IPv4 text conversion beside them.

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <climits>
#include <optional>
#include <string>

#include "platform/ipv4.h"
#include "platform/profile_ini.h"
#include "support/bytes.h"

Q_DECLARE_METATYPE(std::optional<std::string>)
Q_DECLARE_METATYPE(std::string)

namespace {

using OptText = std::optional<std::string>;

std::string Utf8(const QString& s) { return s.toStdString(); }

} // namespace

class TestCoreIni : public QObject {
  Q_OBJECT

private slots:
  void find_data();
  void find();
  void getInt_data();
  void getInt();
  void findInt_data();
  void findInt();
  void setString_data();
  void setString();
  void setTextKeepsOtherLines_data();
  void setTextKeepsOtherLines();
  void setStringRefusesWhatOneLineCannotHold_data();
  void setStringRefusesWhatOneLineCannotHold();
  void fileWriteLeavesOtherBytes();
  void fileWriteCreatesMissingFile();
  void fileWriteFailures();
  void readMissingFileGivesDefault();
  void judgeEncoding_data();
  void judgeEncoding();
  void utf16BigEndianFileStaysSo();
  void ipv4_data();
  void ipv4();
};

void TestCoreIni::find_data() {
  QTest::addColumn<std::string>("content");
  QTest::addColumn<std::string>("section");
  QTest::addColumn<std::string>("key");
  QTest::addColumn<OptText>("expected");
  struct Row {
    const char* name;
    const char* content;
    const char* section;
    const char* key;
    OptText expected;
  };
  const char* basic = "[serial]\r\ncom=COM3\r\nbaudrate=4\r\n";
  const Row rows[] = {
      {"plain", basic, "serial", "com", "COM3"},
      {"section case", basic, "SERIAL", "com", "COM3"},
      {"key case", basic, "serial", "BaudRate", "4"},
      {"missing key", basic, "serial", "conf", {}},
      {"missing section", basic, "lang", "com", {}},
      {"empty file", "", "serial", "com", {}},
      {"blanks around names and value", "  [ serial ]  \n \t com \t=  COM 4 \t\n", "serial", "com",
       "COM 4"},
      {"blanks in the asked names", basic, " serial ", " com ", "COM3"},
      {"double quotes", "[s]\nk=\"a b\"\n", "s", "k", "a b"},
      {"single quotes", "[s]\nk='a b'\n", "s", "k", "a b"},
      {"blanks inside quotes stay", "[s]\nk= \" a \" \n", "s", "k", " a "},
      {"only one pair of quotes", "[s]\nk='\"x\"'\n", "s", "k", "\"x\""},
      {"empty quotes", "[s]\nk=\"\"\n", "s", "k", ""},
      {"unbalanced opening quote", "[s]\nk=\"abc\n", "s", "k", "\"abc"},
      {"unbalanced closing quote", "[s]\nk=abc'\n", "s", "k", "abc'"},
      {"mixed quote kinds", "[s]\nk=\"abc'\n", "s", "k", "\"abc'"},
      {"lone quote", "[s]\nk=\"\n", "s", "k", "\""},
      {"empty value is not missing", "[s]\nk=\nj=   \n", "s", "k", ""},
      {"blank value is empty", "[s]\nk=\nj=   \n", "s", "j", ""},
      {"first key wins", "[s]\nk=1\nK=2\n", "s", "k", "1"},
      {"first section wins", "[s]\nk=1\n[S]\nk=2\n", "s", "k", "1"},
      {"repeated section is not searched", "[s]\na=1\n[t]\n[s]\nk=2\n", "s", "k", {}},
      {"key of the next section", "[s]\na=1\n[t]\nk=2\n", "s", "k", {}},
      {"key before any section", "k=0\n[s]\na=1\n", "s", "k", {}},
      {"semicolon line is a key", "[s]\n;k=1\n", "s", ";k", "1"},
      {"commented key is not the key", "[s]\n;k=1\n", "s", "k", {}},
      {"no inline comment", "[s]\nk=1 ; note\n", "s", "k", "1 ; note"},
      {"no escapes", "[s]\nk=a\\tb\\\n", "s", "k", "a\\tb\\"},
      {"value holds =", "[s]\nk=a=b\n", "s", "k", "a=b"},
      {"line without = is no key", "[s]\nk\nk=2\n", "s", "k", "2"},
      {"[ without ] opens no section", "[t]\n[s\nk=1\n", "s", "k", {}},
      {"[ without ] leaves the section open", "[t]\n[s\nk=1\n", "t", "k", "1"},
      {"text after ]", "[s] x\nk=1\n", "s", "k", "1"},
      {"byte order mark", "\xEF\xBB\xBF[s]\nk=1\n", "s", "k", "1"},
      {"CR line ends", "[s]\rk=1\rj=2\r", "s", "j", "2"},
      {"no final line end", "[s]\r\nk=1", "s", "k", "1"},
      {"GBK bytes pass through", "[s]\nk=\xCE\xDE\n", "s", "k", "\xCE\xDE"},
  };
  for (const Row& r : rows)
    QTest::newRow(r.name) << std::string(r.content) << std::string(r.section) << std::string(r.key)
                          << r.expected;
}

void TestCoreIni::find() {
  QFETCH(std::string, content);
  QFETCH(std::string, section);
  QFETCH(std::string, key);
  QFETCH(OptText, expected);
  const ProfileIni ini(content);
  QCOMPARE(ini.Find(section, key), expected);
  QCOMPARE(ini.GetString(section, key, "dflt"), expected.value_or("dflt"));
}

void TestCoreIni::getInt_data() {
  QTest::addColumn<std::string>("value"); // empty: key missing
  QTest::addColumn<int>("expected");
  QTest::newRow("missing") << std::string() << -5;
  QTest::newRow("digits") << std::string("k=12") << 12;
  QTest::newRow("negative") << std::string("k=-7") << -7;
  QTest::newRow("plus") << std::string("k=+5") << 5;
  QTest::newRow("leading digits only") << std::string("k=12abc") << 12;
  QTest::newRow("no digits") << std::string("k=abc") << -5;
  QTest::newRow("sign only") << std::string("k=-") << -5;
  QTest::newRow("empty") << std::string("k=") << -5;
  QTest::newRow("blanks") << std::string("k=  42  ") << 42;
  QTest::newRow("quoted") << std::string("k=\"9\"") << 9;
  QTest::newRow("too large saturates") << std::string("k=99999999999999999999") << INT_MAX;
  QTest::newRow("too small saturates") << std::string("k=-99999999999999999999") << INT_MIN;
}

void TestCoreIni::getInt() {
  QFETCH(std::string, value);
  QFETCH(int, expected);
  const ProfileIni ini("[s]\n" + value + "\n");
  QCOMPARE(ini.GetInt("S", "K", -5), expected);
}

void TestCoreIni::findInt_data() {
  QTest::addColumn<std::string>("value");
  QTest::addColumn<std::optional<int>>("expected");
  QTest::newRow("missing") << std::string() << std::optional<int>();
  QTest::newRow("digits") << std::string("k=4") << std::optional<int>(4);
  QTest::newRow("blanks and quotes dropped") << std::string("k= '10' ") << std::optional<int>(10);
  QTest::newRow("negative") << std::string("k=-1") << std::optional<int>(-1);
  QTest::newRow("plus") << std::string("k=+3") << std::optional<int>(3);
  QTest::newRow("text") << std::string("k=abc") << std::optional<int>();
  QTest::newRow("digits then text") << std::string("k=2x") << std::optional<int>();
  QTest::newRow("inner blank") << std::string("k=1 2") << std::optional<int>();
  QTest::newRow("hex") << std::string("k=0x10") << std::optional<int>();
  QTest::newRow("empty") << std::string("k=") << std::optional<int>();
  QTest::newRow("sign only") << std::string("k=-") << std::optional<int>();
  QTest::newRow("int max") << std::string("k=2147483647") << std::optional<int>(INT_MAX);
  QTest::newRow("int min") << std::string("k=-2147483648") << std::optional<int>(INT_MIN);
  QTest::newRow("above int") << std::string("k=2147483648") << std::optional<int>();
  QTest::newRow("long digit run") << std::string("k=000000000000000000007")
                                  << std::optional<int>(7);
}

void TestCoreIni::findInt() {
  QFETCH(std::string, value);
  QFETCH(std::optional<int>, expected);
  const ProfileIni ini("[s]\n" + value + "\n");
  QCOMPARE(ini.FindInt("s", "k"), expected);
}

void TestCoreIni::setString_data() {
  QTest::addColumn<std::string>("before");
  QTest::addColumn<std::string>("section");
  QTest::addColumn<std::string>("key");
  QTest::addColumn<std::string>("after");
  // Every row writes the value "v".
  const char* rows[][5] = {
      {"replace, other section untouched", "[a]\r\nk=1\r\n[b]\r\nk=2\r\n", "a", "k",
       "[a]\r\nk=v\r\n[b]\r\nk=2\r\n"},
      {"replace keeps indentation and spelling", "[A]\n  Key = old  \nz=1\n", "a", "KEY",
       "[A]\n  Key=v\nz=1\n"},
      {"replace first of duplicates", "[a]\nk=1\nk=2\n", "a", "k", "[a]\nk=v\nk=2\n"},
      {"replace in first of repeated sections", "[a]\nk=1\n[a]\nk=2\n", "a", "k",
       "[a]\nk=v\n[a]\nk=2\n"},
      {"replace quoted value", "[a]\nk=\"x y\"\n", "a", "k", "[a]\nk=v\n"},
      {"comments and odd lines untouched", "; note\n[a]\n#x\nk=1 ; c\n\t\n", "a", "k",
       "; note\n[a]\n#x\nk=v\n\t\n"},
      {"insert after the last filled line", "[a]\nx=1\n\n[b]\ny=2\n", "a", "k",
       "[a]\nx=1\nk=v\n\n[b]\ny=2\n"},
      {"insert into a bare header", "[a]\n[b]\n", "a", "k", "[a]\nk=v\n[b]\n"},
      {"insert after an unterminated last line", "[a]\nx=1", "a", "k", "[a]\nx=1\nk=v"},
      {"insert into first of repeated sections", "[a]\nx=1\n[a]\nk=2\n", "a", "k",
       "[a]\nx=1\nk=v\n[a]\nk=2\n"},
      {"new section, LF file", "[a]\nx=1\n", "b", "k", "[a]\nx=1\n\n[b]\nk=v\n"},
      {"new section, CRLF file without final line end", "[a]\r\nx=1", "b", "k",
       "[a]\r\nx=1\r\n\r\n[b]\r\nk=v\r\n"},
      {"new section after a blank line", "[a]\nx=1\n\n", "b", "k", "[a]\nx=1\n\n[b]\nk=v\n"},
      {"new section, CR file", "[a]\rx=1\r", "b", "k", "[a]\rx=1\r\r[b]\rk=v\r"},
      {"empty content", "", "b", "k", "[b]\r\nk=v\r\n"},
      {"byte order mark kept", "\xEF\xBB\xBF[a]\nk=1\n", "a", "k", "\xEF\xBB\xBF[a]\nk=v\n"},
      {"mixed line ends kept", "[a]\r\nx=1\nk=1\r\n", "a", "k", "[a]\r\nx=1\nk=v\r\n"},
      {"names trimmed", "[a]\nk=1\n", " a ", " k ", "[a]\nk=v\n"},
  };
  for (const auto& r : rows)
    QTest::newRow(r[0]) << std::string(r[1]) << std::string(r[2]) << std::string(r[3])
                        << std::string(r[4]);
}

void TestCoreIni::setString() {
  QFETCH(std::string, before);
  QFETCH(std::string, section);
  QFETCH(std::string, key);
  QFETCH(std::string, after);
  ProfileIni ini(before);
  QVERIFY(ini.SetString(section, key, "v"));
  QCOMPARE(ini.content(), after);
  QCOMPARE(ini.Find(section, key), OptText("v"));
}

void TestCoreIni::setTextKeepsOtherLines_data() {
  // A key written as text, as parcfg.ini is at program end: bytes after, and
  // every other key must read the same text when the file is read again.
  QTest::addColumn<std::string>("before");
  QTest::addColumn<std::string>("key");
  QTest::addColumn<std::string>("value");
  QTest::addColumn<std::string>("after");
  const std::string gbkPort = "\xB4\xAE\xBF\xDA"; // 串口 in GBK
  const std::string gbk = "[s]\r\ncom=" + gbkPort + "\r\nconf=##\x81\r\n";
  const std::string badByte = "[s]\r\nconf=#\x81#\r\n";
  const std::string quoted = "[S]\r\n Conf = \"##\" \r\n";
  const struct {
    const char* name;
    std::string before, key, value, after;
  } rows[] = {
      // UTF-8 with one GBK line: with com ASCII, x=ü alone would be outvoted
      // and read as GBK (眉); a byte order mark keeps every line as it was read.
      {"UTF-8 with a GBK line stays so",
       "[s]\r\ncom=" + Utf8(QStringLiteral("串口")) + "\r\nx=\xC3\xBC\r\ng=" + gbkPort + "\r\n",
       "com", "COM3", "\xEF\xBB\xBF[s]\r\ncom=COM3\r\nx=\xC3\xBC\r\ng=" + gbkPort + "\r\n"},
      // A GBK file: a value ending in a lone lead byte keeps its bytes.
      {"GBK value with a lone lead byte", gbk, "com", "COM3", "[s]\r\ncom=COM3\r\nconf=##\x81\r\n"},
      // What was read with a byte GBK cannot decode (U+FFFD) goes back as it was.
      {"value read with a bad byte, unchanged", badByte, "conf", Utf8(QStringLiteral("#\uFFFD#")),
       badByte},
      {"unchanged value keeps its spelling", quoted, "conf", "##", quoted},
      // GBK whose only line UTF-8 cannot read is replaced: 模 (C4 A3) would
      // read as UTF-8 next time; a GBK comment line keeps the file GBK.
      {"GBK file marked as GBK", "[s]\r\ncom=" + gbkPort + "\r\nconf=\xC4\xA3\r\n", "com", "COM3",
       "[s]\r\ncom=COM3\r\nconf=\xC4\xA3\r\n; \xB4\xCB\xCE\xC4\xBC\xFE\xCE\xAA GBK "
       "\xB1\xE0\xC2\xEB\r\n"},
      {"new key in a GBK file, in GBK", gbk, "k", Utf8(QStringLiteral("切换")),
       gbk + "k=\xC7\xD0\xBB\xBB\r\n"},
  };
  for (const auto& r : rows) QTest::newRow(r.name) << r.before << r.key << r.value << r.after;
}

void TestCoreIni::setTextKeepsOtherLines() {
  QFETCH(std::string, before);
  QFETCH(std::string, key);
  QFETCH(std::string, value);
  QFETCH(std::string, after);
  ProfileIni ini = ProfileIni::FromFileBytes(before);
  const auto result = ini.SetText("s", key, value);
  QCOMPARE(result, before == after ? ProfileIni::SetTextResult::Unchanged
                                   : ProfileIni::SetTextResult::Written);
  QCOMPARE(ini.FileBytes(), after);
  const ProfileIni old = ProfileIni::FromFileBytes(before);
  const ProfileIni again = ProfileIni::FromFileBytes(after);
  QCOMPARE(again.FindText("s", key), std::optional<std::string>(value));
  for (const char* other : {"com", "conf", "x", "g"})
    if (other != key) QCOMPARE(again.FindText("s", other), old.FindText("s", other));
}

void TestCoreIni::setStringRefusesWhatOneLineCannotHold_data() {
  QTest::addColumn<std::string>("section");
  QTest::addColumn<std::string>("key");
  QTest::addColumn<std::string>("value");
  QTest::newRow("line feed in value")
      << std::string("a") << std::string("k") << std::string("x\n[b]");
  QTest::newRow("carriage return in value")
      << std::string("a") << std::string("k") << std::string("x\ry");
  QTest::newRow("= in key") << std::string("a") << std::string("k=x") << std::string("v");
  QTest::newRow("key opens a section") << std::string("a") << std::string("[k") << std::string("v");
  QTest::newRow("empty key") << std::string("a") << std::string("  ") << std::string("v");
  QTest::newRow("empty section") << std::string("") << std::string("k") << std::string("v");
  QTest::newRow("] in section") << std::string("a]b") << std::string("k") << std::string("v");
  QTest::newRow("line break in section")
      << std::string("a\nb") << std::string("k") << std::string("v");
}

void TestCoreIni::setStringRefusesWhatOneLineCannotHold() {
  QFETCH(std::string, section);
  QFETCH(std::string, key);
  QFETCH(std::string, value);
  const std::string before = "[a]\nk=1\n";
  ProfileIni ini(before);
  QVERIFY(!ini.SetString(section, key, value));
  QCOMPARE(ini.content(), before);
}

void TestCoreIni::fileWriteLeavesOtherBytes() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = dir.filePath("parcfg.ini");
  const QByteArray before = "; kept\r\n[other]\r\n  X = \"1\" ; c\r\n\r\n[Serial]\r\ncom=COM1\r\n"
                            "baudrate=0\r\n\r\n[tail]\r\ny=\xCE\xDE\r\n";
  QVERIFY(WriteFile(path, before));

  QVERIFY(WriteProfileString(Utf8(path), "serial", "baudrate", "4"));
  QVERIFY(WriteProfileString(Utf8(path), "serial", "conf", "######"));
  QVERIFY(WriteProfileString(Utf8(path), "new", "k", "v"));
  const QByteArray expected = "; kept\r\n[other]\r\n  X = \"1\" ; c\r\n\r\n[Serial]\r\ncom=COM1\r\n"
                              "baudrate=4\r\nconf=######\r\n\r\n[tail]\r\ny=\xCE\xDE\r\n"
                              "\r\n[new]\r\nk=v\r\n";
  QCOMPARE(ReadFile(path), expected);
  QCOMPARE(ReadProfileString(Utf8(path), "SERIAL", "BAUDRATE", ""), std::string("4"));
}

void TestCoreIni::fileWriteCreatesMissingFile() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const QString path = dir.filePath("new.ini");
  QVERIFY(WriteProfileString(Utf8(path), "serial", "com", "COM7"));
  QVERIFY(WriteProfileString(Utf8(path), "serial", "baudrate", "2"));
  QCOMPARE(ReadFile(path), QByteArray("[serial]\r\ncom=COM7\r\nbaudrate=2\r\n"));
  // Nothing but the file itself is left in the directory.
  QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"new.ini"});
}

void TestCoreIni::fileWriteFailures() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  QVERIFY(!WriteProfileString(Utf8(dir.filePath("no/such/dir/x.ini")), "s", "k", "v"));
  // A directory where the file should be.
  QVERIFY(QDir(dir.path()).mkdir("sub.ini"));
  QVERIFY(!WriteProfileString(Utf8(dir.filePath("sub.ini")), "s", "k", "v"));
  // A value that would break the file apart is refused and the file stays.
  const QString path = dir.filePath("f.ini");
  QVERIFY(WriteFile(path, "[s]\nk=1\n"));
  QVERIFY(!WriteProfileString(Utf8(path), "s", "k", "x\n[t]\ny=1"));
  QCOMPARE(ReadFile(path), QByteArray("[s]\nk=1\n"));
}

void TestCoreIni::readMissingFileGivesDefault() {
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const std::string path = Utf8(dir.filePath("none.ini"));
  QCOMPARE(ReadProfileString(path, "s", "k", "dflt"), std::string("dflt"));
  ProfileIni ini;
  QVERIFY(!ini.Load(path));
  QVERIFY(!ini.Load(Utf8(dir.path())));
  QVERIFY(ini.content().empty());
}

void TestCoreIni::judgeEncoding_data() {
  QTest::addColumn<std::string>("bytes");
  QTest::addColumn<int>("encoding");
  const std::string utf8 = "[s]\n" + Utf8(QStringLiteral("a=串口设置\nb=数据中心\nc=通讯协议\n"));
  const std::string gbkLine = "d=\xB4\xAE\xBF\xDA\n"; // 串口
  const std::string gbkLikeUtf8 = "e=\xC4\xA3\n";     // 模, also UTF-8 for U+0123
  QTest::newRow("UTF-8") << utf8 << int(IniEncoding::Utf8);
  QTest::newRow("UTF-8, one GBK line") << utf8 + gbkLine << int(IniEncoding::Utf8WithAnsiLines);
  QTest::newRow("GBK with a line UTF-8 could read")
      << "[s]\n" + gbkLine + gbkLikeUtf8 << int(IniEncoding::Ansi);
  QTest::newRow("byte order mark, GBK lines")
      << "\xEF\xBB\xBF[s]\n" + gbkLine + gbkLine << int(IniEncoding::Utf8WithAnsiLines);
  QTest::newRow("overlong form is not UTF-8")
      << std::string("k=\xC0\xAF\n") << int(IniEncoding::Ansi);
  QTest::newRow("cut sequence at the end")
      << utf8 + "k=\xE4\xB8" << int(IniEncoding::Utf8WithAnsiLines);
}

void TestCoreIni::judgeEncoding() {
  QFETCH(std::string, bytes);
  QFETCH(int, encoding);
  QCOMPARE(int(ProfileIni::FromFileBytes(bytes).encoding()), encoding);
}

void TestCoreIni::utf16BigEndianFileStaysSo() {
  // Little endian, through the window: test_startup.
  QTemporaryDir dir;
  QVERIFY(dir.isValid());
  const std::string path = Utf8(dir.filePath("parcfg.ini"));
  // A character beyond the 16-bit range travels as a surrogate pair.
  const QString head = QStringLiteral("; 设置 \U0001F600\r\n[Serial]\r\ncom=COM4\r\n");
  QVERIFY(WriteFile(QString::fromStdString(path), Utf16File(head + "baudrate=4\r\n", true)));
  QCOMPARE(ReadProfileString(path, "serial", "com", ""), std::string("COM4"));
  QVERIFY(WriteProfileString(path, "serial", "baudrate", "2"));
  QVERIFY(WriteProfileString(path, "serial", "conf", Utf8(QStringLiteral("切换"))));
  QCOMPARE(ReadFile(QString::fromStdString(path)),
           Utf16File(head + QStringLiteral("baudrate=2\r\nconf=切换\r\n"), true));
}

void TestCoreIni::ipv4_data() {
  QTest::addColumn<std::string>("text");
  QTest::addColumn<bool>("accepted");
  QTest::addColumn<quint32>("number");
  QTest::newRow("dotted") << std::string("192.168.1.20") << true << quint32(0xC0A80114);
  QTest::newRow("zero") << std::string("0.0.0.0") << true << quint32(0);
  QTest::newRow("broadcast is an address")
      << std::string("255.255.255.255") << true << quint32(0xFFFFFFFF);
  // The old conversion's lenient forms, each read as something else there.
  for (const char* refused : {"192.168.001.010", "10.1", "0x7f.0.0.1", "987", "8.8.8.8 junk",
                              " 1.2.3.4", "256.1.1.1", "1.2.3.4.5", "1..2.3", "1.2.3.", "", "abc"})
    QTest::newRow(refused) << std::string(refused) << false << quint32(0xFFFFFFFF);
}

void TestCoreIni::ipv4() {
  QFETCH(std::string, text);
  QFETCH(bool, accepted);
  QFETCH(quint32, number);
  QCOMPARE(ParseIpv4(text).has_value(), accepted);
  QCOMPARE(Ipv4FromText(text), number);
  if (accepted) QCOMPARE(Ipv4ToText(number), text);
}

QTEST_GUILESS_MAIN(TestCoreIni)
#include "test_core_ini.moc"
