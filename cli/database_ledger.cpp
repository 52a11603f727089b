#include "cli/database_ledger.h"

#include <QElapsedTimer>
#include <QSysInfo>
#include <QUuid>
#include <algorithm>

QString DefaultBenchName() {
  const QString host = QSysInfo::machineHostName();
  return host.isEmpty() ? QStringLiteral("bench") : host;
}

bool DatabaseLedger::Open(const QString& conninfo, const QString& bench, QString& reason) {
  conninfo_ = conninfo;
  bench_ = bench.isEmpty() ? DefaultBenchName() : bench;
  if (reason = LedgerDb::CheckConnInfo(conninfo); !reason.isEmpty()) return false;
  LedgerStatus s = main_.Connect(conninfo);
  if (s.ok()) s = main_.CheckSchema();
  if (!s.ok()) {
    reason = s.reason;
    return false;
  }
  description_ = QStringLiteral("the ledger (%1, bench %2)").arg(main_.Describe(), bench_);
  return true;
}

bool DatabaseLedger::Rows(UnitsFile& units, QString& reason) {
  std::vector<LedgerRow> rows;
  LedgerCounts counts;
  const std::lock_guard lock(mutex_);
  LedgerStatus s = main_.Rows(rows);
  if (s.ok()) s = main_.Counts(counts);
  if (!s.ok()) {
    reason = s.reason;
    return false;
  }
  units.path = QStringLiteral("the ledger");
  units.keyedBySn = counts.keyedBySn.value_or(false);
  for (const LedgerRow& r : rows) units.rows.push_back({r.line, r.sn, {r.source, r.values, true}});
  return true;
}

DatabaseLedger::PortLink& DatabaseLedger::Link() {
  const std::lock_guard lock(mutex_);
  std::unique_ptr<PortLink>& link = links_[std::this_thread::get_id()];
  if (!link) {
    link = std::make_unique<PortLink>();
    link->db.Connect(conninfo_, true); // a failure here is retried with the first call
  }
  return *link;
}

void DatabaseLedger::SetKeepTrying(std::function<bool()> keepTrying) {
  Link().keepTrying = std::move(keepTrying);
}

StationLedger::Claim DatabaseLedger::ClaimFor(const QString& sn, const QString& port,
                                              const UnitsFile*) {
  PortLink& link = Link();
  bool waited = false;
  QElapsedTimer took;
  took.start();
  for (;;) {
    const LedgerClaim c = link.db.Claim(sn, bench_, port);
    if (c.kind != LedgerClaim::Kind::Unreachable) {
      const std::lock_guard lock(timesMutex_);
      claimMs_.push_back(double(took.nsecsElapsed()) / 1e6);
    }
    Claim out;
    switch (c.kind) {
    case LedgerClaim::Kind::Row:
      out.kind = Claim::Kind::Row;
      out.row = int(c.row);
      out.ownRow = UnitsRow{int(c.row), sn, c.values};
      return out;
    case LedgerClaim::Kind::AlreadyDone:
      out.kind = Claim::Kind::AlreadyDone;
      out.doneRecords = c.doneRecords;
      return out;
    case LedgerClaim::Kind::Refused:
      out.reason = c.reason;
      return out;
    case LedgerClaim::Kind::Unreachable:
      if (!waited) ++unitsWaited_;
      waited = true;
      if (!link.keepTrying || !link.keepTrying()) {
        out.kind = Claim::Kind::Unreachable;
        out.reason = c.reason;
        return out;
      }
    }
  }
}

void DatabaseLedger::Release(const QString& sn) { Link().db.Release(sn); }

bool DatabaseLedger::Append(ReportLine& line, QString& reason) {
  PortLink& link = Link();
  // One key for every try: an insert that committed just as the link broke
  // is not added twice.
  const QString key = QUuid::createUuid().toString(QUuid::WithoutBraces);
  bool waited = false;
  for (;;) {
    const LedgerStatus s = link.db.AddAttempt(bench_, key, line);
    if (s.ok()) return true;
    reason = s.reason;
    if (s.kind != LedgerStatus::Kind::Unreachable) return false;
    if (!waited) ++attemptsWaited_;
    waited = true;
    if (!link.keepTrying || !link.keepTrying()) return false;
  }
}

QString DatabaseLedger::waitedText() const {
  if (unitsWaited_ == 0 && attemptsWaited_ == 0) return {};
  return QStringLiteral("%1 unit(s) waited for the ledger before their claim, %2 attempt(s) "
                        "before being recorded")
      .arg(unitsWaited_.load())
      .arg(attemptsWaited_.load());
}

QString DatabaseLedger::where() const { return description_; }

LedgerCounts DatabaseLedger::Counts() const {
  const std::lock_guard lock(mutex_);
  LedgerCounts c;
  // A connection the server dropped (a restart) is made again, once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!main_.connected()) main_.Reconnect();
    if (main_.Counts(c).ok()) return c;
  }
  return {};
}

int DatabaseLedger::doneCount() const { return int(Counts().unitsDone); }

int DatabaseLedger::rowsUsedCount() const { return int(Counts().rowsUsed); }

DatabaseLedger::ClaimTimes DatabaseLedger::claimTimes() const {
  std::vector<double> ms;
  {
    const std::lock_guard lock(timesMutex_);
    ms = claimMs_;
  }
  ClaimTimes t;
  if (ms.empty()) return t;
  std::sort(ms.begin(), ms.end());
  t.count = int(ms.size());
  t.median = ms[ms.size() / 2];
  t.p95 = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
  return t;
}
