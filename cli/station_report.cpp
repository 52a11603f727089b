#include "cli/station_report.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>

#include "cli/csv_text.h"
#include "cli/units_file.h"
#include "params/record_file.h"
#include "platform/file_sync.h"
#include "platform/system_error.h"

namespace {

constexpr const char* kColumns[] = {
    "time",          "port", "sn",     "version_before", "version_after", "image_checksum",
    "record_sha256", "row",  "result", "reason",         "retries",       "seconds"};
constexpr std::size_t kColumnCount = std::size(kColumns);
constexpr const char* kResults[] = {"started", "ok", "failed", "stopped"};

std::vector<std::string> HeaderCells() {
  return std::vector<std::string>(std::begin(kColumns), std::end(kColumns));
}

// The line's cells as written; a reason never spans lines.
std::vector<std::string> CellsOf(const ReportLine& l) {
  QString reason = l.reason;
  reason.replace(u'\r', u' ').replace(u'\n', u' ');
  return {l.time.toStdString(),         l.port.toStdString(),
          l.sn.toStdString(),           l.versionBefore.toStdString(),
          l.versionAfter.toStdString(), l.imageChecksum.toStdString(),
          l.recordSha256.toStdString(), l.row > 0 ? std::to_string(l.row) : std::string(),
          l.result.toStdString(),       reason.toStdString(),
          std::to_string(l.retries),    QString::number(l.seconds, 'f', 1).toStdString()};
}

// The line, or why it is not one the station wrote whole. The strict forms
// of the last cells make a line cut anywhere fail here.
std::optional<ReportLine> ParseLine(const std::vector<std::string>& c, QString& why) {
  if (c.size() != kColumnCount) {
    why = QStringLiteral("%1 cells, a report line has %2").arg(c.size()).arg(kColumnCount);
    return std::nullopt;
  }
  auto cell = [&](std::size_t k) { return QString::fromStdString(c[k]); };
  ReportLine l;
  l.time = cell(0);
  l.port = cell(1);
  l.sn = cell(2);
  l.versionBefore = cell(3);
  l.versionAfter = cell(4);
  l.imageChecksum = cell(5);
  l.recordSha256 = cell(6);
  l.result = cell(8);
  l.reason = cell(9);
  static const QRegularExpression whole(QStringLiteral("^[0-9]+$"));
  static const QRegularExpression tenths(QStringLiteral("^[0-9]+\\.[0-9]$"));
  static const QRegularExpression sha(QStringLiteral("^([0-9a-f]{64})?$"));
  bool rowOk = true;
  if (!cell(7).isEmpty()) l.row = cell(7).toInt(&rowOk);
  if (!QDateTime::fromString(l.time, Qt::ISODate).isValid())
    why = QStringLiteral("no time");
  else if (!rowOk || l.row < 0)
    why = QStringLiteral("row %1 is not a line number").arg(cell(7));
  else if (std::find(std::begin(kResults), std::end(kResults), c[8]) == std::end(kResults))
    why = QStringLiteral("result %1 is not one the station writes").arg(l.result);
  else if (!sha.match(l.recordSha256).hasMatch())
    why = QStringLiteral("record_sha256 is not 64 hex digits");
  else if (!whole.match(cell(10)).hasMatch() || !tenths.match(cell(11)).hasMatch())
    why = QStringLiteral("retries or seconds cut short");
  if (!why.isEmpty()) return std::nullopt;
  l.retries = cell(10).toInt();
  l.seconds = cell(11).toDouble();
  return l;
}

QString ErrnoText(int code) { return QString::fromStdString(SystemErrorText(code)); }

} // namespace

std::string ReportHeaderLine() { return CsvLine(HeaderCells()); }

ReportText ReadReportText(std::string_view text) {
  ReportText out;
  const CsvText csv = ParseCsv(text);
  // Records and problems in file order: the header must come first.
  std::size_t p = 0;
  bool first = true;
  for (std::size_t r = 0; r <= csv.records.size(); ++r) {
    const int until = r < csv.records.size() ? csv.records[r].line : INT_MAX;
    for (; p < csv.problems.size() && csv.problems[p].line < until; ++p) {
      out.skipped << QStringLiteral("%1: %2")
                         .arg(csv.problems[p].line)
                         .arg(QString::fromStdString(csv.problems[p].reason));
      first = false;
    }
    if (r == csv.records.size()) break;
    const CsvRecord& rec = csv.records[r];
    if (first) {
      first = false;
      out.headed = rec.cells == HeaderCells() && rec.ended;
      if (out.headed) continue;
    }
    QString why;
    if (!rec.ended)
      why = QStringLiteral("the line is incomplete (the station was cut off while writing it)");
    else if (const auto line = ParseLine(rec.cells, why))
      out.lines.push_back(*line);
    if (!why.isEmpty()) out.skipped << QStringLiteral("%1: %2").arg(rec.line).arg(why);
  }
  // A file cut inside a quoted cell: its last problem is a quote never closed.
  out.openQuote = !csv.problems.empty() &&
                  csv.problems.back().reason.find("is never closed") != std::string::npos &&
                  (csv.records.empty() || csv.records.back().line <= csv.problems.back().line);
  // Nothing but line ends (and a byte order mark): no record at all.
  out.blank = csv.records.empty() && csv.problems.empty();
  return out;
}

StationReport::StationReport() = default;
StationReport::~StationReport() = default;

bool StationReport::Open(const QString& path, QString& reason, QStringList& skipped) {
  path_ = path;
  const QFileInfo info(path);
  if (info.exists() && !info.isFile()) {
    reason = QStringLiteral("%1: exists and is not a plain file").arg(path);
    return false;
  }
  if (!info.absoluteDir().exists()) {
    reason = QStringLiteral("%1: no such directory: %2").arg(path, info.absolutePath());
    return false;
  }
  // A second station on the same report would give one row to two units.
  lock_ = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
  lock_->setStaleLockTime(0); // held for as long as the station runs; a dead holder is detected
  if (!lock_->tryLock(0)) {
    qint64 pid = 0;
    QString host, app;
    if (lock_->error() == QLockFile::LockFailedError && lock_->getLockInfo(&pid, &host, &app))
      reason = QStringLiteral("%1: in use by another station (%2, process %3 on %4)")
                   .arg(path, app)
                   .arg(pid)
                   .arg(host);
    else
      reason = QStringLiteral("%1: cannot make the lock file %1.lock").arg(path);
    return false;
  }

  QByteArray old;
  if (info.exists()) {
    const auto bytes = ReadPlainFile(path, reason);
    if (!bytes) {
      reason = QStringLiteral("%1: %2").arg(path, reason);
      return false;
    }
    old = *bytes;
  }
  const ReportText read =
      ReadReportText(std::string_view(old.constData(), std::size_t(old.size())));
  if (!read.blank && !read.headed) {
    reason = QStringLiteral("%1: not a station report (its first line is not \"%2\"); "
                            "name a new file or one the station wrote")
                 .arg(path, QString::fromStdString(ReportHeaderLine()).trimmed());
    return false;
  }
  for (const ReportLine& l : read.lines) Take(l);
  for (const QString& s : read.skipped) skipped << QStringLiteral("%1:%2; skipped").arg(path, s);

  file_.setFileName(path);
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
    reason = QStringLiteral("%1: %2").arg(path, file_.errorString());
    return false;
  }
  // A new report starts with its header (a mark so spreadsheets read UTF-8);
  // a torn last line gets its end (and the end of a quoted cell it was cut
  // in), so the next line starts on its own.
  QByteArray start;
  if (read.openQuote)
    start = "\"\n"; // a line end inside the cell would be part of it
  else if (!old.isEmpty() && !old.endsWith('\n') && old != "\xEF\xBB\xBF")
    start = "\n";
  if (read.blank)
    start += (old.isEmpty() ? QByteArray("\xEF\xBB\xBF") : QByteArray()) +
             QByteArray::fromStdString(ReportHeaderLine());
  if (!start.isEmpty()) {
    int error = 0;
    const bool ok =
        file_.write(start) == start.size() && file_.flush() &&
        SyncFileToDisk(file_.handle(), &error) &&
        (info.exists() ||
         SyncDirectoryToDisk(QFile::encodeName(info.absolutePath()).toStdString(), &error));
    if (!ok) {
      reason =
          QStringLiteral("%1: %2").arg(path, error != 0 ? ErrnoText(error) : file_.errorString());
      return false;
    }
  }
  return true;
}

void StationReport::Take(const ReportLine& line) {
  if (line.row > 0 && !rowOwner_.contains(line.row)) rowOwner_.insert(line.row, line.sn);
  // A unit without a serial number is never known again.
  if (line.result == QLatin1String("ok") && !line.sn.isEmpty()) {
    QStringList& records = doneRecords_[line.sn];
    if (!records.contains(line.recordSha256)) records << line.recordSha256;
  }
}

StationReport::Claim StationReport::ClaimFor(const QString& sn, const QString& port,
                                             const UnitsFile* units) {
  const std::lock_guard lock(mutex_);
  Claim c;
  if (const auto done = doneRecords_.constFind(sn); done != doneRecords_.cend()) {
    c.kind = Claim::Kind::AlreadyDone;
    c.doneRecords = *done;
    return c;
  }
  if (busy_.contains(sn)) {
    c.reason = QStringLiteral("sn %1 is being provisioned on %2 at the same time: two units with "
                              "one serial number")
                   .arg(sn, busy_.value(sn));
    return c;
  }
  if (units && units->keyedBySn) {
    const UnitsRow* row = units->RowFor(sn);
    if (!row) {
      c.reason = QStringLiteral("sn %1 is not in %2").arg(sn, units->path);
      return c;
    }
    const QString owner = rowOwner_.value(row->line);
    if (!owner.isNull() && owner != sn) {
      c.reason = QStringLiteral("row %1 of %2 went to sn %3 before (%4)")
                     .arg(row->line)
                     .arg(units->path, owner, path_);
      return c;
    }
    c.row = row->line;
  } else if (units) {
    // The row this unit was given before (an attempt that did not end ok),
    // else the first one no unit has.
    for (const UnitsRow& r : units->rows)
      if (rowOwner_.value(r.line) == sn) c.row = r.line;
    for (std::size_t k = 0; c.row == 0 && k < units->rows.size(); ++k)
      if (!rowOwner_.contains(units->rows[k].line)) c.row = units->rows[k].line;
    if (c.row == 0) {
      c.reason = QStringLiteral("no row left in %1 (all %2 given to units)")
                     .arg(units->path)
                     .arg(units->rows.size());
      return c;
    }
  }
  if (c.row > 0) rowOwner_.insert(c.row, sn);
  busy_.insert(sn, port);
  c.kind = Claim::Kind::Row;
  return c;
}

void StationReport::Release(const QString& sn) {
  const std::lock_guard lock(mutex_);
  busy_.remove(sn);
}

bool StationReport::Append(ReportLine& line, QString& reason) {
  const std::lock_guard lock(mutex_);
  if (!failed_.isEmpty()) {
    reason = failed_;
    return false;
  }
  if (line.time.isEmpty()) line.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
  const QByteArray bytes = QByteArray::fromStdString(CsvLine(CellsOf(line)));
  int error = 0;
  errno = 0;
  const bool ok =
      file_.write(bytes) == bytes.size() && file_.flush() && SyncFileToDisk(file_.handle(), &error);
  if (!ok) {
    // What reached the file may end mid-line: nothing more is put after it.
    failed_ = QStringLiteral("%1: %2").arg(path_, error != 0   ? ErrnoText(error)
                                                  : errno != 0 ? ErrnoText(errno)
                                                               : file_.errorString());
    reason = failed_;
    return false;
  }
  Take(line);
  return true;
}

int StationReport::doneCount() const {
  const std::lock_guard lock(mutex_);
  return int(doneRecords_.size());
}

int StationReport::rowsUsedCount() const {
  const std::lock_guard lock(mutex_);
  return int(rowOwner_.size());
}

QByteArray ReportFileText(const std::vector<ReportLine>& lines) {
  QByteArray out = QByteArray("\xEF\xBB\xBF") + QByteArray::fromStdString(ReportHeaderLine());
  for (const ReportLine& l : lines) out += QByteArray::fromStdString(CsvLine(CellsOf(l)));
  return out;
}
