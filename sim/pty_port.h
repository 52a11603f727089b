#pragma once
// The simulated DTU's end of the wire: a Linux pseudo-terminal. The tool opens
// the slave side like a serial port; the simulator reads and writes the master.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "link/rx_buffer.h"

// The line settings a pseudo-terminal carries: both ends share them, so the
// simulator sees what the PC's end was set to.
struct PtyLine {
  std::uint32_t baud = 0; // 0: a speed termios has no number for
  int dataBits = 8;
  char parity = 'N'; // 'N', 'O', 'E'
  int stopBits = 1;
  bool operator==(const PtyLine&) const = default;
};

// "9600 8N1".
std::string LineText(const PtyLine& line);

class PtyPort {
public:
  PtyPort() = default;
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;
  ~PtyPort();

  // Creates the pair, both sides raw with the given speed and stop bits (a
  // pty keeps 8 bits without parity), master non-blocking. The slave stays
  // open here too, so the tool can close and reopen it without the master
  // seeing a hang-up. False with a reason in error on failure.
  bool Open(std::uint32_t baud, int stopBits, std::string& error);

  // The settings the line has now, as the PC's end last set them; nullopt
  // when they cannot be read.
  std::optional<PtyLine> LineNow() const;

  // Points a symlink at the slave, replacing an older symlink; refuses to
  // replace anything that is not a symlink. False with a reason on failure.
  bool CreateLink(const std::string& path, std::string& error);
  // Removes the link made by CreateLink if it still points at our slave.
  void RemoveLink();

  // Closes both sides: the tool's open slave sees the device disappear.
  void Close();

  int masterFd() const { return master_; }
  const std::string& slavePath() const { return slavePath_; }

private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
  std::string linkPath_;
};

// ReadFrame-style byte source over the pty master: FIONREAD + read.
class PtyRxSource : public RxSource {
public:
  explicit PtyRxSource(int fd) : fd_(fd) {}
  // Bytes waiting at the master; 0 when the query fails.
  std::uint16_t RxBytesWaiting() override;
  // Reads up to n bytes without blocking; 0 when nothing was there or on failure.
  std::uint16_t ReadPort(std::uint8_t* dest, std::uint16_t n) override;

private:
  int fd_;
};

// Token bucket for one direction of a paced line: 10 bits per byte at baud.
class LinePacer {
public:
  using Clock = std::chrono::steady_clock;
  LinePacer(std::uint32_t baud, bool enabled);
  bool enabled() const { return enabled_; }
  // Bytes that may move now; 0 while the wire is still busy. Unlimited
  // (SIZE_MAX) when pacing is off.
  std::size_t Allowance(Clock::time_point now) const;
  // Books n bytes that have just moved; continuing: they were already
  // waiting when the line came free (the middle of a frame).
  void Spend(std::size_t n, Clock::time_point now, bool continuing);
  // When the wire is free again.
  Clock::time_point FreeAt() const { return busyUntil_; }

private:
  bool enabled_;
  std::chrono::nanoseconds byteTime_;
  std::size_t batch_;
  Clock::time_point busyUntil_{};
};

// Output queue to the master. Frames may be queued in parts with a pause
// before a part; pacing spreads the bytes over wire time. Never blocks.
class WireWriter {
public:
  using Clock = std::chrono::steady_clock;
  WireWriter(int fd, LinePacer& pacer) : fd_(fd), pacer_(pacer) {}

  void Queue(std::vector<std::uint8_t> bytes, std::chrono::milliseconds pauseBefore,
             Clock::time_point now);
  // Writes whatever pauses and pacing allow now.
  void Flush(Clock::time_point now);
  bool Pending() const { return !queue_.empty(); }
  // True when the last write found the pty full: wait for POLLOUT.
  bool Blocked() const { return blocked_; }
  // When Flush can next make progress on its own, if it is waiting for time.
  std::optional<Clock::time_point> NextTime(Clock::time_point now) const;

private:
  struct Segment {
    std::vector<std::uint8_t> bytes;
    std::size_t sent = 0;
    std::chrono::milliseconds pauseBefore{0};
  };
  Clock::time_point FrontReadyAt() const;

  int fd_;
  LinePacer& pacer_;
  std::deque<Segment> queue_;
  std::size_t queuedBytes_ = 0;
  Clock::time_point lastDone_{};
  bool blocked_ = false;
};
