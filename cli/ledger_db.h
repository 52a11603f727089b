#pragma once
// The shared ledger: the per-unit values of many benches and the record of
// every attempt, in one PostgreSQL database (through libpq). A row of values
// goes to one serial number for good: the database refuses a second, whatever
// crashes. Each bench's stations hold one connection per port; a connection
// is used by one thread at a time.
//
// The password never passes through here: libpq takes it from PGPASSWORD,
// ~/.pgpass or a service file. A CONNINFO that holds one is refused, and no
// text shown ever repeats CONNINFO itself.

#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "params/param_profile.h"

struct pg_conn;
struct ReportLine;

inline constexpr int kLedgerSchemaVersion = 1; // the tables this release reads and writes
// Waits for a server that does not answer: no run ever hangs on one.
inline constexpr std::chrono::seconds kLedgerConnectTimeout{10};
// While the ledger cannot be reached, how often a port tries it again.
inline constexpr std::chrono::milliseconds kLedgerRetryInterval{1000};

// How a ledger call ended.
struct LedgerStatus {
  enum class Kind {
    Ok,
    Unreachable, // the server is gone or restarting: the same call may be tried again later
    Failed       // refused (credentials, missing database or tables, a rule): reason says why
  } kind = Kind::Ok;
  QString reason;
  bool ok() const { return kind == Kind::Ok; }
};

// A row of values as loaded: where it came from and what it sets.
struct LedgerRow {
  int line = 0;       // in the values file
  std::string source; // "UNITS.csv:LINE"
  QString sn;         // empty when the values have no sn column
  std::string values; // the row's cells as profile lines
};

// What a unit may be given.
struct LedgerClaim {
  enum class Kind {
    Row,         // work on it; row and values are its own, committed to it
    AlreadyDone, // the ledger has an ok attempt for this serial number
    Refused,     // reason says why; nothing may be written to it
    Unreachable  // nothing decided: try again when the ledger is back
  } kind = Kind::Refused;
  qint64 row = 0;
  ProfileSource values;    // the row's cells, named by its source
  QStringList doneRecords; // AlreadyDone: record_sha256 of each ok attempt
  QString reason;
};

// The ledger's counts, for status and the station's start and summary.
struct LedgerCounts {
  qint64 rows = 0, rowsUsed = 0, unitsDone = 0;
  std::optional<bool> keyedBySn; // nullopt until the first load
  struct Bench {
    QString name;
    qint64 done = 0, failed = 0, stopped = 0, unfinished = 0; // unfinished: started, never ended
  };
  std::vector<Bench> benches;
};

class LedgerDb {
public:
  LedgerDb();
  ~LedgerDb();
  LedgerDb(const LedgerDb&) = delete;
  LedgerDb& operator=(const LedgerDb&) = delete;

  // Empty when conninfo may be used, else why not (never quoting it): it
  // does not parse, or it carries a password.
  static QString CheckConnInfo(const QString& conninfo);

  // Connects, dropping an earlier connection; a server that does not answer
  // fails after kLedgerConnectTimeout. Unreachable when no server answered,
  // Failed with libpq's words for a wrong password, a missing database and
  // the like. proven: conninfo has connected before (another connection
  // of this run), so any failure is Unreachable.
  LedgerStatus Connect(const QString& conninfo, bool proven = false);
  // Connects again with the last conninfo when the connection is gone.
  LedgerStatus Reconnect();
  bool connected() const;
  // "database D on HOST as USER", for the technician. Never fails.
  QString Describe() const;

  // Creates the tables when there are none; changes nothing when they are
  // this release's. created tells which.
  LedgerStatus Init(bool& created);
  // Failed unless the tables are there and of this release's version.
  LedgerStatus CheckSchema();

  // Adds every row in one transaction, or none: none when issues is not
  // empty, at the start (the file's own problems) or after (per row, the
  // file's FILE:LINE and why the ledger refuses it). keyedBySn: the file has
  // an sn column (the ledger takes one kind only).
  LedgerStatus Load(const std::string& file, bool keyedBySn, const std::vector<LedgerRow>& rows,
                    std::vector<ProfileIssue>& issues);

  // The unit's row, claimed for it and committed, in one transaction: by
  // serial number on a ledger keyed by it, else the row it was given before
  // or the next free one. The unit counts as busy (at every bench) until
  // Release or the connection ends.
  LedgerClaim Claim(const QString& sn, const QString& bench, const QString& port);
  // The unit's work has ended here. Never fails.
  void Release(const QString& sn);
  // One attempt, committed once however often it is tried (key: the same
  // for every try of the same attempt); line.time is set now when empty.
  LedgerStatus AddAttempt(const QString& bench, const QString& key, ReportLine& line);

  LedgerStatus Counts(LedgerCounts& counts);
  // Every row in order; line is the row's number in the ledger.
  LedgerStatus Rows(std::vector<LedgerRow>& rows);
  // Every attempt in order, as report lines; the port cell is BENCH:PORT.
  LedgerStatus Attempts(std::vector<ReportLine>& lines);

private:
  struct Result;
  Result Exec(const char* sql, const std::vector<QByteArray>& params = {});
  LedgerStatus StatusOf(const Result& r);
  void Rollback();

  pg_conn* conn_ = nullptr;
  QString conninfo_;
  bool everConnected_ = false;
};
