// Frame building and the receive parser, fed from a scripted byte source.

#include <QByteArray>
#include <QList>
#include <QTest>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "link/device_frame.h"
#include "link/link_constants.h"
#include "link/rx_buffer.h"
#include "support/bytes.h"

namespace {

// Bytes "arrive" when the test says so; each take-in gets at most takeInCap.
class FakeRx : public RxSource {
public:
  QByteArray stream;
  qsizetype arrived = 0;
  qsizetype read = 0;
  qsizetype takeInCap = std::numeric_limits<std::uint16_t>::max();

  void arrive(qsizetype n) { arrived = std::min(stream.size(), arrived + n); }
  void arrive(const QByteArray& bytes) {
    stream += bytes;
    arrived = stream.size();
  }
  std::uint16_t RxBytesWaiting() override {
    return std::uint16_t(std::min<qsizetype>({arrived - read, takeInCap, 0xFFFF}));
  }
  std::uint16_t ReadPort(std::uint8_t* dest, std::uint16_t n) override {
    const qsizetype k = std::min<qsizetype>(n, arrived - read);
    std::memcpy(dest, stream.constData() + read, size_t(k));
    read += k;
    return std::uint16_t(k);
  }
};

// A port that never runs dry: the same pattern over and over.
class EndlessRx : public RxSource {
public:
  QByteArray pattern;
  qsizetype pos = 0;
  qsizetype total = 0;
  std::uint16_t RxBytesWaiting() override { return 4000; }
  std::uint16_t ReadPort(std::uint8_t* dest, std::uint16_t n) override {
    for (std::uint16_t i = 0; i < n; ++i) dest[i] = std::uint8_t(pattern[pos++ % pattern.size()]);
    total += n;
    return n;
  }
};

QByteArray Bytes(std::initializer_list<int> values) {
  QByteArray out;
  for (int v : values) out.append(char(v));
  return out;
}

QByteArray Pattern(int n, int seed) {
  QByteArray out(n, '\0');
  for (int i = 0; i < n; ++i) out[i] = char((i * 31 + seed) & 0xFF);
  return out;
}

// Noise that never holds a frame: every 0xAA is followed by command 0.
QByteArray Garbage(int n) {
  QByteArray out(n, '\0');
  for (int i = 0; i < n; ++i)
    out[i] = char(i % 10 == 0 ? 0xAA : i % 10 == 1 ? 0x00 : (i * 7) & 0x7F);
  return out;
}

bool Invariants(const TRxBuffer& rx) {
  return rx.ReadPos + rx.Count == rx.WritePos && rx.WritePos + rx.Free == k7v::kRxBufferSize;
}

QByteArray Whole(const TDeviceFrame& f) {
  return QByteArray(reinterpret_cast<const char*>(f.bytes), f.length);
}

// Feeds stream in arrival pieces, reading frames after each, then drains.
// Returns false when the buffer invariants break or the reads never end.
bool Collect(const QByteArray& stream, int piece, int cap, QList<QByteArray>& frames) {
  FakeRx src;
  src.stream = stream;
  src.takeInCap = cap;
  TRxBuffer rx;
  for (int guard = 0; guard < 4 * stream.size() + 100; ++guard) {
    const bool allArrived = src.arrived == stream.size();
    const qsizetype readBefore = src.read;
    const auto f = ReadFrame(rx, src);
    if (!Invariants(rx)) return false;
    if (f) {
      frames.append(Whole(*f));
    } else if (allArrived && readBefore == src.arrived) {
      return true;
    } else {
      src.arrive(piece);
    }
  }
  return false;
}

} // namespace

class TestCoreFrames : public QObject {
  Q_OBJECT
private slots:
  void checksum8_data();
  void checksum8();
  void acceptedCommands_data();
  void acceptedCommands();
  void buildFrame();

  void readFrame_data();
  void readFrame();
  void takenFrameResetsEmptyBuffer();
  void consumeCompactsLazily_data();
  void consumeCompactsLazily();
  void maxFrameLengthBoundsFrames();
  void endlessPortStillReturns();
  void inconsistentBufferIsReset();
};

void TestCoreFrames::checksum8_data() {
  QTest::addColumn<QByteArray>("bytes");
  QTest::addColumn<int>("n");
  QTest::addColumn<int>("expected");
  QTest::newRow("read request") << Bytes({0xAA, 0x03, 0x06, 0x00}) << 4 << 0xB3;
  QTest::newRow("wraps") << Bytes({0xFF, 0xFF, 0x03}) << 3 << 0x01;
  QTest::newRow("prefix only") << Bytes({0x10, 0x20, 0x30}) << 2 << 0x30;
  QTest::newRow("zero count") << Bytes({0x10}) << 0 << 0;
  QTest::newRow("negative count") << Bytes({0x10}) << -5 << 0;
}

void TestCoreFrames::checksum8() {
  QFETCH(QByteArray, bytes);
  QFETCH(int, n);
  QFETCH(int, expected);
  QCOMPARE(
      int(Checksum8(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::int16_t(n))),
      expected);
}

void TestCoreFrames::acceptedCommands_data() {
  QTest::addColumn<int>("command");
  QTest::addColumn<bool>("accepted");
  for (auto [c, ok] : std::initializer_list<std::pair<int, bool>>{{0x00, false},
                                                                  {0x01, true},
                                                                  {0x05, true},
                                                                  {0x08, true},
                                                                  {0x09, false},
                                                                  {0x7F, false},
                                                                  {0xE0, false},
                                                                  {0xE1, true},
                                                                  {0xE4, true},
                                                                  {0xE5, false},
                                                                  {0xFF, false}})
    QTest::addRow("0x%02X", c) << c << ok;
}

void TestCoreFrames::acceptedCommands() {
  QFETCH(int, command);
  QFETCH(bool, accepted);
  QCOMPARE(IsAcceptedCommand(std::uint8_t(command)), accepted);
}

void TestCoreFrames::buildFrame() {
  QCOMPARE(FrameBytes(3, {}), Bytes({0xAA, 0x03, 0x06, 0x00, 0xB3, 0xBB}));
  QCOMPARE(FrameBytes(2, {}), Bytes({0xAA, 0x02, 0x06, 0x00, 0xB2, 0xBB}));
  QCOMPARE(FrameBytes(0xE2, Bytes({0x01, 0x02})),
           Bytes({0xAA, 0xE2, 0x08, 0x00, 0x01, 0x02, 0x97, 0xBB}));

  std::uint8_t small[7] = {};
  const std::uint8_t payload[2] = {1, 2};
  QCOMPARE(BuildFrame(4, payload, small), size_t(0));

  // The length field is 16 bits; one byte more must be refused, not wrapped.
  std::vector<std::uint8_t> big(0x10000 + 8), body(0xFFFF - 6);
  QCOMPARE(BuildFrame(4, body, big), size_t(0xFFFF));
  body.push_back(0);
  QCOMPARE(BuildFrame(4, body, big), size_t(0));
}

void TestCoreFrames::readFrame_data() {
  QTest::addColumn<QByteArray>("stream");
  QTest::addColumn<QList<QByteArray>>("expected");
  QTest::addColumn<int>("piece");
  QTest::addColumn<int>("cap");

  const QByteArray empty = Bytes({0xAA, 0x02, 0x06, 0x00, 0xB2, 0xBB});
  const QByteArray read = FrameBytes(3, {});
  const QByteArray answer = FrameBytes(4, Bytes({0x01}));
  const QByteArray params = FrameBytes(3, Pattern(int(k7v::kAppParamsSize), 7));

  QByteArray badSum = FrameBytes(3, read + Bytes({0x11, 0x22}));
  badSum[badSum.size() - 2] = char(badSum[badSum.size() - 2] + 1);
  QByteArray badEnd = answer;
  badEnd[badEnd.size() - 1] = char(0xBC);

  QByteArray rejected;
  for (int c : {0x00, 0x09, 0xE0, 0xE5, 0xFF})
    rejected += FrameBytes(std::uint8_t(c), Bytes({0x42}));

  // The first two frames leave three bytes at the very end of Data.
  const QByteArray filler = FrameBytes(7, Pattern(1021 - 699 - 6, 3));

  struct Scenario {
    const char* name;
    QByteArray stream;
    QList<QByteArray> expected;
  };
  const Scenario scenarios[] = {
      {"empty payload", empty, {empty}},
      {"two frames together", read + answer, {read, answer}},
      {"garbage and lone AA first",
       Bytes({0x00, 0x11, 0xAA, 0x22, 0xAA, 0xAA, 0x13}) + read,
       {read}},
      {"bad checksum, frame inside", badSum + answer, {read, answer}},
      {"bad end byte", badEnd + read, {read}},
      {"length 5", Bytes({0xAA, 0x03, 0x05, 0x00, 0xB2, 0xBB}) + read, {read}},
      {"length 1501", Bytes({0xAA, 0x03, 0xDD, 0x05, 0x00, 0x00}) + read, {read}},
      {"length 1100 then frame", Bytes({0xAA, 0x03, 0x4C, 0x04}) + read, {read}},
      {"lengths 1025 and 1500",
       Bytes({0xAA, 0x03, 0x01, 0x04, 0xAA, 0x03, 0xDC, 0x05}) + answer,
       {answer}},
      {"rejected codes", rejected, {}},
      {"accepted codes",
       FrameBytes(8, {}) + FrameBytes(0xE4, {}) + FrameBytes(0xE1, {}) + FrameBytes(1, {}),
       {FrameBytes(8, {}), FrameBytes(0xE4, {}), FrameBytes(0xE1, {}), FrameBytes(1, {})}},
      {"frame inside a valid frame stays payload", FrameBytes(3, read), {FrameBytes(3, read)}},
      {"699-byte frame", params, {params}},
      {"1024-byte frame", FrameBytes(0xE2, Pattern(1018, 1)), {FrameBytes(0xE2, Pattern(1018, 1))}},
      {"garbage over 1024 then frame", Garbage(1500) + read, {read}},
      {"tail at end of Data", params + filler + empty, {params, filler, empty}},
      // A header that only looks too long for the room left behind a taken
      // frame: after making room, the frame behind it is found by the same call.
      {"long-looking header after a frame",
       FrameBytes(7, Pattern(94, 5)) + Bytes({0xAA, 0x0C, 0x00, 0x04}) + read,
       {FrameBytes(7, Pattern(94, 5)), read}},
      {"noise between many frames",
       params + Garbage(300) + params + Garbage(33) + read,
       {params, params, read}},
  };
  const std::pair<int, int> sizes[] = {{1, 1},  {2, 2},      {5, 3},        {7, 64},
                                       {64, 7}, {700, 1024}, {4000, 0xFFFF}};
  for (const auto& s : scenarios)
    for (auto [piece, cap] : sizes)
      QTest::addRow("%s / arrive %d / take %d", s.name, piece, cap)
          << s.stream << s.expected << piece << cap;
}

void TestCoreFrames::readFrame() {
  QFETCH(QByteArray, stream);
  QFETCH(QList<QByteArray>, expected);
  QFETCH(int, piece);
  QFETCH(int, cap);
  QList<QByteArray> frames;
  QVERIFY(Collect(stream, piece, cap, frames));
  QCOMPARE(frames, expected);
}

void TestCoreFrames::takenFrameResetsEmptyBuffer() {
  const QByteArray first = FrameBytes(7, Pattern(40, 2));
  const QByteArray second = FrameBytes(4, Bytes({1}));
  FakeRx src;
  src.arrive(Garbage(3) + first + second);
  TRxBuffer rx;

  const auto a = ReadFrame(rx, src);
  QVERIFY(a);
  QCOMPARE(rx.ReadPos, std::uint16_t(3 + first.size()));
  const auto b = ReadFrame(rx, src);
  QVERIFY(b);
  QCOMPARE(rx.Count, std::uint16_t(0));
  QCOMPARE(rx.ReadPos, std::uint16_t(0));
  QCOMPARE(rx.WritePos, std::uint16_t(0));
  QCOMPARE(rx.Free, std::uint16_t(k7v::kRxBufferSize));
  // The reset moves nothing: the frame is still readable where it was returned.
  QCOMPARE(Whole(*b), second);
}

void TestCoreFrames::consumeCompactsLazily_data() {
  QTest::addColumn<int>("readPos");
  QTest::addColumn<int>("count");
  QTest::addColumn<int>("n");
  QTest::addColumn<int>("newReadPos");
  QTest::addColumn<int>("newCount");
  QTest::newRow("near the front: no move") << 10 << 50 << 1 << 11 << 49;
  QTest::newRow("read position 99: no move") << 99 << 50 << 1 << 100 << 49;
  QTest::newRow("read position 100: compact") << 100 << 50 << 1 << 1 << 49;
  QTest::newRow("drop of 100: no move") << 10 << 200 << 100 << 110 << 100;
  QTest::newRow("drop of 101: compact") << 10 << 200 << 101 << 101 << 99;
  QTest::newRow("more than pending: empties") << 5 << 3 << 10 << 8 << 0;
}

void TestCoreFrames::consumeCompactsLazily() {
  QFETCH(int, readPos);
  QFETCH(int, count);
  QFETCH(int, n);
  QFETCH(int, newReadPos);
  QFETCH(int, newCount);
  TRxBuffer rx;
  for (int i = 0; i < int(k7v::kRxBufferSize); ++i) rx.Data[i] = std::uint8_t(i);
  rx.ReadPos = std::uint16_t(readPos);
  rx.Count = std::uint16_t(count);
  rx.WritePos = std::uint16_t(readPos + count);
  rx.Free = std::uint16_t(k7v::kRxBufferSize - rx.WritePos);

  ConsumeRx(rx, std::uint16_t(n));
  QCOMPARE(int(rx.ReadPos), newReadPos);
  QCOMPARE(int(rx.Count), newCount);
  QVERIFY(Invariants(rx));
  // Whether moved or not, the next unconsumed byte is the same one.
  if (newCount > 0) QCOMPARE(int(rx.Data[rx.ReadPos]), (readPos + n) & 0xFF);
}

void TestCoreFrames::maxFrameLengthBoundsFrames() {
  const QByteArray longer = FrameBytes(3, Pattern(6, 1));
  const QByteArray shorter = FrameBytes(2, {});
  FakeRx src;
  src.arrive(longer + shorter);
  TRxBuffer rx;
  const auto f = ReadFrame(rx, src, 10);
  QVERIFY(f);
  QCOMPARE(Whole(*f), shorter);
}

void TestCoreFrames::endlessPortStillReturns() {
  const QByteArray read = FrameBytes(3, {});
  const QList<QByteArray> patterns = {Bytes({0x00}), Bytes({0xAA}), Garbage(977),
                                      Bytes({0xAA, 0x03, 0x06, 0x00})};
  for (const QByteArray& pattern : patterns) {
    EndlessRx src;
    src.pattern = pattern;
    TRxBuffer rx;
    QVERIFY(!ReadFrame(rx, src));
    QVERIFY(src.total <= qsizetype(k7v::kMaxRxBytesPerRead));
    QVERIFY(Invariants(rx));
  }
  // A port streaming frames yields one per call.
  EndlessRx src;
  src.pattern = Garbage(15) + read;
  TRxBuffer rx;
  for (int i = 0; i < 500; ++i) {
    const auto f = ReadFrame(rx, src);
    QVERIFY(f);
    QCOMPARE(Whole(*f), read);
  }
}

void TestCoreFrames::inconsistentBufferIsReset() {
  TRxBuffer rx;
  rx.ReadPos = 900;
  rx.Count = 900;
  rx.WritePos = 1800;
  FakeRx src;
  src.arrive(FrameBytes(3, {}));
  const auto f = ReadFrame(rx, src);
  QVERIFY(f);
  QCOMPARE(Whole(*f), FrameBytes(3, {}));
  QVERIFY(Invariants(rx));
}

QTEST_GUILESS_MAIN(TestCoreFrames)
#include "test_core_frames.moc"
