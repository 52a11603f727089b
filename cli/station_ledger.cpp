#include "cli/station_ledger.h"

#include <QSysInfo>
#include <QUuid>

#include "cli/station_report.h"

QString DefaultBenchName() {
  const QString host = QSysInfo::machineHostName();
  return host.isEmpty() ? QStringLiteral("bench") : host;
}

bool StationLedger::Open(const QString& conninfo, const QString& bench, int ports,
                         QString& reason) {
  conninfo_ = conninfo;
  bench_ = bench.isEmpty() ? DefaultBenchName() : bench;
  if (reason = LedgerDb::CheckConnInfo(conninfo); !reason.isEmpty()) return false;
  LedgerStatus s = main_.Connect(conninfo);
  if (s.ok()) s = main_.CheckSchema();
  if (!s.ok()) {
    reason = s.reason;
    return false;
  }
  description_ = main_.Describe();
  for (int i = 0; i < ports; ++i) ports_.push_back(std::make_unique<LedgerDb>());
  return true;
}

LedgerDb& StationLedger::Port(int port) {
  LedgerDb& db = *ports_[std::size_t(port)];
  if (!db.connected() && !conninfo_.isNull()) db.Connect(conninfo_);
  return db;
}

LedgerClaim StationLedger::Claim(int port, const QString& sn, const QString& portName,
                                 const KeepTrying& keepTrying) {
  for (;;) {
    LedgerClaim c = Port(port).Claim(sn, bench_, portName);
    if (c.kind != LedgerClaim::Kind::Unreachable || !keepTrying()) return c;
  }
}

void StationLedger::Release(int port, const QString& sn) { Port(port).Release(sn); }

bool StationLedger::Append(int port, ReportLine& line, const KeepTrying& keepTrying,
                           QString& reason) {
  // One key for every try: an insert that committed as the link broke is not
  // added twice.
  const QString key = QUuid::createUuid().toString(QUuid::WithoutBraces);
  for (;;) {
    const LedgerStatus s = Port(port).AddAttempt(bench_, key, line);
    if (s.ok()) return true;
    reason = s.reason;
    if (s.kind != LedgerStatus::Kind::Unreachable || !keepTrying()) return false;
  }
}

LedgerCounts StationLedger::Counts() {
  const std::lock_guard lock(mainMutex_);
  LedgerCounts c;
  if (!main_.connected()) main_.Reconnect();
  if (!main_.Counts(c).ok()) c = {};
  return c;
}
