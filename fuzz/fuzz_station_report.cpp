// libFuzzer target for the station's report. The input gives a starting
// file and lines to append, their cells free text (line breaks, commas,
// quotes, bytes that are not UTF-8); once the station has opened the file,
// appended them and let go, the file read again gives every line it gave
// before and then the appended ones, unchanged and in order.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "cli/station_report.h"

namespace {

[[noreturn]] void Fail(const char* what, long long a = 0, long long b = 0) {
  std::fprintf(stderr, "fuzz_station_report: %s (%lld, %lld)\n", what, a, b);
  std::abort();
}

class Input {
public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  QByteArray bytes(std::size_t n) {
    n = std::min(n, size_ - std::min(pos_, size_));
    QByteArray out(reinterpret_cast<const char*>(data_ + pos_), qsizetype(n));
    pos_ += n;
    return out;
  }

private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A cell as a unit or a port name may give it: any bytes, read as UTF-8.
QString Text(Input& in) { return QString::fromUtf8(in.bytes(in.byte() % 24)); }

// What the report keeps of a line: the reason on one line, seconds to a tenth.
ReportLine AsKept(ReportLine l) {
  l.reason.replace(u'\r', u' ').replace(u'\n', u' ');
  l.seconds = QString::number(l.seconds, 'f', 1).toDouble();
  return l;
}

bool Same(const ReportLine& a, const ReportLine& b) {
  return a.time == b.time && a.port == b.port && a.sn == b.sn &&
         a.versionBefore == b.versionBefore && a.versionAfter == b.versionAfter &&
         a.imageChecksum == b.imageChecksum && a.recordSha256 == b.recordSha256 && a.row == b.row &&
         a.result == b.result && a.reason == b.reason && a.retries == b.retries &&
         QString::number(a.seconds, 'f', 1) == QString::number(b.seconds, 'f', 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // In memory where the system offers it: the report syncs every line to the disk.
  static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                               ? QStringLiteral("/dev/shm/fuzz_station_report-XXXXXX")
                               : QDir::tempPath() + QStringLiteral("/fuzz_station_report-XXXXXX"));
  Input in(data, size);
  const QString path = dir.path() + QStringLiteral("/rep.csv");
  QFile::remove(path);

  // The starting file: nothing, a header and what the fuzzer adds, or only its bytes.
  const std::uint8_t start = in.byte();
  QByteArray old;
  if (start % 3 == 1) old = "\xEF\xBB\xBF" + QByteArray::fromStdString(ReportHeaderLine());
  if (start % 3 != 0) old += in.bytes(in.byte() * 4u);
  if (!old.isEmpty()) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(old) != old.size()) Fail("cannot write the start");
  }
  const ReportText before =
      ReadReportText(std::string_view(old.constData(), std::size_t(old.size())));

  std::vector<ReportLine> appended;
  {
    StationReport report;
    QString reason;
    QStringList skipped;
    if (!report.Open(path, reason, skipped)) {
      if (before.headed || before.blank) Fail("a report was refused");
      return 0;
    }
    static const char* const kResults[] = {"started", "ok", "failed", "stopped"};
    const int count = in.byte() % 6;
    for (int k = 0; k < count; ++k) {
      ReportLine l;
      l.port = Text(in);
      l.sn = Text(in);
      l.versionBefore = Text(in);
      l.versionAfter = Text(in);
      l.imageChecksum = Text(in);
      if (in.byte() & 1) l.recordSha256 = QString(64, QChar(u"0123456789abcdef"[in.byte() % 16]));
      l.row = in.byte();
      l.result = QString::fromLatin1(kResults[in.byte() % 4]);
      l.reason = Text(in);
      l.retries = in.byte();
      l.seconds = double(in.byte()) / 10.0;
      if (!report.Append(l, reason)) Fail("an append failed");
      appended.push_back(AsKept(l));
    }
  }

  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) Fail("cannot read the report");
  const QByteArray now = f.readAll();
  const ReportText after =
      ReadReportText(std::string_view(now.constData(), std::size_t(now.size())));
  if (!after.headed) Fail("no header after appending");
  // A line cut off just before its end may be whole once the file goes on.
  const std::size_t b = before.lines.size(), a = after.lines.size(), n = appended.size();
  if (a < b + n || a > b + n + 1)
    Fail("lines read back", static_cast<long long>(a), static_cast<long long>(b + n));
  for (std::size_t i = 0; i < b; ++i)
    if (!Same(before.lines[i], after.lines[i]))
      Fail("an earlier line changed", static_cast<long long>(i));
  for (std::size_t i = 0; i < n; ++i)
    if (!Same(appended[i], after.lines[a - n + i]))
      Fail("an appended line changed", static_cast<long long>(i));
  return 0;
}
