// The technician's whole cycle through the main window against the simulated
// DTU: connect, read (parameters and product information), write, disconnect.
// Prints the wall time of each step and the CPU the program spent on it, on a
// line with no wire time (bytes move as fast as the pty does) and on one paced
// at 115200 bit/s, where the 699-byte frames take real time.

#include <cstdio>

#if defined(__linux__)
#include <QApplication>
#include <QComboBox>
#include <QLoggingCategory>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "app/link_settings_dialog.h"
#include "support/dtu_sim_process.h"
#include "support/window_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Step {
  std::vector<double> wallMs, cpuMs;
};

// Runs rounds cycles against a simulator started with simArgs; false when
// the simulator did not start or a step did not end as it should.
bool RunCycles(const char* label, const QStringList& simArgs, int rounds) {
  DtuSimProcess sim;
  if (!sim.start(simArgs)) {
    std::fprintf(stderr, "%s: %s\n", label, qPrintable(sim.errorString()));
    return false;
  }
  WindowFixture w;
  w.form().Form3()->cb_com->setEditText(sim.devicePath());

  const char* const order[] = {"connect", "read", "write", "disconnect"};
  const std::pair<const char*, const char*> steps[] = {
      {"sb_com_open", "connected"},
      {"sb_getpar", "sys_par_read_completed"},
      {"sb_setpar", "app_par_save_completed"},
      {"sb_com_close", "serial_closed"},
  };
  std::map<std::string, Step> figures;
  int failures = 0;
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t i = 0; i < std::size(steps); ++i) {
      const long long cpu0 = CpuMicroseconds();
      const auto t0 = Clock::now();
      w.click(steps[i].first);
      const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
      const double cpuMs = double(CpuMicroseconds() - cpu0) / 1000.0;
      if (w.logTexts().last() != WindowFixture::caption(steps[i].second)) ++failures;
      figures[order[i]].wallMs.push_back(wallMs);
      figures[order[i]].cpuMs.push_back(cpuMs);
    }
  }

  std::printf("%s_rounds: %d\n", label, rounds);
  std::printf("%s_failures: %d\n", label, failures);
  for (const char* name : order) {
    const Step& s = figures[name];
    std::printf("%s_%s_wall_median_ms: %.2f\n", label, name, Percentile(s.wallMs, 0.5));
    std::printf("%s_%s_wall_p95_ms: %.2f\n", label, name, Percentile(s.wallMs, 0.95));
    std::printf("%s_%s_cpu_median_ms: %.2f\n", label, name, Percentile(s.cpuMs, 0.5));
  }
  return failures == 0;
}

} // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QLoggingCategory::setFilterRules(QStringLiteral("k7v.*.debug=false"));

  bool ok = RunCycles("fast", {}, 30);
  ok = RunCycles("paced", {"--pace"}, 10) && ok;
  return ok ? 0 : 1;
}

#else
int main() {
  std::puts("bench_connect: needs a Linux pseudo-terminal; nothing measured");
  return 0;
}
#endif
