#pragma once
// bench_station --ledger: stations sharing one PostgreSQL ledger (a throwaway
// cluster in a temporary folder), against one station on it. Each station
// has 4 ports; each port gets K units one after another, as bench_station's
// rounds do (a 100 KiB flash and a write with the unit's own row, lines paced
// at 115200 baud). Prints units per hour for 1 and 3 stations, the ratio
// (goal: 3 stations >= 2.9 x one) and each station's claim time, median and
// 95th percentile, from its summary.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include "support/bytes.h"
#include "support/dtu_sim_process.h"
#include "support/pg_cluster.h"

// One JSON line of a station's --json output: a unit that failed is told on
// stderr and sets failed; returns the port of a unit newly done, else "".
inline QString NewlyDonePort(const QJsonObject& o, bool& failed) {
  const QString result = o["result"].toString();
  if (result == "failed" && o.contains("sn")) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(o["port"].toString()),
                 qPrintable(o["reason"].toString()));
    failed = true;
  }
  if (result != "done" || o["already"].toBool()) return {};
  return o["port"].toString();
}

namespace ledger_bench {

constexpr int kPortsPerStation = 4;

struct Round {
  int units = 0;
  double seconds = 0;       // from the first unit plugged in to the last one done
  QStringList claimFigures; // per station: "median/p95"
  bool ok = false;
};

inline QString SerialNumber(int station, int port, int unit) {
  return QStringLiteral("K7SL%1%2%3")
      .arg(station, 2, 10, QChar(u'0'))
      .arg(port, 2, 10, QChar(u'0'))
      .arg(unit, 8, 10, QChar(u'0'));
}

// False with the reason on stderr.
inline bool LedgerCommand(PgCluster& pg, const QString& db, const QStringList& args) {
  QProcess p;
  p.setProcessEnvironment(pg.clientEnvironment());
  p.start(QStringLiteral(K7V_CLI), QStringList{"--ledger", pg.conninfo(db), "ledger"} + args);
  if (p.waitForFinished(60000) && p.exitCode() == 0) return true;
  std::fprintf(stderr, "ledger %s: %s\n", qPrintable(args.join(u' ')),
               p.readAllStandardError().constData());
  return false;
}

inline Round Run(PgCluster& pg, int stations, int perPort, const QString& image) {
  Round r;
  QTemporaryDir dir;
  const QString db = QStringLiteral("bench%1").arg(stations);
  if (!pg.createDatabase(db)) {
    std::fprintf(stderr, "%s\n", qPrintable(pg.errorString()));
    return r;
  }
  WriteFile(dir.filePath("p.ini"), "[params]\nhostname1 = station.example.net\n");
  QByteArray values("sn,dtu_id,port1\n");
  for (int s = 0; s < stations; ++s)
    for (int p = 0; p < kPortsPerStation; ++p)
      for (int u = 0; u < perPort; ++u)
        values += (SerialNumber(s, p, u) +
                   QStringLiteral(",L-%1-%2-%3,%4\n").arg(s).arg(p).arg(u).arg(40000 + u))
                      .toUtf8();
  WriteFile(dir.filePath("units.csv"), values);
  if (!LedgerCommand(pg, db, {"init"}) ||
      !LedgerCommand(pg, db, {"load", dir.filePath("units.csv")}))
    return r;

  struct Station {
    std::unique_ptr<QProcess> process;
    QByteArray pending;
    QJsonObject summary;
  };
  std::vector<Station> procs(static_cast<std::size_t>(stations));
  std::vector<QString> links;
  std::vector<std::unique_ptr<DtuSimProcess>> sims;
  std::vector<int> plugged;
  auto plug = [&](int link) {
    const std::size_t l = std::size_t(link);
    sims[l] = std::make_unique<DtuSimProcess>();
    const int s = link / kPortsPerStation, p = link % kPortsPerStation;
    if (!sims[l]->start({"--sn", SerialNumber(s, p, plugged[l]), "--link", links[l], "--baud",
                         "115200", "--pace"}))
      std::fprintf(stderr, "dtu-sim: %s\n", qPrintable(sims[l]->errorString()));
    ++plugged[l];
  };
  QEventLoop loop;
  QElapsedTimer clock;
  bool failed = false;
  const int total = stations * kPortsPerStation * perPort;
  for (int s = 0; s < stations; ++s) {
    QStringList args{"--json"};
    for (int p = 0; p < kPortsPerStation; ++p) {
      links.push_back(dir.filePath(QStringLiteral("bay%1-%2").arg(s).arg(p)));
      args << "--port" << links.back();
    }
    args << "station" << dir.filePath("p.ini") << "--ledger" << pg.conninfo(db) << "--bench"
         << QStringLiteral("bench-%1").arg(s) << "--flash" << image;
    Station& st = procs[std::size_t(s)];
    st.process = std::make_unique<QProcess>();
    st.process->setProcessEnvironment(pg.clientEnvironment());
    st.process->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(st.process.get(), &QProcess::readyReadStandardOutput, [&, s] {
      Station& me = procs[std::size_t(s)];
      me.pending += me.process->readAllStandardOutput();
      for (qsizetype nl; (nl = me.pending.indexOf('\n')) >= 0; me.pending.remove(0, nl + 1)) {
        const QJsonObject o = QJsonDocument::fromJson(me.pending.left(nl)).object();
        if (o["summary"].toBool()) me.summary = o;
        const QString port = NewlyDonePort(o, failed);
        if (port.isEmpty()) continue;
        ++r.units;
        r.seconds = double(clock.nsecsElapsed()) / 1e9;
        const auto link = std::find(links.begin(), links.end(), port);
        if (link == links.end()) continue;
        const std::size_t l = std::size_t(link - links.begin());
        sims[l]->stop(); // unplugged; the next one goes in at once
        if (plugged[l] < perPort) plug(int(l));
      }
      if (failed || r.units >= total) loop.quit();
    });
    st.process->start(QStringLiteral(K7V_CLI), args);
  }
  sims.resize(links.size());
  plugged.assign(links.size(), 0);
  clock.start();
  for (std::size_t l = 0; l < links.size(); ++l) plug(int(l));
  QTimer::singleShot(600000, &loop, &QEventLoop::quit);
  loop.exec();
  for (Station& st : procs) ::kill(pid_t(st.process->processId()), SIGTERM);
  for (Station& st : procs) {
    st.process->waitForFinished(30000);
    st.pending += st.process->readAllStandardOutput();
    for (const QByteArray& line : st.pending.split('\n'))
      if (const QJsonObject o = QJsonDocument::fromJson(line).object(); o["summary"].toBool())
        st.summary = o;
    r.claimFigures << QStringLiteral("%1/%2")
                          .arg(st.summary["ledger_claim_ms_median"].toDouble(), 0, 'f', 1)
                          .arg(st.summary["ledger_claim_ms_p95"].toDouble(), 0, 'f', 1);
  }
  r.ok = !failed && r.units == total;
  return r;
}

// Both rounds on one cluster; 0 unless PostgreSQL cannot be started.
inline int Main(int perPort, const QString& image) {
  PgCluster pg;
  if (!pg.start(true)) {
    std::fprintf(stderr, "bench_station --ledger: %s\n", qPrintable(pg.errorString()));
    return 1;
  }
  std::printf(
      "station --ledger: %d ports per station, %d units per port in turn, each a flash\n"
      "and a write with its row from one PostgreSQL ledger (Unix socket, fsync on),\nlines paced "
      "at 115200 baud\n",
      kPortsPerStation, perPort);
  std::printf("%9s %6s %10s %12s  %s\n", "stations", "units", "wall s", "units/h",
              "claim ms median/p95 per station");
  double one = 0;
  for (const int stations : {1, 3}) {
    const Round r = Run(pg, stations, perPort, image);
    const double perHour = r.seconds > 0 ? r.units * 3600.0 / r.seconds : 0;
    if (stations == 1) one = perHour;
    std::printf("%9d %6d %10.2f %12.0f  %s%s\n", stations, r.units, r.seconds, perHour,
                qPrintable(r.claimFigures.join(QStringLiteral(", "))), r.ok ? "" : " FAILED");
    if (stations == 3 && one > 0)
      std::printf("3 stations / 1 station: %.2f x (goal >= 2.9)\n", perHour / one);
    std::fflush(stdout);
  }
  return 0;
}

} // namespace ledger_bench
