// How the session's waits behave on a real port, as the window and the
// command line use them: the CPU a connect costs while the unit stays
// silent, and how soon a connect returns once the answer is on the wire. The
// port is a Linux pseudo-terminal pair: the program's port on the slave
// side, the "DTU" reading and writing on the master side from its own thread.

#include <cstdio>

#if defined(__linux__)
#include <QCoreApplication>
#include <QLoggingCategory>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include "bench_support.h"
#include "link/device_session.h"
#include "link/qt_serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

long long NowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);

  int master = -1;
  int slave = -1;
  char slaveName[256] = {};
  if (::openpty(&master, &slave, slaveName, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  ::close(slave);

  DeviceSession session(std::make_unique<QtSerialPortLink>());
  const SessionResult opened = session.open({QString::fromLocal8Bit(slaveName), 115200, 8, 1, 0});
  if (!opened.ok()) {
    std::fprintf(stderr, "cannot open %s (error %d)\n", slaveName, opened.systemError);
    return 1;
  }
  std::printf("port: %s\n", slaveName);

  // The "DTU" takes in what the program sends, as a unit would.
  const auto drain = [master] {
    std::uint8_t sink[256];
    while (::read(master, sink, sizeof sink) > 0) {
    }
  };
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

  // (1) A connect that hears nothing for its whole time limit (2 s).
  {
    const long long cpu0 = CpuMicroseconds();
    const auto t0 = Clock::now();
    const VersionResult reply = session.enterConfiguration("######");
    const double wallUs = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    const double cpuUs = double(CpuMicroseconds() - cpu0);
    drain();
    std::printf("wait_result_timeout: %s\n",
                reply.reason == SessionReason::NoAnswer ? "yes" : "no");
    std::printf("wait_wall_ms: %.1f\n", wallUs / 1000.0);
    std::printf("wait_cpu_ms: %.2f\n", cpuUs / 1000.0);
    std::printf("wait_cpu_percent: %.2f\n", 100.0 * cpuUs / wallUs);
  }

  // (2) Delay from the answer's write on the master to the wait's return.
  {
    const std::uint8_t payload[8] = {'V', '2', '.', '0', '1', 0, 0, 0};
    std::uint8_t frame[32] = {};
    const std::size_t frameLength = BuildFrame(k7v::kCmdSwitchAnswer, payload, frame);
    constexpr int kRounds = 200;
    std::vector<double> delaysUs;
    delaysUs.reserve(kRounds);
    int failures = 0;
    for (int i = 0; i < kRounds; ++i) {
      std::atomic<long long> writtenAt{0};
      std::thread dtu([&, i] {
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + 700 * (i % 7)));
        drain();
        writtenAt = NowNanoseconds();
        if (::write(master, frame, frameLength) != static_cast<ssize_t>(frameLength))
          writtenAt = -1;
      });
      const VersionResult reply = session.enterConfiguration("######");
      const long long returnedAt = NowNanoseconds();
      dtu.join();
      if (!reply.ok() || writtenAt <= 0) {
        ++failures;
        continue;
      }
      delaysUs.push_back(double(returnedAt - writtenAt) / 1000.0);
    }
    std::sort(delaysUs.begin(), delaysUs.end());
    std::printf("reply_rounds: %d\n", kRounds);
    std::printf("reply_failures: %d\n", failures);
    std::printf("reply_latency_median_us: %.1f\n", Percentile(delaysUs, 0.5));
    std::printf("reply_latency_p95_us: %.1f\n", Percentile(delaysUs, 0.95));
    std::printf("reply_latency_max_us: %.1f\n", delaysUs.empty() ? 0.0 : delaysUs.back());
  }

  session.close();
  ::close(master);
  return 0;
}

#else
int main() {
  std::puts("bench_wait: needs a Linux pseudo-terminal; nothing measured");
  return 0;
}
#endif
