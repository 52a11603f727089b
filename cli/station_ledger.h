#pragma once
// What the station keeps about units across ports, runs and crashes: which
// row of UNITS.csv went to which serial number, which units are done and
// with which record, and a line per attempt. The ports see only this
// interface; the report file (StationReport) is one backend, a shared
// database may be another.
//
// Every call is thread-safe: each port's thread claims rows and records
// attempts through the one ledger.

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "cli/units_file.h"

// One attempt at a unit, as the report keeps it.
struct ReportLine {
  QString time; // filled in by Append when empty
  QString port, sn, versionBefore, versionAfter, imageChecksum, recordSha256;
  int row = 0; // 0: none
  QString result, reason;
  int retries = 0;
  double seconds = 0;

  bool operator==(const ReportLine&) const = default;
};

class StationLedger {
public:
  virtual ~StationLedger() = default;

  struct Claim {
    enum class Kind {
      Row,         // work on the unit; row is its line of UNITS.csv (0 without one)
      AlreadyDone, // an attempt with this serial number ended ok; doneRecords says with what
      Refused,     // reason says why; nothing may be written to it
      Unreachable  // a shared ledger could not be reached and the port was stopped: nothing decided
    } kind = Kind::Refused;
    int row = 0;
    QString reason;
    QStringList doneRecords; // AlreadyDone: record_sha256 of each ok attempt
    // Row: the row with its values when the ledger keeps them itself (no UNITS.csv)
    std::optional<UnitsRow> ownRow = std::nullopt;
  };
  // Decides under one lock whether the unit with this serial number may be
  // worked on, and with which row of units (nullptr: no values file): its sn
  // row, the row it was given before, or the next one no unit has. The unit
  // counts as busy on port until Release. An empty sn is never done.
  virtual Claim ClaimFor(const QString& sn, const QString& port, const UnitsFile* units) = 0;
  // The unit's attempt has ended (its last line recorded). Never fails.
  virtual void Release(const QString& sn) = 0;
  // Records the attempt (its time set now when empty) durably before it
  // returns; false with the reason (the ledger then takes no more). An ok
  // line makes its unit done with its record_sha256.
  virtual bool Append(ReportLine& line, QString& reason) = 0;

  // A shared ledger that cannot be reached makes the calling port wait and
  // try again: keepTrying, registered by each port on its own thread, shows
  // the wait and returns false once the port is stopped. A file never waits.
  virtual void SetKeepTrying(std::function<bool()> keepTrying) { (void)keepTrying; }
  // What waited for the ledger, for the summary; empty when nothing did.
  virtual QString waitedText() const { return {}; }

  virtual QString where() const = 0;     // as the technician names it: a path
  virtual int doneCount() const = 0;     // units done, from the start
  virtual int rowsUsedCount() const = 0; // rows of UNITS.csv given to some unit
};
