#pragma once
// The station's side of the shared ledger: one connection per port, so the
// ports claim rows and add attempts side by side, and the waits while the
// ledger cannot be reached. Each port calls only with its own index.

#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "cli/ledger_db.h"

class StationLedger {
public:
  // Asked while the ledger cannot be reached, before each new try: false
  // ends the tries (a stop request).
  using KeepTrying = std::function<bool()>;

  // Connects once for the whole station and checks the tables; false with
  // the reason (a wrong password, a missing database or ledger) and no hang.
  bool Open(const QString& conninfo, const QString& bench, int ports, QString& reason);

  // The unit's row, tried again while the ledger cannot be reached and
  // keepTrying agrees; Unreachable only when it did not.
  LedgerClaim Claim(int port, const QString& sn, const QString& portName,
                    const KeepTrying& keepTrying);
  void Release(int port, const QString& sn);
  // The attempt, committed once however many tries it takes; false when
  // keepTrying gave up (or the ledger refused: reason says why).
  bool Append(int port, ReportLine& line, const KeepTrying& keepTrying, QString& reason);

  // At start and in the summary. Zeros when the ledger cannot be reached.
  LedgerCounts Counts();
  QString bench() const { return bench_; }
  QString description() const { return description_; }

private:
  LedgerDb& Port(int port);

  QString conninfo_, bench_, description_;
  std::vector<std::unique_ptr<LedgerDb>> ports_;
  std::mutex mainMutex_;
  LedgerDb main_;
};

// The name a bench goes by when --bench is not given: the host's. Never fails.
QString DefaultBenchName();
