#include "cli/ledger_db.h"

#include <QDateTime>
#include <libpq-fe.h>

#include "cli/station_report.h"

namespace {

// Serialises `ledger init` across benches.
constexpr const char* kInitLockKey = "7531900";

// Version 1. A row's claim is set once: the trigger refuses to change it and
// the unique index refuses one serial number on two rows.
constexpr const char* kSchemaV1 = R"sql(
CREATE TABLE k7v_ledger (
  one boolean PRIMARY KEY DEFAULT true CHECK (one),
  schema_version integer NOT NULL,
  keyed_by_sn boolean,
  created timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE k7v_rows (
  id bigserial PRIMARY KEY,
  source text NOT NULL,
  sn text UNIQUE,
  profile text NOT NULL,
  claimed_sn text UNIQUE,
  claimed_bench text,
  claimed_port text,
  claimed_at timestamptz,
  loaded timestamptz NOT NULL DEFAULT now(),
  CHECK (sn IS NULL OR claimed_sn IS NULL OR claimed_sn = sn)
);
CREATE INDEX k7v_rows_free ON k7v_rows (id) WHERE claimed_sn IS NULL;
CREATE FUNCTION k7v_rows_keep_claim() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  IF OLD.claimed_sn IS NOT NULL AND NEW.claimed_sn IS DISTINCT FROM OLD.claimed_sn THEN
    RAISE EXCEPTION 'row % went to serial number % for good', OLD.id, OLD.claimed_sn;
  END IF;
  RETURN NEW;
END $$;
CREATE TRIGGER k7v_rows_keep_claim BEFORE UPDATE OR DELETE ON k7v_rows
  FOR EACH ROW WHEN (OLD.claimed_sn IS NOT NULL) EXECUTE FUNCTION k7v_rows_keep_claim();
CREATE TABLE k7v_attempts (
  id bigserial PRIMARY KEY,
  attempt_key text NOT NULL UNIQUE,
  time timestamptz NOT NULL,
  bench text NOT NULL,
  port text NOT NULL,
  sn text NOT NULL,
  version_before text NOT NULL,
  version_after text NOT NULL,
  image_checksum text NOT NULL,
  record_sha256 text NOT NULL,
  row_id bigint REFERENCES k7v_rows (id),
  result text NOT NULL CHECK (result IN ('started', 'ok', 'failed', 'stopped')),
  reason text NOT NULL,
  retries integer NOT NULL,
  seconds double precision NOT NULL
);
CREATE INDEX k7v_attempts_sn ON k7v_attempts (sn);
INSERT INTO k7v_ledger (schema_version) VALUES (1);
)sql";

// The server's own words, on one line.
QString OneLine(const char* text) {
  QString s = QString::fromUtf8(text ? text : "").trimmed();
  s.replace(QLatin1String("\n"), QLatin1String("; "));
  return s.simplified();
}

// True for a connection failure the server may get over by itself: none
// answering, starting up, shutting down, the network gone.
bool MayComeBack(const QString& message) {
  static const char* const kSigns[] = {"Connection refused",
                                       "No such file or directory",
                                       "timeout expired",
                                       "starting up",
                                       "not yet accepting connections",
                                       "shutting down",
                                       "in recovery mode",
                                       "Network is unreachable",
                                       "No route to host",
                                       "server closed the connection",
                                       "could not translate host name",
                                       "Connection reset",
                                       "too many clients"};
  for (const char* s : kSigns)
    if (message.contains(QLatin1String(s), Qt::CaseInsensitive)) return true;
  return false;
}

QByteArray Utf8(const QString& s) { return s.toUtf8(); }

} // namespace

struct LedgerDb::Result {
  std::unique_ptr<PGresult, void (*)(PGresult*)> res{nullptr, PQclear};
  bool ok() const {
    const ExecStatusType s = res ? PQresultStatus(res.get()) : PGRES_FATAL_ERROR;
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK;
  }
  int rows() const { return res ? PQntuples(res.get()) : 0; }
  QString text(int row, int col) const {
    return QString::fromUtf8(PQgetvalue(res.get(), row, col));
  }
  bool null(int row, int col) const { return PQgetisnull(res.get(), row, col) != 0; }
  qint64 number(int row, int col) const { return text(row, col).toLongLong(); }
  QString sqlState() const {
    const char* s = res ? PQresultErrorField(res.get(), PG_DIAG_SQLSTATE) : nullptr;
    return QString::fromLatin1(s ? s : "");
  }
};

LedgerDb::LedgerDb() = default;

LedgerDb::~LedgerDb() {
  if (conn_) PQfinish(conn_);
}

QString LedgerDb::CheckConnInfo(const QString& conninfo) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.toUtf8().constData(), &error);
  if (!options) {
    // libpq's message may quote a piece of the text, which may be a password.
    PQfreemem(error);
    return QStringLiteral("--ledger: not a libpq connection string or URI "
                          "(host=… dbname=… user=…, or postgresql://user@host/dbname)");
  }
  bool password = false;
  for (PQconninfoOption* o = options; o->keyword; ++o)
    if (QByteArray(o->keyword) == "password" && o->val && *o->val) password = true;
  PQconninfoFree(options);
  if (password)
    return QStringLiteral("--ledger: holds a password, which anyone may read in the process "
                          "list: give it in PGPASSWORD, ~/.pgpass or a service file instead");
  return {};
}

LedgerStatus LedgerDb::Connect(const QString& conninfo, bool proven) {
  conninfo_ = conninfo;
  everConnected_ = proven;
  return Reconnect();
}

LedgerStatus LedgerDb::Reconnect() {
  if (conn_) PQfinish(conn_);
  const QByteArray timeout = QByteArray::number(qint64(kLedgerConnectTimeout.count()));
  const QByteArray userTimeout = QByteArray::number(qint64(kLedgerConnectTimeout.count()) * 1000);
  const QByteArray info = conninfo_.toUtf8();
  // Ours first: what CONNINFO and the PG* variables say comes after and wins.
  const char* keys[] = {
      "connect_timeout",  "application_name", "keepalives_idle", "keepalives_interval",
      "keepalives_count", "tcp_user_timeout", "dbname",          nullptr};
  const char* values[] = {timeout.constData(),     "k7vconf-cli",    "5",    "2", "3",
                          userTimeout.constData(), info.constData(), nullptr};
  if (qEnvironmentVariableIsSet("PGCONNECT_TIMEOUT")) values[0] = "";
  conn_ = PQconnectdbParams(keys, values, 1);
  if (conn_ && PQstatus(conn_) == CONNECTION_OK) {
    // The server's notices (a shutdown's warning) are not the technician's.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    everConnected_ = true;
    return {};
  }
  const QString why = conn_ ? OneLine(PQerrorMessage(conn_)) : QStringLiteral("out of memory");
  if (conn_) PQfinish(conn_);
  conn_ = nullptr;
  // Once in, the credentials and the database were right: what fails now is
  // the server or the way to it.
  return {everConnected_ || MayComeBack(why) ? LedgerStatus::Kind::Unreachable
                                             : LedgerStatus::Kind::Failed,
          QStringLiteral("the ledger: ") + why};
}

bool LedgerDb::connected() const { return conn_ && PQstatus(conn_) == CONNECTION_OK; }

QString LedgerDb::Describe() const {
  if (!conn_) return QStringLiteral("the ledger (not connected)");
  const QString host = QString::fromUtf8(PQhost(conn_));
  return QStringLiteral("database %1 on %2 as %3")
      .arg(QString::fromUtf8(PQdb(conn_)),
           host.startsWith(u'/') ? QStringLiteral("the socket in ") + host : host,
           QString::fromUtf8(PQuser(conn_)));
}

LedgerDb::Result LedgerDb::Exec(const char* sql, const std::vector<QByteArray>& params) {
  Result r;
  if (!conn_) return r;
  if (params.empty()) {
    r.res.reset(PQexec(conn_, sql));
  } else {
    std::vector<const char*> values;
    for (const QByteArray& p : params) values.push_back(p.constData()); // never SQL's NULL
    r.res.reset(
        PQexecParams(conn_, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0));
  }
  return r;
}

LedgerStatus LedgerDb::StatusOf(const Result& r) {
  if (r.ok()) return {};
  const QString state = r.sqlState();
  const char* message = r.res ? PQresultErrorField(r.res.get(), PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  // No SQLSTATE: libpq's own failure, the connection's.
  if (!conn_ || PQstatus(conn_) != CONNECTION_OK || state.isEmpty() ||
      state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P")) ||
      MayComeBack(OneLine(message ? message : PQerrorMessage(conn_)))) {
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
    return {LedgerStatus::Kind::Unreachable, QStringLiteral("the ledger cannot be reached")};
  }
  return {LedgerStatus::Kind::Failed,
          QStringLiteral("the ledger: ") + OneLine(message ? message : PQerrorMessage(conn_))};
}

void LedgerDb::Rollback() {
  if (connected() && PQtransactionStatus(conn_) != PQTRANS_IDLE) Exec("ROLLBACK");
}

LedgerStatus LedgerDb::CheckSchema() {
  const Result r = Exec("SELECT to_regclass('k7v_ledger') IS NOT NULL");
  if (!r.ok()) return StatusOf(r);
  if (r.text(0, 0) != QLatin1String("t"))
    return {
        LedgerStatus::Kind::Failed,
        QStringLiteral("%1 holds no ledger: run k7vconf-cli ledger init first").arg(Describe())};
  const Result v = Exec("SELECT schema_version FROM k7v_ledger");
  if (!v.ok()) return StatusOf(v);
  const int version = v.rows() == 1 ? v.text(0, 0).toInt() : 0;
  if (version != kLedgerSchemaVersion)
    return {LedgerStatus::Kind::Failed,
            QStringLiteral("%1 holds a ledger of version %2; this program reads version %3")
                .arg(Describe())
                .arg(version)
                .arg(kLedgerSchemaVersion)};
  return {};
}

LedgerStatus LedgerDb::Init(bool& created) {
  created = false;
  Result r = Exec("BEGIN");
  if (!r.ok()) return StatusOf(r);
  r = Exec("SELECT pg_advisory_xact_lock($1::bigint)", {kInitLockKey});
  LedgerStatus s = StatusOf(r);
  if (s.ok()) {
    r = Exec("SELECT to_regclass('k7v_ledger') IS NOT NULL");
    s = StatusOf(r);
  }
  if (s.ok() && r.text(0, 0) == QLatin1String("t")) {
    Rollback();
    return CheckSchema();
  }
  if (s.ok()) s = StatusOf(Exec(kSchemaV1));
  if (s.ok()) s = StatusOf(Exec("COMMIT"));
  if (!s.ok()) {
    Rollback();
    return s;
  }
  created = true;
  return {};
}

LedgerStatus LedgerDb::Load(const std::string& file, bool keyedBySn,
                            const std::vector<LedgerRow>& rows, std::vector<ProfileIssue>& issues) {
  const std::size_t before = issues.size();
  LedgerStatus s = StatusOf(Exec("BEGIN"));
  // One load at a time: the kind of rows is decided by the first.
  Result kind = Exec("SELECT keyed_by_sn FROM k7v_ledger FOR UPDATE");
  if (s.ok()) s = StatusOf(kind);
  if (s.ok() && kind.rows() == 1 && !kind.null(0, 0) &&
      (kind.text(0, 0) == QLatin1String("t")) != keyedBySn)
    issues.push_back({file,
                      1,
                      {},
                      {},
                      keyedBySn ? "the ledger's rows go in order, to any unit: a file without an "
                                  "sn column"
                                : "the ledger's rows go by serial number: a file with an sn "
                                  "column"});
  const bool kindFits = issues.size() == before;
  for (std::size_t k = 0; s.ok() && kindFits && k < rows.size(); ++k) {
    const LedgerRow& row = rows[k];
    const Result added =
        Exec("INSERT INTO k7v_rows (source, sn, profile) VALUES ($1, NULLIF($2, ''), $3) "
             "ON CONFLICT (sn) DO NOTHING RETURNING id",
             {QByteArray::fromStdString(row.source), Utf8(row.sn),
              QByteArray::fromStdString(row.values)});
    s = StatusOf(added);
    if (s.ok() && added.rows() == 0) {
      const Result other = Exec("SELECT source FROM k7v_rows WHERE sn = $1", {Utf8(row.sn)});
      s = StatusOf(other);
      if (s.ok())
        issues.push_back({file, row.line, "sn", row.sn.toStdString(),
                          "already in the ledger, loaded from " +
                              (other.rows() ? other.text(0, 0).toStdString() : std::string("?"))});
    }
  }
  if (s.ok() && issues.empty())
    s = StatusOf(Exec("UPDATE k7v_ledger SET keyed_by_sn = $1", {keyedBySn ? "t" : "f"}));
  if (s.ok() && issues.empty()) s = StatusOf(Exec("COMMIT"));
  if (!s.ok() || !issues.empty()) Rollback();
  return s;
}

LedgerClaim LedgerDb::Claim(const QString& sn, const QString& bench, const QString& port) {
  LedgerClaim c;
  auto fail = [&](const LedgerStatus& s) {
    Rollback();
    Release(sn); // a connection that is gone took the lock with it
    c.kind = s.kind == LedgerStatus::Kind::Unreachable ? LedgerClaim::Kind::Unreachable
                                                       : LedgerClaim::Kind::Refused;
    c.reason = s.reason;
    return c;
  };
  if (!connected())
    if (const LedgerStatus s = Reconnect(); !s.ok()) return fail(s);
  const QByteArray snBytes = Utf8(sn);
  // Two units with one serial number at once, at any bench: the second waits
  // its turn as a refusal. The lock ends with the connection.
  const Result busy = Exec("SELECT pg_try_advisory_lock(hashtextextended($1, 0))", {snBytes});
  if (!busy.ok()) return fail(StatusOf(busy));
  if (busy.text(0, 0) != QLatin1String("t")) {
    c.reason = QStringLiteral("sn %1 is being provisioned at another port at the same time: two "
                              "units with one serial number")
                   .arg(sn);
    return c;
  }
  auto refuse = [&](const QString& reason) {
    Rollback();
    Release(sn);
    c.kind = LedgerClaim::Kind::Refused;
    c.reason = reason;
    return c;
  };
  // Done before? Asked once the lock is held, so an ok recorded just before
  // the other holder let go is seen.
  const Result done =
      Exec("SELECT (SELECT keyed_by_sn FROM k7v_ledger), (SELECT string_agg(record_sha256, ' ' "
           "ORDER BY id) FROM k7v_attempts WHERE sn = $1 AND result = 'ok')",
           {snBytes});
  if (!done.ok()) return fail(StatusOf(done));
  if (!done.null(0, 1)) {
    Release(sn);
    c.kind = LedgerClaim::Kind::AlreadyDone;
    c.doneRecords = done.text(0, 1).split(u' ');
    return c;
  }
  const bool keyed = done.text(0, 0) == QLatin1String("t");
  const QByteArray benchBytes = Utf8(bench), portBytes = Utf8(port);
  auto take = [&](const Result& row) {
    c.kind = LedgerClaim::Kind::Row;
    c.row = row.number(0, 0);
    c.values = {row.text(0, 1).toStdString(), row.text(0, 2).toStdString(), true};
    return c;
  };
  // Each claim is one statement, so one transaction: committed when it returns.
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (keyed) {
      const Result claimed =
          Exec("UPDATE k7v_rows SET claimed_sn = $1, claimed_bench = $2, claimed_port = $3, "
               "claimed_at = now() WHERE sn = $1 AND claimed_sn IS NULL RETURNING id, source, "
               "profile",
               {snBytes, benchBytes, portBytes});
      if (!claimed.ok()) return fail(StatusOf(claimed));
      if (claimed.rows() == 1) return take(claimed);
      // Its own row from before, or none.
      const Result own = Exec("SELECT id, source, profile FROM k7v_rows WHERE sn = $1", {snBytes});
      if (!own.ok()) return fail(StatusOf(own));
      if (own.rows() == 1) return take(own);
      return refuse(QStringLiteral("sn %1 is not in the ledger").arg(sn));
    }
    // The row this unit was given before, at any bench, else the first free one.
    const Result own =
        Exec("SELECT id, source, profile FROM k7v_rows WHERE claimed_sn = $1", {snBytes});
    if (!own.ok()) return fail(StatusOf(own));
    if (own.rows() == 1) return take(own);
    const Result claimed = Exec(
        "UPDATE k7v_rows SET claimed_sn = $1, claimed_bench = $2, claimed_port = $3, claimed_at "
        "= now() WHERE id = (SELECT id FROM k7v_rows WHERE claimed_sn IS NULL ORDER BY id LIMIT "
        "1 FOR UPDATE SKIP LOCKED) RETURNING id, source, profile",
        {snBytes, benchBytes, portBytes});
    if (claimed.ok() && claimed.rows() == 1) return take(claimed);
    if (!claimed.ok()) {
      const LedgerStatus s = StatusOf(claimed);
      if (s.kind == LedgerStatus::Kind::Failed && claimed.sqlState() == QLatin1String("23505"))
        continue; // the same unit claimed a row elsewhere just now: that one is its own
      return fail(s);
    }
    // None free, or every free one being claimed by another port this instant.
    const Result free = Exec("SELECT count(*) FILTER (WHERE claimed_sn IS NULL), count(*) FROM "
                             "k7v_rows");
    if (!free.ok()) return fail(StatusOf(free));
    if (free.number(0, 0) == 0)
      return refuse(
          QStringLiteral("no row left in the ledger (all %1 given to units)").arg(free.text(0, 1)));
  }
  return refuse(QStringLiteral("sn %1: the ledger kept refusing its claim").arg(sn));
}

void LedgerDb::Release(const QString& sn) {
  if (connected()) Exec("SELECT pg_advisory_unlock(hashtextextended($1, 0))", {Utf8(sn)});
}

LedgerStatus LedgerDb::AddAttempt(const QString& bench, const QString& key, ReportLine& line) {
  if (line.time.isEmpty()) line.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
  if (!connected())
    if (const LedgerStatus s = Reconnect(); !s.ok()) return s;
  return StatusOf(Exec(
      "INSERT INTO k7v_attempts (attempt_key, time, bench, port, sn, version_before, "
      "version_after, image_checksum, record_sha256, row_id, result, reason, retries, seconds) "
      "VALUES ($1, $2::timestamptz, $3, $4, $5, $6, $7, $8, $9, NULLIF($10, '')::bigint, $11, $12, "
      "$13::integer, $14::double precision) ON CONFLICT (attempt_key) DO NOTHING",
      {Utf8(key), Utf8(line.time), Utf8(bench), Utf8(line.port), Utf8(line.sn),
       Utf8(line.versionBefore), Utf8(line.versionAfter), Utf8(line.imageChecksum),
       Utf8(line.recordSha256), line.row > 0 ? QByteArray::number(line.row) : QByteArray(""),
       Utf8(line.result), Utf8(line.reason), QByteArray::number(line.retries),
       QByteArray::number(line.seconds, 'f', 1)}));
}

LedgerStatus LedgerDb::Counts(LedgerCounts& counts) {
  counts = {};
  const Result rows = Exec("SELECT count(*), count(claimed_sn), (SELECT keyed_by_sn FROM "
                           "k7v_ledger), (SELECT count(DISTINCT sn) FROM k7v_attempts WHERE "
                           "result = 'ok') FROM k7v_rows");
  if (!rows.ok()) return StatusOf(rows);
  counts.rows = rows.number(0, 0);
  counts.rowsUsed = rows.number(0, 1);
  if (!rows.null(0, 2)) counts.keyedBySn = rows.text(0, 2) == QLatin1String("t");
  counts.unitsDone = rows.number(0, 3);
  const Result benches = Exec(
      "SELECT bench, count(*) FILTER (WHERE result = 'ok'), count(*) FILTER (WHERE result = "
      "'failed'), count(*) FILTER (WHERE result = 'stopped'), count(*) FILTER (WHERE result = "
      "'started' AND NOT EXISTS (SELECT 1 FROM k7v_attempts b WHERE b.sn = a.sn AND b.id > a.id "
      "AND b.result <> 'started')) FROM k7v_attempts a GROUP BY bench ORDER BY bench");
  if (!benches.ok()) return StatusOf(benches);
  for (int i = 0; i < benches.rows(); ++i)
    counts.benches.push_back({benches.text(i, 0), benches.number(i, 1), benches.number(i, 2),
                              benches.number(i, 3), benches.number(i, 4)});
  return {};
}

LedgerStatus LedgerDb::Rows(std::vector<LedgerRow>& rows) {
  const Result r = Exec("SELECT id, source, COALESCE(sn, ''), profile FROM k7v_rows ORDER BY id");
  if (!r.ok()) return StatusOf(r);
  for (int i = 0; i < r.rows(); ++i)
    rows.push_back({int(r.number(i, 0)), r.text(i, 1).toStdString(), r.text(i, 2),
                    r.text(i, 3).toStdString()});
  return {};
}

LedgerStatus LedgerDb::Attempts(std::vector<ReportLine>& lines) {
  const Result r = Exec(
      "SELECT to_char(time AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), bench, port, "
      "sn, version_before, version_after, image_checksum, record_sha256, COALESCE(row_id, 0), "
      "result, reason, retries, seconds FROM k7v_attempts ORDER BY id");
  if (!r.ok()) return StatusOf(r);
  for (int i = 0; i < r.rows(); ++i) {
    ReportLine l;
    l.time = r.text(i, 0);
    l.port = r.text(i, 1) + u':' + r.text(i, 2);
    l.sn = r.text(i, 3);
    l.versionBefore = r.text(i, 4);
    l.versionAfter = r.text(i, 5);
    l.imageChecksum = r.text(i, 6);
    l.recordSha256 = r.text(i, 7);
    l.row = int(r.number(i, 8));
    l.result = r.text(i, 9);
    l.reason = r.text(i, 10);
    l.retries = r.text(i, 11).toInt();
    l.seconds = r.text(i, 12).toDouble();
    lines.push_back(std::move(l));
  }
  return {};
}
