#pragma once
// The page's demo unit: dtu-sim's device logic (sim/dtu_device.*) without a
// pseudo-terminal. The page writes bytes in and takes the unit's bytes out;
// the unit's time-outs run when the page's timer calls Tick. Time is the
// page's clock in milliseconds, so a test can drive it as it likes.

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "params/app_params.h"
#include "sim/dtu_device.h"
#include "sim/pty_port.h"
#include "sim/sim_log.h"
#include "sim/sim_options.h"

class DemoUnit {
public:
  // options.pace moves both directions at options.baud / 10 bytes per second.
  DemoUnit(const SimOptions& options, const TAppParams& record);
  ~DemoUnit();
  DemoUnit(const DemoUnit&) = delete;
  DemoUnit& operator=(const DemoUnit&) = delete;

  // False when the unit's output channel could not be made; nothing works then.
  bool ok() const { return pipe_[0] >= 0; }

  // Bytes the page sent; what does not fit the unit's input yet waits here.
  void Write(std::span<const std::uint8_t> bytes, double nowMs);
  // Runs whatever is due at nowMs: the unit's time-outs, waiting input, paced output.
  void Tick(double nowMs);
  // The bytes the unit has put on the wire since the last call; empty when none.
  std::vector<std::uint8_t> Take();
  // When Tick next has work, in the page's milliseconds; a negative number when
  // nothing waits for time.
  double NextDeadlineMs() const;

  const TAppParams& record() const { return device_.record(); }
  bool InConfigMode() const { return device_.InConfigMode(); }
  bool DownloadRunning() const { return device_.DownloadRunning(); }
  // True once options.dropAfter has fired: the adapter is gone.
  bool Unplugged() const { return device_.Unplugged(); }

private:
  using Clock = DtuDevice::Clock;
  static Clock::time_point At(double ms);
  static std::array<int, 2> OpenPipe();
  void FeedWaiting(Clock::time_point now);
  void Run(Clock::time_point now);

  SimOptions options_; // the device keeps a reference
  // The device writes through a WireWriter, which needs a descriptor: a pipe
  // in emscripten's in-memory file system, read back by Take.
  std::array<int, 2> pipe_; // read end, write end; -1 when there is none
  LinePacer outPacer_;
  LinePacer inPacer_;
  WireWriter writer_;
  SimLog log_; // never opened: the page has no log file
  DtuDevice device_;
  std::deque<std::uint8_t> waiting_;
  bool inputBacklog_ = false;
  Clock::time_point last_{};
};
