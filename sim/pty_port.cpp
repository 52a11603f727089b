#include "sim/pty_port.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include "platform/serial_line_state.h"
#include <unistd.h>

namespace {

// The termios constant for a rate; B115200 for rates termios does not name.
speed_t SpeedConstant(std::uint32_t baud) {
  struct Entry {
    std::uint32_t baud;
    speed_t speed;
  };
  static const Entry table[] = {
      {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
      {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
      {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
      {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
  };
  for (const Entry& e : table)
    if (e.baud == baud) return e.speed;
  return B115200;
}

// The rate of a termios constant; 0 for one the table lacks.
std::uint32_t SpeedNumber(speed_t speed) {
  for (const std::uint32_t baud :
       {50u,   75u,   110u,  134u,   150u,   200u,   300u,    600u,    1200u,   1800u,
        2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u, 230400u, 460800u, 921600u})
    if (SpeedConstant(baud) == speed) return baud;
  return 0;
}

// Raw 8 bits at the given speed and stop bits. Without this the slave would
// echo what the simulator writes straight back into its own input.
bool MakeRaw(int fd, std::uint32_t baud, int stopBits) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  if (stopBits == 2) t.c_cflag |= CSTOPB;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, SpeedConstant(baud));
  cfsetospeed(&t, SpeedConstant(baud));
  return tcsetattr(fd, TCSANOW, &t) == 0;
}

std::string Errno(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

} // namespace

PtyPort::~PtyPort() {
  RemoveLink();
  Close();
}

std::string LineText(const PtyLine& line) {
  return std::to_string(line.baud) + ' ' + std::to_string(line.dataBits) + line.parity +
         std::to_string(line.stopBits);
}

std::optional<PtyLine> PtyPort::LineNow() const {
  termios t{};
  if (slave_ < 0 || tcgetattr(slave_, &t) != 0) return std::nullopt;
  const std::optional<LineFraming> framing = ReadLineFraming(slave_);
  if (!framing) return std::nullopt;
  PtyLine line;
  line.baud = SpeedNumber(cfgetospeed(&t));
  line.dataBits = framing->dataBits;
  line.parity = framing->parity == LineFraming::Parity::None   ? 'N'
                : framing->parity == LineFraming::Parity::Odd  ? 'O'
                : framing->parity == LineFraming::Parity::Even ? 'E'
                                                               : '?';
  line.stopBits = framing->twoStopBits ? 2 : 1;
  return line;
}

bool PtyPort::Open(std::uint32_t baud, int stopBits, std::string& error) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) {
    error = Errno("posix_openpt");
    return false;
  }
  if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
    error = Errno("grantpt/unlockpt");
    Close();
    return false;
  }
  char name[128] = {};
  if (ptsname_r(master_, name, sizeof name) != 0) {
    error = Errno("ptsname");
    Close();
    return false;
  }
  slavePath_ = name;
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    error = Errno("open slave");
    Close();
    return false;
  }
  if (!MakeRaw(slave_, baud, stopBits)) {
    error = Errno("tcsetattr");
    Close();
    return false;
  }
  const int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0 ||
      fcntl(master_, F_SETFD, FD_CLOEXEC) != 0) {
    error = Errno("fcntl");
    Close();
    return false;
  }
  return true;
}

bool PtyPort::CreateLink(const std::string& path, std::string& error) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      error = path + " exists and is not a symlink";
      return false;
    }
    if (unlink(path.c_str()) != 0) {
      error = Errno("unlink old link");
      return false;
    }
  }
  if (symlink(slavePath_.c_str(), path.c_str()) != 0) {
    error = Errno("symlink");
    return false;
  }
  linkPath_ = path;
  return true;
}

void PtyPort::RemoveLink() {
  if (linkPath_.empty()) return;
  char target[PATH_MAX] = {};
  const ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
  // Another simulator may have taken the name over since: leave its link alone.
  if (n > 0 && std::string(target, std::size_t(n)) == slavePath_) unlink(linkPath_.c_str());
  linkPath_.clear();
}

void PtyPort::Close() {
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = master_ = -1;
}

std::uint16_t PtyRxSource::RxBytesWaiting() {
  int n = 0;
  if (fd_ < 0 || ioctl(fd_, FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<std::uint16_t>(std::min(n, 0xFFFF));
}

std::uint16_t PtyRxSource::ReadPort(std::uint8_t* dest, std::uint16_t n) {
  if (fd_ < 0 || dest == nullptr || n == 0) return 0;
  for (;;) {
    const ssize_t r = ::read(fd_, dest, n);
    if (r > 0) return static_cast<std::uint16_t>(r);
    if (r < 0 && errno == EINTR) continue;
    return 0; // EAGAIN, EIO, end of file: nothing this time
  }
}

LinePacer::LinePacer(std::uint32_t baud, bool enabled)
    : enabled_(enabled && baud > 0),
      byteTime_(std::chrono::nanoseconds(baud > 0 ? 10'000'000'000LL / baud : 0)),
      // About 10 ms of wire time per step keeps the poll loop calm at high
      // rates and still moves single bytes at 300 baud.
      batch_(std::max<std::size_t>(1, baud / 1000)) {}

std::size_t LinePacer::Allowance(Clock::time_point now) const {
  if (!enabled_) return SIZE_MAX;
  return now >= busyUntil_ ? batch_ : 0;
}

void LinePacer::Spend(std::size_t n, Clock::time_point now, bool continuing) {
  if (!enabled_ || n == 0) return;
  // Bytes that were already waiting when the line came free follow on from
  // where the last ones ended: a wake-up that comes a little late (poll()
  // rounds to milliseconds) is then made up instead of adding up over a long
  // transfer. After an idle line the schedule starts afresh.
  const Clock::time_point start = continuing ? busyUntil_ : std::max(busyUntil_, now);
  busyUntil_ = start + byteTime_ * static_cast<long long>(n);
}

void WireWriter::Queue(std::vector<std::uint8_t> bytes, std::chrono::milliseconds pauseBefore,
                       Clock::time_point now) {
  // A reader that never drains the pty must not let us grow without bound:
  // a real line would simply lose the bytes.
  constexpr std::size_t kMaxQueued = 1u << 20;
  if (bytes.empty() || queuedBytes_ + bytes.size() > kMaxQueued) return;
  if (queue_.empty()) lastDone_ = std::max(lastDone_, now - pauseBefore);
  queuedBytes_ += bytes.size();
  queue_.push_back(Segment{std::move(bytes), 0, pauseBefore});
}

WireWriter::Clock::time_point WireWriter::FrontReadyAt() const {
  const Segment& s = queue_.front();
  if (s.sent > 0) return Clock::time_point{};
  return lastDone_ + s.pauseBefore;
}

void WireWriter::Flush(Clock::time_point now) {
  blocked_ = false;
  while (!queue_.empty()) {
    Segment& s = queue_.front();
    if (now < FrontReadyAt()) return;
    const std::size_t allowance = pacer_.Allowance(now);
    if (allowance == 0) return;
    const std::size_t want = std::min(s.bytes.size() - s.sent, allowance);
    const ssize_t w = ::write(fd_, s.bytes.data() + s.sent, want);
    if (w < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        blocked_ = true;
        return;
      }
      // The master is unusable; keeping the bytes would only spin.
      queue_.clear();
      queuedBytes_ = 0;
      return;
    }
    pacer_.Spend(std::size_t(w), now, s.sent > 0);
    s.sent += std::size_t(w);
    queuedBytes_ -= std::size_t(w);
    if (s.sent == s.bytes.size()) {
      // With pacing the last byte leaves the wire only when the bucket runs dry.
      lastDone_ = pacer_.enabled() ? std::max(now, pacer_.FreeAt()) : now;
      queue_.pop_front();
    }
    if (pacer_.enabled()) return; // one batch per pass; the next waits for wire time
  }
}

std::optional<WireWriter::Clock::time_point> WireWriter::NextTime(Clock::time_point now) const {
  if (queue_.empty() || blocked_) return std::nullopt;
  Clock::time_point t = FrontReadyAt();
  if (pacer_.enabled()) t = std::max(t, pacer_.FreeAt());
  return std::max(t, now);
}
