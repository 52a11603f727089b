#include "support/pg_cluster.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <pwd.h>
#include <unistd.h>

namespace {

constexpr int kPort = 5432; // the socket's name only: no TCP port is opened

// The newest Debian PostgreSQL's programs, else whatever pg_ctl PATH finds.
QString FindBinDir() {
  const QDir versions(QStringLiteral("/usr/lib/postgresql"));
  QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  std::sort(found.begin(), found.end(),
            [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
  for (const QString& v : found)
    if (QFile::exists(versions.filePath(v + QStringLiteral("/bin/initdb"))))
      return versions.filePath(v + QStringLiteral("/bin"));
  for (const QString& dir : qEnvironmentVariable("PATH").split(u':'))
    if (!dir.isEmpty() && QFile::exists(dir + QStringLiteral("/initdb"))) return dir;
  return {};
}

} // namespace

PgCluster::PgCluster() = default;

PgCluster::~PgCluster() {
  if (running_)
    Run(bin_ + QStringLiteral("/pg_ctl"),
        {QStringLiteral("-D"), tmp_->filePath(QStringLiteral("data")), QStringLiteral("-m"),
         QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")},
        true);
}

bool PgCluster::Run(const QString& program, const QStringList& args, bool asServerUser, int ms) {
  QProcess p;
  p.setWorkingDirectory(tmp_->path());
  p.setProcessChannelMode(QProcess::MergedChannels);
  if (asServerUser && ::geteuid() == 0)
    p.start(QStringLiteral("runuser"), QStringList{"-u", "postgres", "--", program} + args);
  else
    p.start(program, args);
  if (!p.waitForFinished(ms) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    error_ = QStringLiteral("%1 %2: %3%4")
                 .arg(program, args.join(u' '), p.errorString(), QString::fromUtf8(p.readAll()));
    if (p.state() != QProcess::NotRunning) p.kill(), p.waitForFinished(5000);
    return false;
  }
  return true;
}

bool PgCluster::start(bool durable) {
  durable_ = durable;
  bin_ = FindBinDir();
  if (bin_.isEmpty()) {
    error_ = QStringLiteral("PostgreSQL's initdb not found (scripts/setup installs it)");
    return false;
  }
  tmp_ = std::make_unique<QTemporaryDir>();
  const QString root = tmp_->path();
  QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                  QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                  QFile::ExeOther);
  QDir(root).mkdir(QStringLiteral("sock"));
  QFile pw(root + QStringLiteral("/pw"));
  if (!pw.open(QIODevice::WriteOnly) || pw.write(kPassword) < 0) return false;
  pw.close();
  if (::geteuid() == 0) {
    // initdb and the server refuse root: the cluster is the postgres user's.
    const passwd* pg = ::getpwnam("postgres");
    if (!pg) {
      error_ = QStringLiteral("running as root and there is no postgres user to run the server");
      return false;
    }
    for (const char* f : {"", "/sock", "/pw"})
      if (::chown(QFile::encodeName(root + QLatin1String(f)).constData(), pg->pw_uid, pg->pw_gid) !=
          0) {
        error_ = QStringLiteral("cannot hand %1 to the postgres user").arg(root);
        return false;
      }
  }
  if (!Run(bin_ + QStringLiteral("/initdb"),
           {QStringLiteral("-D"), root + QStringLiteral("/data"), QStringLiteral("-U"),
            QString::fromLatin1(kUser), QStringLiteral("--pwfile"), root + QStringLiteral("/pw"),
            QStringLiteral("-A"), QStringLiteral("scram-sha-256"), QStringLiteral("-E"),
            QStringLiteral("UTF8"), QStringLiteral("--no-sync"),
            QStringLiteral("--no-instructions")},
           true))
    return false;
  return restart();
}

bool PgCluster::stop() {
  if (!running_) return true;
  running_ =
      !Run(bin_ + QStringLiteral("/pg_ctl"),
           {QStringLiteral("-D"), tmp_->filePath(QStringLiteral("data")), QStringLiteral("-m"),
            QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")},
           true);
  return !running_;
}

bool PgCluster::restart() {
  if (!stop()) return false;
  const QString root = tmp_->path();
  // Only the socket; a test's server need not outlive the machine.
  const QString options =
      QStringLiteral("-k %1/sock -p %2 -c listen_addresses= -c max_connections=100%3")
          .arg(root)
          .arg(kPort)
          .arg(durable_ ? QString() : QStringLiteral(" -c fsync=off"));
  running_ = Run(bin_ + QStringLiteral("/pg_ctl"),
                 {QStringLiteral("-D"), root + QStringLiteral("/data"), QStringLiteral("-l"),
                  root + QStringLiteral("/data/server.log"), QStringLiteral("-o"), options,
                  QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                  QStringLiteral("start")},
                 true);
  return running_;
}

bool PgCluster::createDatabase(const QString& name) {
  QProcess p;
  p.setProcessEnvironment(clientEnvironment());
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(bin_ + QStringLiteral("/createdb"),
          {QStringLiteral("-h"), tmp_->path() + QStringLiteral("/sock"), QStringLiteral("-p"),
           QString::number(kPort), QStringLiteral("-U"), QString::fromLatin1(kUser), name});
  if (!p.waitForFinished(30000) || p.exitCode() != 0) {
    error_ = QStringLiteral("createdb %1: %2").arg(name, QString::fromUtf8(p.readAll()));
    return false;
  }
  return true;
}

QString PgCluster::query(const QString& database, const QString& sql) {
  QProcess p;
  p.setProcessEnvironment(clientEnvironment());
  p.start(bin_ + QStringLiteral("/psql"),
          {QStringLiteral("-X"), QStringLiteral("-A"), QStringLiteral("-t"), QStringLiteral("-v"),
           QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-c"), sql, conninfo(database)});
  if (!p.waitForFinished(30000) || p.exitCode() != 0) {
    error_ = QStringLiteral("psql: %1").arg(QString::fromUtf8(p.readAllStandardError()));
    return {};
  }
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString PgCluster::conninfo(const QString& database) const {
  return QStringLiteral("host=%1/sock port=%2 user=%3 dbname=%4")
      .arg(tmp_->path())
      .arg(kPort)
      .arg(QString::fromLatin1(kUser), database);
}

QProcessEnvironment PgCluster::clientEnvironment(const QString& password) const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("PGPASSWORD"), password);
  return env;
}
