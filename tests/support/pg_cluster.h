#pragma once
// A throwaway PostgreSQL cluster for tests and benchmarks: initdb into a
// temporary folder, the server listening only on a Unix socket inside it,
// stopped and removed with the object. Run as root (as CI does), initdb and
// the server run as the postgres user Debian's package creates, since they
// refuse root. Password authentication, so a wrong one can be tried.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class PgCluster {
public:
  static constexpr const char* kUser = "k7v";
  static constexpr const char* kPassword = "bench-secret-7";

  PgCluster();
  ~PgCluster(); // stops the server at once
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  // initdb and start; false with errorString() when PostgreSQL is missing or
  // does not start. durable: every commit flushed to the disk, as a real
  // server does (benchmarks); else not, for quick tests.
  bool start(bool durable = false);
  // The server's own stop and start, as a restart mid-run would be.
  bool stop();
  bool restart();
  // A new empty database; false with errorString().
  bool createDatabase(const QString& name);

  // psql's unaligned answer to sql in database, one row a line ("|"
  // between cells); empty with errorString() on failure.
  QString query(const QString& database, const QString& sql);

  // "host=SOCKETDIR port=N user=k7v dbname=NAME": no password in it.
  QString conninfo(const QString& database) const;
  // The environment a client needs: PGPASSWORD set (to password when given).
  QProcessEnvironment clientEnvironment(const QString& password = kPassword) const;
  QString errorString() const { return error_; }

private:
  bool Run(const QString& program, const QStringList& args, bool asServerUser, int ms = 60000);

  std::unique_ptr<QTemporaryDir> tmp_;
  QString bin_;
  bool running_ = false;
  bool durable_ = false;
  QString error_;
};
