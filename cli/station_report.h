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
#include <vector>

class QLockFile;
struct UnitsFile;

struct ReportLine {
  QString time; // filled in by Append when empty
  QString port, sn, versionBefore, versionAfter, imageChecksum, recordSha256;
  int row = 0; // 0: none
  QString result, reason;
  int retries = 0;
  double seconds = 0;
};

// A whole report as the station writes it, header and lines, for a report
// put together elsewhere (the shared ledger's export). Never fails.
QByteArray ReportFileText(const std::vector<ReportLine>& lines);

class StationReport {
public:
  StationReport();
  ~StationReport();

  // Locks path against a second station, reads what it holds and opens it
  // for appending; a new file gets the header line. False with the reason
  // when it cannot be written, is held by another station or is not a
  // station report. Each line that cannot be read (a torn last line) is
  // added to skipped as "FILE:LINE: why; skipped", and left where it is.
  bool Open(const QString& path, QString& reason, QStringList& skipped);

  struct Claim {
    enum class Kind {
      Row,         // work on the unit; row is its line of UNITS.csv (0 without one)
      AlreadyDone, // the report has it done
      Refused      // reason says why; nothing may be written to it
    } kind = Kind::Refused;
    int row = 0;
    QString reason;
  };
  // Decides under one lock whether the unit with this serial number may be
  // worked on, and with which row of units (nullptr: no values file): its sn
  // row, the row it was given before, or the next one no unit has. The unit
  // counts as busy on port until Release.
  Claim ClaimFor(const QString& sn, const QString& port, const UnitsFile* units);
  // The unit's attempt has ended (its last line appended). Never fails.
  void Release(const QString& sn);

  // Appends the line (its time set now when empty) and flushes it to the
  // disk; false with the reason (the report then takes no more lines). An ok
  // line makes its unit done.
  bool Append(ReportLine& line, QString& reason);

  QString path() const { return path_; }
  int doneCount() const;     // units done, from the start of the report
  int rowsUsedCount() const; // rows of UNITS.csv given to some unit

private:
  void Take(const ReportLine& line); // a line read or appended: rows and done units

  mutable std::mutex mutex_;
  QString path_;
  std::unique_ptr<QLockFile> lock_;
  QFile file_;
  QString failed_;               // the first append that failed
  QHash<int, QString> rowOwner_; // row -> sn
  QSet<QString> done_;           // serial numbers with an ok line
  QHash<QString, QString> busy_; // sn -> port, attempts in progress
};
