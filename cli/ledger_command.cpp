#include "cli/ledger_command.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

#include "cli/cli_output.h"
#include "cli/ledger_db.h"
#include "cli/station_report.h"
#include "cli/units_file.h"
#include "params/record_file.h"

namespace {

constexpr int kMaxIssueLines = 50; // problems listed before "… and N more"

QString Word(const CliOptions& o) { return CommandWord(o.command) + u' ' + o.args.value(0); }

// The problem on stderr, and as a JSON line with --json; the exit status.
int Fail(const CliOptions& o, const QString& reason, int status = cli_exit::kFailed) {
  PrintError(reason);
  if (o.json) PrintJson(JsonLine(QString(), Word(o), QStringLiteral("failed"), reason));
  return status;
}

int Done(const CliOptions& o, const QString& line, QJsonObject json = {}) {
  if (!o.json) {
    PrintOut(line);
    return cli_exit::kOk;
  }
  QJsonObject out = JsonLine(QString(), Word(o), QStringLiteral("ok"));
  for (auto it = json.begin(); it != json.end(); ++it) out[it.key()] = it.value();
  PrintJson(out);
  return cli_exit::kOk;
}

int Load(const CliOptions& o, LedgerDb& db) {
  std::vector<ProfileIssue> issues;
  const QString path = o.args.value(1);
  std::optional<UnitsFile> units = LoadUnitsFile(path, issues);
  if (units) CheckUnitsRows(*units, {}, issues);
  // The ledger's own refusals come with the file's, all in one go.
  std::vector<LedgerRow> rows;
  if (units)
    for (const UnitsRow& r : units->rows)
      rows.push_back({r.line, r.values.name, r.sn, r.values.text});
  if (units)
    if (const LedgerStatus s = db.Load(path.toStdString(), units->keyedBySn, rows, issues); !s.ok())
      return Fail(o, s.reason);
  if (!issues.empty()) {
    int shown = 0;
    for (const ProfileIssue& i : issues)
      if (shown++ < kMaxIssueLines) PrintError(QString::fromStdString(FormatIssue(i)));
    if (issues.size() > std::size_t(kMaxIssueLines))
      PrintError(QStringLiteral("… and %1 more").arg(issues.size() - kMaxIssueLines));
    return Fail(o, QStringLiteral("%1: nothing loaded").arg(path), cli_exit::kUsage);
  }
  LedgerCounts counts;
  if (const LedgerStatus s = db.Counts(counts); !s.ok()) return Fail(o, s.reason);
  QJsonObject json{{"file", path},
                   {"loaded", qint64(rows.size())},
                   {"rows", counts.rows},
                   {"rows_free", counts.rows - counts.rowsUsed}};
  return Done(
      o,
      QStringLiteral("%1: %2 row(s) loaded %3; the ledger holds %4 row(s), %5 free")
          .arg(path)
          .arg(rows.size())
          .arg(units->keyedBySn ? QStringLiteral("by serial number") : QStringLiteral("in order"))
          .arg(counts.rows)
          .arg(counts.rows - counts.rowsUsed),
      json);
}

int Status(const CliOptions& o, LedgerDb& db) {
  LedgerCounts c;
  if (const LedgerStatus s = db.Counts(c); !s.ok()) return Fail(o, s.reason);
  const QString kind = !c.keyedBySn   ? QStringLiteral("no rows loaded yet")
                       : *c.keyedBySn ? QStringLiteral("rows by serial number")
                                      : QStringLiteral("rows in order");
  if (o.json) {
    QJsonArray benches;
    for (const LedgerCounts::Bench& b : c.benches)
      benches.append(QJsonObject{{"bench", b.name},
                                 {"done", b.done},
                                 {"failed", b.failed},
                                 {"stopped", b.stopped},
                                 {"unfinished", b.unfinished}});
    return Done(o, {},
                {{"ledger", db.Describe()},
                 {"keyed_by_sn", c.keyedBySn ? QJsonValue(*c.keyedBySn) : QJsonValue()},
                 {"rows", c.rows},
                 {"rows_used", c.rowsUsed},
                 {"rows_free", c.rows - c.rowsUsed},
                 {"units_done", c.unitsDone},
                 {"benches", benches}});
  }
  PrintOut(QStringLiteral("ledger: %1, %2").arg(db.Describe(), kind));
  PrintOut(QStringLiteral("rows: %1 in all, %2 used, %3 free")
               .arg(c.rows)
               .arg(c.rowsUsed)
               .arg(c.rows - c.rowsUsed));
  PrintOut(QStringLiteral("units done: %1").arg(c.unitsDone));
  int width = 5;
  for (const LedgerCounts::Bench& b : c.benches) width = std::max(width, int(b.name.size()));
  PrintOut(QStringLiteral("%1 %2 %3 %4 %5")
               .arg(QStringLiteral("bench").leftJustified(width))
               .arg(QStringLiteral("done"), 8)
               .arg(QStringLiteral("failed"), 8)
               .arg(QStringLiteral("stopped"), 8)
               .arg(QStringLiteral("unfinished"), 11));
  for (const LedgerCounts::Bench& b : c.benches)
    PrintOut(QStringLiteral("%1 %2 %3 %4 %5")
                 .arg(b.name.leftJustified(width))
                 .arg(b.done, 8)
                 .arg(b.failed, 8)
                 .arg(b.stopped, 8)
                 .arg(b.unfinished, 11));
  return cli_exit::kOk;
}

int Export(const CliOptions& o, LedgerDb& db) {
  std::vector<ReportLine> lines;
  if (const LedgerStatus s = db.Attempts(lines); !s.ok()) return Fail(o, s.reason);
  const QString path = o.args.value(1);
  if (QString reason; !WriteWholeFile(path, ReportFileText(lines), reason))
    return Fail(o, QStringLiteral("%1: %2").arg(path, reason));
  return Done(o, QStringLiteral("%1: %2 attempt(s) written").arg(path).arg(lines.size()),
              {{"file", path}, {"lines", qint64(lines.size())}});
}

} // namespace

int RunLedgerCommand(const CliOptions& o) {
  const QString conninfo = o.ledger.value_or(QString());
  if (const QString why = LedgerDb::CheckConnInfo(conninfo); !why.isEmpty())
    return Fail(o, why, cli_exit::kUsage);
  LedgerDb db;
  if (const LedgerStatus s = db.Connect(conninfo); !s.ok()) return Fail(o, s.reason);
  const QString what = o.args.value(0);
  if (what == QLatin1String("init")) {
    bool created = false;
    if (const LedgerStatus s = db.Init(created); !s.ok()) return Fail(o, s.reason);
    return Done(o,
                created ? QStringLiteral("ledger: tables of version %1 created in %2")
                              .arg(kLedgerSchemaVersion)
                              .arg(db.Describe())
                        : QStringLiteral("ledger: %1 holds version %2 already; nothing changed")
                              .arg(db.Describe())
                              .arg(kLedgerSchemaVersion),
                {{"created", created}, {"schema_version", kLedgerSchemaVersion}});
  }
  if (const LedgerStatus s = db.CheckSchema(); !s.ok()) return Fail(o, s.reason);
  if (what == QLatin1String("load")) return Load(o, db);
  if (what == QLatin1String("status")) return Status(o, db);
  return Export(o, db);
}
