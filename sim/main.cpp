// dtu-sim: a simulated DTU on a Linux pseudo-terminal, for end-to-end tests,
// benchmarks and demonstrations without hardware. One thread, one poll loop.

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <unistd.h>
#include <vector>

#include "k7v_build_info.h"
#include "params/app_params.h"
#include "params/factory_set.h"
#include "sim/dtu_device.h"
#include "sim/pty_port.h"
#include "sim/sim_log.h"
#include "sim/sim_options.h"
#include "sim/sim_state.h"

namespace {

using Clock = std::chrono::steady_clock;

// Self-pipe: the handler only writes a byte, the loop sees it in poll().
int gSignalPipe[2] = {-1, -1};

extern "C" void OnSignal(int) {
  const int saved = errno;
  const char b = 1;
  [[maybe_unused]] const ssize_t r = ::write(gSignalPipe[1], &b, 1);
  errno = saved;
}

// False when the pipe or the handlers cannot be set up.
bool InstallSignalHandlers() {
  if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    if (sigaction(sig, &sa, nullptr) != 0) return false;
  // Our parent may stop reading stdout or stderr at any time.
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

// The start record: state/record.bin, else --record, else the factory set.
// False with a reason when --record names an unusable file.
bool LoadRecord(const SimOptions& opt, TAppParams& record, std::string& error) {
  std::vector<std::uint8_t> bytes;
  if (!opt.stateDir.empty()) {
    const std::string path = PathIn(opt.stateDir, "record.bin");
    if (ReadFileBytes(path, bytes)) {
      if (bytes.size() == TAppParams::kSize) {
        record = TAppParams::FromBytes(bytes);
        return true;
      }
      std::fprintf(stderr, "dtu-sim: ignoring %s: %zu bytes, not %zu\n", path.c_str(), bytes.size(),
                   TAppParams::kSize);
    }
  }
  if (!opt.recordFile.empty()) {
    if (!ReadFileBytes(opt.recordFile, bytes)) {
      error = "cannot read " + opt.recordFile;
      return false;
    }
    if (bytes.size() != TAppParams::kSize) {
      error = opt.recordFile + ": " + std::to_string(bytes.size()) + " bytes, not 693";
      return false;
    }
    record = TAppParams::FromBytes(bytes);
    return true;
  }
  record = FactoryParams();
  return true;
}

int Milliseconds(Clock::time_point from, Clock::time_point to) {
  if (to <= from) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(to - from).count();
  return static_cast<int>(std::min<long long>(ms, 60'000));
}

} // namespace

int main(int argc, char** argv) {
  SimOptions opt;
  std::string error;
  if (!ParseSimOptions(argc, argv, opt, error)) {
    std::fprintf(stderr, "dtu-sim: %s\n\n%s", error.c_str(), SimUsage());
    return 2;
  }
  if (opt.help) {
    std::fputs(SimUsage(), stdout);
    return 0;
  }
  if (opt.showVersion) {
    std::printf("dtu-sim %s\n", K7V_VERSION);
    return 0;
  }

  if (!opt.stateDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(opt.stateDir, ec);
    if (ec) {
      std::fprintf(stderr, "dtu-sim: cannot create %s: %s\n", opt.stateDir.c_str(),
                   ec.message().c_str());
      return 1;
    }
  }
  // The version of the firmware a download left, as the unit keeps it.
  if (std::vector<std::uint8_t> flashed; !opt.stateDir.empty() &&
                                         ReadFileBytes(PathIn(opt.stateDir, "version"), flashed) &&
                                         !flashed.empty() && flashed.size() <= 8)
    opt.version.assign(flashed.begin(), flashed.end());
  TAppParams record;
  if (!LoadRecord(opt, record, error)) {
    std::fprintf(stderr, "dtu-sim: %s\n", error.c_str());
    return 1;
  }
  SimLog log;
  if (!opt.logFile.empty() && !log.Open(opt.logFile)) {
    std::fprintf(stderr, "dtu-sim: cannot open log %s: %s\n", opt.logFile.c_str(),
                 std::strerror(errno));
    return 1;
  }
  if (!InstallSignalHandlers()) {
    std::fprintf(stderr, "dtu-sim: cannot install signal handlers\n");
    return 1;
  }

  PtyPort pty;
  if (!pty.Open(opt.baud, opt.stopBits, error)) {
    std::fprintf(stderr, "dtu-sim: %s\n", error.c_str());
    return 1;
  }
  if (!opt.linkPath.empty() && !pty.CreateLink(opt.linkPath, error)) {
    std::fprintf(stderr, "dtu-sim: %s\n", error.c_str());
    return 1;
  }
  // The unit's own line: the speed as the pty took it (a rate termios has no
  // constant for falls back), the framing as asked.
  PtyLine own{pty.LineNow() ? pty.LineNow()->baud : opt.baud, opt.dataBits, opt.parity,
              opt.stopBits};
  bool heardNoise = false; // the PC's settings differed at the last read
  log.Event("start " + pty.slavePath() + " at " + LineText(own));
  std::printf("dtu-sim: %s\n", pty.slavePath().c_str());
  std::fflush(stdout);

  LinePacer outPacer(opt.baud, opt.pace);
  LinePacer inPacer(opt.baud, opt.pace);
  bool inputBacklog = false; // the last read left bytes behind for lack of wire time
  WireWriter writer(pty.masterFd(), outPacer);
  DtuDevice device(opt, record, writer, log);
  PtyRxSource source(pty.masterFd());
  std::vector<std::uint8_t> buffer(FrameScanner::kCapacity);

  bool running = true;
  while (running) {
    Clock::time_point now = Clock::now();
    device.OnTimer(now);
    writer.Flush(now);
    if (device.Unplugged()) break;

    // What to wait for: input while the pacer and the scanner have room,
    // output while the pty is full, and the earliest timer.
    const bool wantInput = inPacer.Allowance(now) > 0 && device.InputRoom() > 0;
    std::optional<Clock::time_point> wake = device.NextDeadline();
    auto earliest = [&](std::optional<Clock::time_point> t) {
      if (t && (!wake || *t < *wake)) wake = t;
    };
    earliest(writer.NextTime(now));
    if (!wantInput && inPacer.enabled()) earliest(inPacer.FreeAt());

    pollfd fds[2] = {{gSignalPipe[0], POLLIN, 0}, {pty.masterFd(), 0, 0}};
    if (wantInput) fds[1].events |= POLLIN;
    if (writer.Blocked()) fds[1].events |= POLLOUT;
    const int timeout = wake ? Milliseconds(now, *wake) : -1;
    const int ready = ::poll(fds, 2, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "dtu-sim: poll: %s\n", std::strerror(errno));
      break;
    }
    if (fds[0].revents & POLLIN) break;

    now = Clock::now();
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      const std::size_t limit =
          std::min({inPacer.Allowance(now), device.InputRoom(), buffer.size()});
      std::uint16_t n = source.RxBytesWaiting();
      if (n == 0) n = 1; // POLLIN without a count: let read tell
      n = static_cast<std::uint16_t>(std::min<std::size_t>(n, limit));
      const std::uint16_t got = n > 0 ? source.ReadPort(buffer.data(), n) : 0;
      if (got > 0) {
        inPacer.Spend(got, now, inputBacklog);
        // More was waiting than the wire let through: the next read continues it.
        inputBacklog = got == limit && source.RxBytesWaiting() > 0;
        // A real line at other settings carries only garbage: read what the
        // PC's end was set to when its bytes are taken in.
        const std::optional<PtyLine> pc = pty.LineNow();
        const bool mismatch = pc && !(*pc == own);
        if (mismatch != heardNoise)
          log.Event(mismatch ? "line mismatch: PC at " + LineText(*pc) + ", unit at " +
                                   LineText(own) + ": noise"
                             : "line settings match again");
        heardNoise = mismatch;
        if (mismatch)
          device.OnNoise(std::span(buffer.data(), got), now);
        else
          device.OnBytes(std::span(buffer.data(), got), now);
      } else if (fds[1].revents & (POLLHUP | POLLERR)) {
        // We hold the slave open, so this should not happen; if it does,
        // do not spin on it.
        ::poll(nullptr, 0, 20);
      }
    }
  }

  if (device.Unplugged()) {
    std::fprintf(stderr, "dtu-sim: unplugged after %u frames\n", opt.dropAfter);
  }
  log.Event("stop");
  pty.RemoveLink();
  pty.Close();
  return 0;
}
