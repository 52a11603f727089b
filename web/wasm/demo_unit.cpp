#include "web/wasm/demo_unit.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

DemoUnit::DemoUnit(const SimOptions& options, const TAppParams& record)
    : options_(options), pipe_(OpenPipe()), outPacer_(options_.baud, options_.pace),
      inPacer_(options_.baud, options_.pace), writer_(pipe_[1], outPacer_),
      device_(options_, record, writer_, log_) {}

DemoUnit::~DemoUnit() {
  for (int fd : pipe_)
    if (fd >= 0) ::close(fd);
}

std::array<int, 2> DemoUnit::OpenPipe() {
  int fds[2] = {-1, -1};
  if (::pipe(fds) != 0) return {-1, -1};
  // Take() reads until the pipe is empty; it must not wait there.
  ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  return {fds[0], fds[1]};
}

DemoUnit::Clock::time_point DemoUnit::At(double ms) {
  return Clock::time_point(
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms)));
}

void DemoUnit::Write(std::span<const std::uint8_t> bytes, double nowMs) {
  if (!ok() || device_.Unplugged()) return;
  waiting_.insert(waiting_.end(), bytes.begin(), bytes.end());
  Run(At(nowMs));
}

void DemoUnit::Tick(double nowMs) {
  if (ok()) Run(At(nowMs));
}

void DemoUnit::Run(Clock::time_point now) {
  last_ = std::max(last_, now);
  FeedWaiting(last_);
  device_.OnTimer(last_);
  writer_.Flush(last_);
}

// As dtu-sim's loop reads the pty: no more than the unit's input has room for
// and, on a paced line, than the wire has carried by now.
void DemoUnit::FeedWaiting(Clock::time_point now) {
  while (!waiting_.empty() && !device_.Unplugged()) {
    const std::size_t n = std::min({waiting_.size(), inPacer_.Allowance(now), device_.InputRoom()});
    if (n == 0) return;
    const std::vector<std::uint8_t> piece(waiting_.begin(), waiting_.begin() + std::ptrdiff_t(n));
    waiting_.erase(waiting_.begin(), waiting_.begin() + std::ptrdiff_t(n));
    inPacer_.Spend(n, now, inputBacklog_);
    inputBacklog_ = !waiting_.empty();
    device_.OnBytes(piece, now);
    writer_.Flush(now);
  }
}

std::vector<std::uint8_t> DemoUnit::Take() {
  std::vector<std::uint8_t> out;
  if (!ok()) return out;
  std::uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = ::read(pipe_[0], buffer, sizeof buffer);
    if (n > 0) {
      out.insert(out.end(), buffer, buffer + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return out; // empty (EAGAIN) or broken: nothing more this time
  }
}

double DemoUnit::NextDeadlineMs() const {
  std::optional<Clock::time_point> wake = device_.NextDeadline();
  const auto earliest = [&](std::optional<Clock::time_point> t) {
    if (t && (!wake || *t < *wake)) wake = t;
  };
  earliest(writer_.NextTime(last_));
  // Unpaced input is taken whole at once; paced input continues when the wire is free.
  if (!waiting_.empty() && inPacer_.enabled() && device_.InputRoom() > 0)
    earliest(inPacer_.FreeAt());
  if (!wake) return -1;
  return std::chrono::duration<double, std::milli>(wake->time_since_epoch()).count();
}
