// Many units at once with k7vconf-cli: N simulated DTUs on lines paced at
// 115200 baud each get a profile write and then a 100 KiB firmware image,
// all N at once, for N = 1, 4 and 16 (or the N given). Prints the wall time
// of each N, wall(N) / wall(1) (goal <= 1.15 at 16) and the tool's CPU time
// per unit (user + system of the k7vconf-cli processes).
//
// Usage: bench_fleet [N...]

#include <cstdio>

#if defined(__linux__)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "bench_support.h"
#include "support/bytes.h"
#include "support/dtu_sim_process.h"

namespace {

constexpr int kBodySize = 102400;

struct Step {
  double wallSeconds = 0;
  long long cpuMicros = 0;
  bool ok = false;
};

// One k7vconf-cli run to its end.
Step RunCli(const QStringList& args) {
  QProcess cli;
  cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  const long long cpu0 = CpuMicroseconds(RUSAGE_CHILDREN);
  QElapsedTimer clock;
  clock.start();
  cli.start(QStringLiteral(K7V_CLI), args);
  const bool finished = cli.waitForFinished(600000);
  Step s;
  s.wallSeconds = double(clock.nsecsElapsed()) / 1e9;
  s.cpuMicros = CpuMicroseconds(RUSAGE_CHILDREN) - cpu0;
  s.ok = finished && cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == 0;
  cli.readAllStandardOutput();
  return s;
}

struct Round {
  double wall = 0;
  long long cpu = 0;
  bool ok = false;
};

Round Fleet(int n, const QString& profile, const QString& image) {
  std::vector<std::unique_ptr<DtuSimProcess>> sims;
  QStringList ports;
  for (int i = 0; i < n; ++i) {
    sims.push_back(std::make_unique<DtuSimProcess>());
    if (!sims.back()->start(
            {QStringLiteral("--baud"), QStringLiteral("115200"), QStringLiteral("--pace")})) {
      std::fprintf(stderr, "dtu-sim: %s\n", qPrintable(sims.back()->errorString()));
      return {};
    }
    ports << QStringLiteral("--port") << sims.back()->devicePath();
  }
  const Step write = RunCli(ports + QStringList{QStringLiteral("write"), profile});
  const Step flash = RunCli(ports + QStringList{QStringLiteral("flash"), image});
  bool exact = true;
  for (auto& sim : sims) exact = exact && sim->stateImage().size() == kBodySize;
  return {write.wallSeconds + flash.wallSeconds, write.cpuMicros + flash.cpuMicros,
          write.ok && flash.ok && exact};
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QList<int> counts;
  for (const QString& a : app.arguments().mid(1)) counts << a.toInt();
  if (counts.isEmpty()) counts = {1, 4, 16};
  if (!counts.contains(1)) counts.prepend(1);

  QTemporaryDir dir;
  const QString profile = dir.filePath(QStringLiteral("fleet.ini"));
  const QString image = dir.filePath(QStringLiteral("fleet.bin"));
  QByteArray file("BENCH01\0", 8);
  for (int i = 0; i < kBodySize; ++i) file.append(char((i * 131) & 0xFF));
  WriteFile(image, file);
  WriteFile(
      profile,
      QByteArray("[params]\nport1 = 40009\nhostname1 = fleet.example.net\nheart_interval = 60\n"));

  std::printf("fleet: profile write + %d-byte flash per unit, lines paced at 115200 baud\n",
              kBodySize);
  std::printf("%6s %10s %14s %16s %s\n", "units", "wall s", "wall(N)/wall(1)", "CPU ms per unit",
              "");
  double wall1 = 0;
  for (int n : counts) {
    const Round r = Fleet(n, profile, image);
    if (n == 1) wall1 = r.wall;
    std::printf("%6d %10.2f %14.3f %16.1f %s\n", n, r.wall, wall1 > 0 ? r.wall / wall1 : 0.0,
                double(r.cpu) / 1000.0 / n, r.ok ? "" : "FAILED");
    std::fflush(stdout);
  }
  return 0;
}

#else
int main() {
  std::printf("bench_fleet runs the simulated DTU, which needs Linux pseudo-terminals\n");
  return 0;
}
#endif
