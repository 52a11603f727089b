// The production station's pace: units per hour on one port and on 8 ports.
// Each port gets K units one after another (default 3), each a simulated DTU
// as strict as a real unit may be (it stays in configuration mode after the
// download and takes a switch command there for noise) on a line paced at
// 115200 baud, plugged in as soon as the one before is
// done, as a quick technician would. Every unit is flashed with a 100 KiB
// image and written with the profile and its own row of values; the report
// is flushed to the disk after every unit. Prints units per hour for 1 and 8
// ports, the ratio (goal: 8 ports >= 7.5 x one port) and the CPU time per
// unit of the station and the simulated units together, and the machine's
// load average before and after (other work on the machine slows a round).
//
// Usage: bench_station [UNITS_PER_PORT]
//        bench_station --ledger [UNITS_PER_PORT]   (station_ledger_round.h)

#include <cstdio>
#include <fstream>
#include <string>

#if defined(__linux__)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <memory>
#include <vector>

#include "bench_support.h"
#include "station_ledger_round.h"
#include "support/bytes.h"
#include "support/dtu_sim_process.h"

namespace {

constexpr int kBodySize = 102400;

// The 1, 5 and 15 minute load averages, as /proc/loadavg gives them.
std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

struct Round {
  int units = 0;
  double seconds = 0; // from the first unit plugged in to the last one done
  long long cpuMicros = 0;
  bool ok = false;
};

QString SerialNumber(int port, int unit) {
  return QStringLiteral("K7SB%1%2").arg(port, 3, 10, QChar(u'0')).arg(unit, 9, 10, QChar(u'0'));
}

Round RunStation(int ports, int perPort, const QString& image) {
  QTemporaryDir dir;
  WriteFile(dir.filePath("p.ini"), "[params]\nhostname1 = station.example.net\n");
  QByteArray values("sn,dtu_id,port1\n");
  for (int p = 0; p < ports; ++p)
    for (int u = 0; u < perPort; ++u)
      values += (SerialNumber(p, u) + QStringLiteral(",B-%1-%2,%3\n").arg(p).arg(u).arg(40000 + u))
                    .toUtf8();
  WriteFile(dir.filePath("units.csv"), values);
  QStringList args{QStringLiteral("--json")};
  std::vector<QString> links;
  for (int p = 0; p < ports; ++p) {
    links.push_back(dir.filePath(QStringLiteral("bay%1").arg(p)));
    args << QStringLiteral("--port") << links.back();
  }
  args << "station" << dir.filePath("p.ini") << "--values" << dir.filePath("units.csv") << "--flash"
       << image << "--report" << dir.filePath("report.csv");

  QProcess station;
  station.setStandardErrorFile(QProcess::nullDevice()); // failures come as JSON lines
  const long long cpu0 = CpuMicroseconds(RUSAGE_CHILDREN);
  station.start(QStringLiteral(K7V_CLI), args);

  std::vector<std::unique_ptr<DtuSimProcess>> sims(static_cast<std::size_t>(ports));
  std::vector<int> plugged(static_cast<std::size_t>(ports), 0);
  auto plug = [&](int p) {
    sims[std::size_t(p)] = std::make_unique<DtuSimProcess>();
    const bool started =
        sims[std::size_t(p)]->start({"--sn", SerialNumber(p, plugged[std::size_t(p)]), "--link",
                                     links[std::size_t(p)], "--baud", "115200", "--pace"});
    if (!started)
      std::fprintf(stderr, "dtu-sim: %s\n", qPrintable(sims[std::size_t(p)]->errorString()));
    ++plugged[std::size_t(p)];
  };
  QElapsedTimer clock;
  clock.start();
  for (int p = 0; p < ports; ++p) plug(p);

  Round r;
  QByteArray pending;
  bool failed = false;
  while (r.units + int(failed) < ports * perPort && station.waitForReadyRead(120000)) {
    pending += station.readAllStandardOutput();
    for (qsizetype nl; (nl = pending.indexOf('\n')) >= 0; pending.remove(0, nl + 1)) {
      const QString port =
          NewlyDonePort(QJsonDocument::fromJson(pending.left(nl)).object(), failed);
      if (port.isEmpty()) continue;
      ++r.units;
      r.seconds = double(clock.nsecsElapsed()) / 1e9;
      const auto p = std::size_t(std::find(links.begin(), links.end(), port) - links.begin());
      if (p >= links.size()) continue;
      sims[p]->stop(); // unplugged; the next one goes in at once
      if (plugged[p] < perPort) plug(int(p));
    }
  }
  ::kill(pid_t(station.processId()), SIGTERM);
  station.waitForFinished(30000);
  r.cpuMicros = CpuMicroseconds(RUSAGE_CHILDREN) - cpu0;
  r.ok = !failed && r.units == ports * perPort && station.exitCode() == 0;
  return r;
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const bool ledger = argc > 1 && QByteArray(argv[1]) == "--ledger";
  if (ledger) --argc, ++argv;
  const int perPort = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 3;
  QTemporaryDir dir;
  const QString image = dir.filePath(QStringLiteral("station.bin"));
  QByteArray file("BENCH02\0", 8);
  for (int i = 0; i < kBodySize; ++i) file.append(char((i * 151) & 0xFF));
  WriteFile(image, file);
  if (ledger) return ledger_bench::Main(perPort, image);

  std::printf("station: %d units per port in turn, each a %d-byte flash and a write with its own\n"
              "row, lines paced at 115200 baud, plugged in as soon as the one before is done\n",
              perPort, kBodySize);
  std::printf("load average before: %s\n", LoadAverage().c_str());
  std::printf("%6s %6s %10s %12s %16s %s\n", "ports", "units", "wall s", "units/h",
              "CPU ms per unit", "");
  double one = 0;
  for (const int ports : {1, 8}) {
    const Round r = RunStation(ports, perPort, image);
    const double perHour = r.seconds > 0 ? r.units * 3600.0 / r.seconds : 0;
    if (ports == 1) one = perHour;
    std::printf("%6d %6d %10.2f %12.0f %16.1f %s\n", ports, r.units, r.seconds, perHour,
                r.units > 0 ? double(r.cpuMicros) / 1000.0 / r.units : 0.0, r.ok ? "" : "FAILED");
    if (ports == 8 && one > 0)
      std::printf("8 ports / 1 port: %.2f x (goal >= 7.5)\n", perHour / one);
    std::fflush(stdout);
  }
  std::printf("load average after: %s\n", LoadAverage().c_str());
  return 0;
}

#else
int main() {
  std::printf("bench_station runs the simulated DTU, which needs Linux pseudo-terminals\n");
  return 0;
}
#endif
