#pragma once
// The station's report, REPORT.csv: one line per unit attempt, each appended
// and flushed to the disk before the port shows how the unit ended, so a
// crash, a power cut or kill -9 loses at most the line of the unit in
// progress. Read again at start: the rows of UNITS.csv already given to a
// unit and the units already done carry over, so no row ever goes to two
// units and a done unit is not provisioned again.
//
// Columns (the first line names them): time (ISO 8601, UTC), port, sn,
// version_before, version_after, image_checksum (of the image flashed, 0x1a2b),
// record_sha256 (of the 693 bytes sent with the write), row (the line of
// UNITS.csv), result, reason, retries, seconds. result is "started" on the
// line appended before the first byte that changes the unit (it holds the
// row for that unit should the station be cut off), then "ok", "failed" or
// "stopped".
//
// Thread-safe: every port's thread claims rows and appends lines through it.

#include <QFile>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "cli/station_ledger.h"

class QLockFile;
struct UnitsFile;

// What a report file holds, read as a whole (a quoted cell may span lines).
struct ReportText {
  bool headed = false;    // its first record is the header line
  bool blank = false;     // no record: nothing but a byte order mark and line ends
  bool openQuote = false; // it ends inside a quoted cell (cut off mid-cell)
  std::vector<ReportLine> lines;
  QStringList skipped; // "LINE: why" of each record that is not a whole report line
};
// Reads text as the station wrote it. Never fails: a record that is not a
// whole report line is in skipped.
ReportText ReadReportText(std::string_view text);
// The header line, ended by '\n'.
std::string ReportHeaderLine();

// A whole report as the station writes it, header and lines, for a report
// put together elsewhere (the shared ledger's export). Never fails.
QByteArray ReportFileText(const std::vector<ReportLine>& lines);

class StationReport : public StationLedger {
public:
  StationReport();
  ~StationReport() override;

  // Locks path against a second station, reads what it holds and opens it
  // for appending; a new file, or one holding nothing but a byte order mark,
  // gets the header line. False with the reason when it cannot be written,
  // is held by another station or is not a station report. Each line that
  // cannot be read (a torn last line) is added to skipped as
  // "FILE:LINE: why; skipped", and left where it is.
  bool Open(const QString& path, QString& reason, QStringList& skipped);

  Claim ClaimFor(const QString& sn, const QString& port, const UnitsFile* units) override;
  void Release(const QString& sn) override;
  // Appends the line and flushes it to the disk.
  bool Append(ReportLine& line, QString& reason) override;

  QString where() const override { return path_; }
  QString path() const { return path_; }
  int doneCount() const override;
  int rowsUsedCount() const override;

private:
  void Take(const ReportLine& line); // a line read or appended: rows and done units

  mutable std::mutex mutex_;
  QString path_;
  std::unique_ptr<QLockFile> lock_;
  QFile file_;
  QString failed_;                          // the first append that failed
  QHash<int, QString> rowOwner_;            // row -> sn
  QHash<QString, QStringList> doneRecords_; // sn -> record_sha256 of its ok lines
  QHash<QString, QString> busy_;            // sn -> port, attempts in progress
};
