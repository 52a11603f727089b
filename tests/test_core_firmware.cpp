// Firmware image files, the download-start frame and the chunk answers.

#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "firmware/download_frames.h"
#include "firmware/firmware_image.h"

namespace {

// The frame checksum computed here on its own, so the frames are checked
// against the rule and not against the code that builds them.
std::uint8_t SumMod256(const std::uint8_t* p, std::size_t n) {
  return std::uint8_t(std::accumulate(p, p + n, 0u) & 0xFF);
}

std::vector<std::uint8_t> ImageFile(const std::string& version8, std::size_t bodySize,
                                    std::uint8_t fill = 0x5A) {
  std::vector<std::uint8_t> file(8, 0);
  std::copy(version8.begin(), version8.begin() + std::min<std::size_t>(8, version8.size()),
            file.begin());
  file.resize(8 + bodySize, fill);
  return file;
}

std::vector<std::uint8_t> Body(std::size_t n) {
  std::vector<std::uint8_t> body(n);
  for (std::size_t i = 0; i < n; ++i) body[i] = std::uint8_t(i * 7 + (i >> 8));
  return body;
}

std::uint32_t U32At(const std::uint8_t* p) { return qFromLittleEndian<quint32>(p); }
std::uint16_t U16At(const std::uint8_t* p) { return qFromLittleEndian<quint16>(p); }

} // namespace

class TestCoreFirmware : public QObject {
  Q_OBJECT

private slots:
  // ---------------------------------------------------------------- image file
  void sum16();
  void describeImage();
  void describeImageRefusals();
  void bareImageName_data();
  void bareImageName();

  // ---------------------------------------------------------------- download frames
  void downloadStartLayout();
  void downloadStartCutsLongTexts();
  void parseChunkRequest();
  void chunkAnswers_data();
  void chunkAnswers();
  void chunkAnswerNeverReadsPastImage();
};

void TestCoreFirmware::sum16() {
  const std::vector<std::uint8_t> ff(258, 0xFF);
  QCOMPARE(Sum16(ff.data(), ff.size()), std::uint16_t(254));
  QCOMPARE(Sum16(ff.data(), 0), std::uint16_t(0));
  QCOMPARE(Sum16(nullptr, 10), std::uint16_t(0));
  const std::uint8_t few[] = {1, 2, 250};
  QCOMPARE(Sum16(few, 3), std::uint16_t(253)); // bytes count as unsigned
  QCOMPARE(Sum16(few, 2), std::uint16_t(3));
}

void TestCoreFirmware::describeImage() {
  ImageDescriptor d;
  QVERIFY(DescribeImage(ImageFile("V1.2", 1024), d) == ImageError::None);
  QCOMPARE(d.version, std::string("V1.2"));
  QCOMPARE(d.length, 1024u);
  QCOMPARE(d.checksum, std::uint16_t((1024 * 0x5A) & 0xFFFF));

  QVERIFY(DescribeImage(ImageFile("ABCDEFGH", 258, 0xFF), d) == ImageError::None);
  QCOMPARE(d.version, std::string("ABCDEFGH"));
  QCOMPARE(d.length, 258u);
  QCOMPARE(d.checksum, std::uint16_t(254));

  // The version is not part of the sum; a zero ends the version text.
  auto file = ImageFile("", 1, 0x01);
  file[0] = 'X';
  file[2] = 'Y';
  file[7] = 0xFF;
  QVERIFY(DescribeImage(file, d) == ImageError::None);
  QCOMPARE(d.version, std::string("X"));
  QCOMPARE(d.length, 1u);
  QCOMPARE(d.checksum, std::uint16_t(1));

  QVERIFY(DescribeImage(ImageFile("big", 102400), d) == ImageError::None);
  QCOMPARE(d.length, 102400u);
}

void TestCoreFirmware::describeImageRefusals() {
  ImageDescriptor d;
  d.version = "kept";
  d.length = 77;
  d.checksum = 99;
  QVERIFY(DescribeImage({}, d) == ImageError::NoBody);
  QVERIFY(DescribeImage(ImageFile("V1", 0), d) == ImageError::NoBody);
  QVERIFY(DescribeImage(std::vector<std::uint8_t>(5, 'a'), d) == ImageError::NoBody);
  QVERIFY(DescribeImage(ImageFile("V1", 102401), d) == ImageError::TooLarge);
  // A refused file leaves the earlier descriptor as it was.
  QCOMPARE(d.version, std::string("kept"));
  QCOMPARE(d.length, 77u);
  QCOMPARE(d.checksum, std::uint16_t(99));
}

void TestCoreFirmware::bareImageName_data() {
  QTest::addColumn<QString>("path");
  QTest::addColumn<QString>("name");
  QTest::newRow("two dots") << "dtu.new.bin"
                            << "dtu.new";
  QTest::newRow("windows dir") << "C:\\fw\\dtu.new.bin"
                               << "dtu.new";
  QTest::newRow("unix dir") << "/home/tech/dtu.new.bin"
                            << "dtu.new";
  QTest::newRow("no dot") << "/home/tech/firmware"
                          << "firmware";
  QTest::newRow("dot only in dir") << "/a.b/firmware"
                                   << "firmware";
  QTest::newRow("mixed separators") << "C:/a\\b/k7v.bin"
                                    << "k7v";
  QTest::newRow("empty") << ""
                         << "";
}

void TestCoreFirmware::bareImageName() {
  QFETCH(QString, path);
  QFETCH(QString, name);
  QCOMPARE(QString::fromStdString(BareImageName(path.toStdString())), name);
}

void TestCoreFirmware::downloadStartLayout() {
  const DownloadStartFrame f = BuildDownloadStart("dtu.new", "V1.2", 1024, 0xABCD);
  QCOMPARE(f.size(), 34u);
  const std::uint8_t expected[34] = {0xAA, 0xE1, 0x22, 0x00, // start, command, length 34
                                     'd',  't',  'u',  '.',  'n', 'e', 'w', 0, 0,
                                     0,    0,    0,    0,                         // name, 13
                                     'V',  '1',  '.',  '2',  0,   0,   0,   0, 0, // version, 9
                                     0x00, 0x04, 0x00, 0x00,                      // body length
                                     0xCD, 0xAB,                                  // body sum
                                     0,    0xBB};
  for (std::size_t i = 0; i < 32; ++i) QCOMPARE(f[i], expected[i]);
  QCOMPARE(f[32], SumMod256(f.data(), 32));
  QCOMPARE(f[33], std::uint8_t(0xBB));
}

void TestCoreFirmware::downloadStartCutsLongTexts() {
  // A 13-character name fills its field; a longer one is cut there.
  DownloadStartFrame f = BuildDownloadStart("ABCDEFGHIJKLMNOP", "12345678XY", 0x01020304, 0xFFFF);
  QCOMPARE(std::string(f.begin() + 4, f.begin() + 17), std::string("ABCDEFGHIJKLM"));
  QCOMPARE(std::string(f.begin() + 17, f.begin() + 25), std::string("12345678"));
  QCOMPARE(f[25], std::uint8_t(0)); // version never fills its ninth byte
  QCOMPARE(U32At(&f[26]), 0x01020304u);
  QCOMPARE(U16At(&f[30]), std::uint16_t(0xFFFF));
  QCOMPARE(f[32], SumMod256(f.data(), 32));
  QCOMPARE(f[33], std::uint8_t(0xBB));

  f = BuildDownloadStart("", "", 0, 0);
  for (std::size_t i = 4; i < 32; ++i) QCOMPARE(f[i], std::uint8_t(0));
}

void TestCoreFirmware::parseChunkRequest() {
  const std::uint8_t frame[12] = {0xAA, 0xE2, 12, 0, 0x00, 0x04, 0x01, 0x00, 0x00, 0x04, 0, 0xBB};
  ChunkRequest req;
  QVERIFY(ParseChunkRequest(TDeviceFrame{frame, 12}, req));
  QCOMPARE(req.offset, 0x00010400u);
  QCOMPARE(req.count, std::uint16_t(1024));

  ChunkRequest untouched{7, 8};
  QVERIFY(!ParseChunkRequest(TDeviceFrame{frame, 11}, untouched));
  QVERIFY(!ParseChunkRequest(TDeviceFrame{frame, 6}, untouched));
  QVERIFY(!ParseChunkRequest(TDeviceFrame{}, untouched));
  QCOMPARE(untouched.offset, 7u);
  QCOMPARE(untouched.count, std::uint16_t(8));
}

void TestCoreFirmware::chunkAnswers_data() {
  QTest::addColumn<quint32>("offset");
  QTest::addColumn<int>("count");
  QTest::addColumn<int>("length");
  QTest::addColumn<int>("sent");
  QTest::newRow("whole piece") << 0u << 1024 << 1500 << 1024;
  QTest::newRow("cut at end") << 1024u << 1024 << 1500 << 476;
  QTest::newRow("exact end") << 476u << 1024 << 1500 << 1024;
  QTest::newRow("at end") << 1500u << 1024 << 1500 << 0;
  QTest::newRow("beyond end") << 1501u << 1024 << 1500 << 0;
  QTest::newRow("far beyond") << 0xFFFFFFFFu << 65535 << 1500 << 0;
  QTest::newRow("over buffer") << 0u << 2000 << 102400 << 1089;
  QTest::newRow("buffer edge") << 0u << 1089 << 102400 << 1089;
  QTest::newRow("near end of big body") << 102000u << 2000 << 102400 << 400;
  QTest::newRow("last byte of full buffer") << 102399u << 16 << 102400 << 1;
  QTest::newRow("zero count") << 10u << 0 << 1500 << 0;
  QTest::newRow("negative length") << 0u << 10 << -5 << 0;
}

void TestCoreFirmware::chunkAnswers() {
  QFETCH(quint32, offset);
  QFETCH(int, count);
  QFETCH(int, length);
  QFETCH(int, sent);
  const ChunkRequest request{offset, std::uint16_t(count)};
  QCOMPARE(int(ClipChunkCount(request, length)), sent);

  const std::vector<std::uint8_t> image = Body(102400);
  ChunkAnswerBuffer out{};
  const std::size_t n = BuildChunkAnswer(request, length, image, out);
  QCOMPARE(n, std::size_t(sent) + 12);
  QCOMPARE(out[0], std::uint8_t(0xAA));
  QCOMPARE(out[1], std::uint8_t(0xE2));
  QCOMPARE(U16At(&out[2]), std::uint16_t(n));
  QCOMPARE(U32At(&out[4]), offset);
  QCOMPARE(int(U16At(&out[8])), sent);
  if (sent > 0)
    QVERIFY(std::equal(out.begin() + 10, out.begin() + 10 + sent, image.begin() + offset));
  QCOMPARE(out[10 + std::size_t(sent)], SumMod256(out.data(), 10 + std::size_t(sent)));
  QCOMPARE(out[11 + std::size_t(sent)], std::uint8_t(0xBB));
}

void TestCoreFirmware::chunkAnswerNeverReadsPastImage() {
  // A body length larger than the image handed in must not read past it.
  const std::vector<std::uint8_t> image = Body(100);
  ChunkAnswerBuffer out{};
  std::size_t n = BuildChunkAnswer(ChunkRequest{50, 100}, 1500, std::span(image), out);
  QCOMPARE(n, 62u);
  QCOMPARE(U16At(&out[8]), std::uint16_t(50));
  QVERIFY(std::equal(out.begin() + 10, out.begin() + 60, image.begin() + 50));
  QCOMPARE(out[60], SumMod256(out.data(), 60));

  n = BuildChunkAnswer(ChunkRequest{200, 10}, 1500, std::span(image), out);
  QCOMPARE(n, 12u);
  QCOMPARE(U16At(&out[8]), std::uint16_t(0));
  QCOMPARE(out[11], std::uint8_t(0xBB));
}

QTEST_GUILESS_MAIN(TestCoreFirmware)
#include "test_core_firmware.moc"
