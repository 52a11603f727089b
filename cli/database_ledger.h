#pragma once
// The station's rows and report in the shared ledger (--ledger): what each
// port claims and records goes to one PostgreSQL database that every bench
// uses. Each port's thread has its own connection, so the ports claim side
// by side; while the database cannot be reached, a port that needs it waits
// and tries again, and a unit is touched only once its claim is committed.

#include <QHash>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "cli/ledger_db.h"
#include "cli/station_ledger.h"

class DatabaseLedger : public StationLedger {
public:
  // Connects once and checks the tables; false with the reason (a wrong
  // password, a missing database or ledger) after at most the connect
  // timeout. bench empty: the host name.
  bool Open(const QString& conninfo, const QString& bench, QString& reason);
  // The ledger's rows as a values file, for the station's checks at start.
  bool Rows(UnitsFile& units, QString& reason);

  Claim ClaimFor(const QString& sn, const QString& port, const UnitsFile* units) override;
  void Release(const QString& sn) override;
  bool Append(ReportLine& line, QString& reason) override;
  void SetKeepTrying(std::function<bool()> keepTrying) override;
  QString waitedText() const override;

  QString where() const override;
  int doneCount() const override;
  int rowsUsedCount() const override;
  QString bench() const { return bench_; }
  // How long claims took, in milliseconds: how many, the median and the 95th
  // percentile (zeros before the first).
  struct ClaimTimes {
    int count = 0;
    double median = 0, p95 = 0;
  };
  ClaimTimes claimTimes() const;

private:
  struct PortLink {
    LedgerDb db;
    std::function<bool()> keepTrying;
  };
  PortLink& Link(); // the calling thread's
  LedgerCounts Counts() const;

  QString conninfo_, bench_, description_;
  mutable std::mutex mutex_; // guards links_ and main_
  std::unordered_map<std::thread::id, std::unique_ptr<PortLink>> links_;
  mutable LedgerDb main_;
  std::atomic<int> unitsWaited_{0}, attemptsWaited_{0};
  mutable std::mutex timesMutex_;
  std::vector<double> claimMs_;
};

// The name a bench goes by without --bench: the host's. Never fails.
QString DefaultBenchName();
