#include "sim/dtu_device.h"

#include <algorithm>
#include <cstring>

#include "firmware/firmware_image.h"
#include "link/device_frame.h"
#include "link/link_constants.h"
#include "sim/pty_port.h"
#include "sim/sim_log.h"
#include "sim/sim_state.h"

namespace {

using namespace std::chrono_literals;

std::uint32_t GetU32(std::span<const std::uint8_t> p, std::size_t at) {
  return std::uint32_t(p[at]) | (std::uint32_t(p[at + 1]) << 8) | (std::uint32_t(p[at + 2]) << 16) |
         (std::uint32_t(p[at + 3]) << 24);
}
std::uint16_t GetU16(std::span<const std::uint8_t> p, std::size_t at) {
  return static_cast<std::uint16_t>(p[at] | (p[at + 1] << 8));
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

// The bytes of a fixed-width text field up to its first zero byte.
std::string FieldText(std::span<const std::uint8_t> field) {
  const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
  return std::string(field.begin(), end);
}

// Copies text into a zero-filled field of n bytes at p, cut at n.
void PutText(std::uint8_t* p, std::size_t n, std::string_view text) {
  std::memcpy(p, text.data(), std::min(n, text.size()));
}

// Text from the wire made safe for a log line: bytes outside printable ASCII
// as \xNN.
std::string Printable(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += char(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string Hex2(std::uint8_t v) {
  static const char kHex[] = "0123456789ABCDEF";
  return {'0', 'x', kHex[v >> 4], kHex[v & 0x0F]};
}

// Noise for --garbage. Every 0xAA is followed by a command code or a length
// the parser rejects at once, so the noise never swallows the real frame that
// follows it (a plausible header would make the PC wait for its bytes).
const std::vector<std::uint8_t> kNoise[] = {
    {0x00, 0xAA, 0x00, 0x13, 0x37},
    {0xAA, 0xFF, 0x55},
    {0xBB, 0x23, 0xAA},             // the AA is followed by the frame's own AA
    {0x23, 0xAA, 0x01, 0x05, 0x00}, // length 5: too short
    {0xAA, 0x03, 0xFF, 0xFF},       // length 65535: too long
};

// The product information block of the command 7 answer: 49 bytes.
std::vector<std::uint8_t> SysInfoBlock(const std::string& serialNumber) {
  std::vector<std::uint8_t> p(k7v::kSysInfoMinPayload, 0);
  PutText(p.data() + 0, 4, "DTU1");
  PutText(p.data() + 4, 12, "K7-GPRS-SIM1");
  PutText(p.data() + 16, 4, "232");
  PutText(p.data() + 20, 13, "BOOT1.3-HW1.0"); // the tool does not show these 13 bytes
  PutText(p.data() + 33, 16, serialNumber);
  return p;
}

} // namespace

DtuDevice::DtuDevice(const SimOptions& options, const TAppParams& record, WireWriter& out,
                     SimLog& log)
    : opt_(options), record_(record), version_(options.version), out_(out), log_(log),
      configMode_(options.startInConfig) {}

bool DtuDevice::Silent(std::uint8_t command) {
  if (opt_.silent.count(command)) return true;
  return opt_.silentOnce.count(command) && silencedOnce_.insert(command).second;
}
bool DtuDevice::Short(std::uint8_t command) const { return opt_.shortAnswer.count(command) > 0; }

void DtuDevice::OnBytes(std::span<const std::uint8_t> bytes, Clock::time_point now) {
  if (unplugged_ || bytes.empty()) return;
  if (now < settledAt_) {
    log_.Bytes("RX lost", bytes);
    log_.Event("bytes lost while leaving configuration mode (--leave-settle)");
    return;
  }
  const std::size_t kept = scanner_.Append(bytes);
  log_.Bytes("RX bytes", bytes.first(kept));
  lastInput_ = now;
  Process(now, false);
}

void DtuDevice::OnNoise(std::span<const std::uint8_t> bytes, Clock::time_point now) {
  if (unplugged_ || bytes.empty()) return;
  log_.Bytes("RX noise", bytes);
  if (!opt_.garbage) return;
  // What a UART at another speed makes of a byte: framing errors and stray
  // bits. No 0xAA among them, so the PC's parser never waits on a false start.
  static const std::uint8_t kMisread[] = {0xF0, 0x00, 0x80, 0xFE, 0xE0, 0x1C, 0x78, 0xFF};
  std::vector<std::uint8_t> noise;
  for (std::size_t i = 0; i < std::min<std::size_t>(bytes.size(), 64); ++i)
    noise.push_back(kMisread[(bytes[i] + i) % std::size(kMisread)]);
  log_.Bytes("TX noise", noise);
  out_.Queue(std::move(noise), 0ms, now);
}

void DtuDevice::OnTimer(Clock::time_point now) {
  if (unplugged_) return;
  if (configMode_ && !scanner_.Empty() && now - lastInput_ >= kStalePartial) Process(now, true);
  if (dl_.active && dl_.waiting && now >= dl_.deadline) {
    dl_.waiting = false;
    if (dl_.probe != Probe::None) {
      log_.Event(std::string(dl_.probe == Probe::AtEnd ? "beyond L" : "beyond L+100") +
                 ": no answer");
      RequestNext(now);
    } else if (dl_.attempts >= opt_.maxRetries) {
      log_.Event("piece at " + std::to_string(dl_.reqOffset) + ": no valid answer after " +
                 std::to_string(dl_.attempts) + " requests, download failed");
      EndDownload(k7v::kCmdDownloadFailed, now);
    } else {
      log_.Event("re-request piece at " + std::to_string(dl_.reqOffset));
      SendRequest(now);
    }
  }
}

std::optional<DtuDevice::Clock::time_point> DtuDevice::NextDeadline() const {
  std::optional<Clock::time_point> t;
  if (unplugged_) return t;
  if (configMode_ && !scanner_.Empty()) t = lastInput_ + kStalePartial;
  if (dl_.active && dl_.waiting) t = t ? std::min(*t, dl_.deadline) : dl_.deadline;
  return t;
}

void DtuDevice::Process(Clock::time_point now, bool flushPartial) {
  while (!unplugged_) {
    if (now < settledAt_) { // what came with command 2 is lost with what follows it
      std::vector<std::uint8_t> lost;
      while (!scanner_.Empty()) lost.push_back(scanner_.PopFront());
      if (!lost.empty()) log_.Bytes("RX lost", lost);
      return;
    }
    if (!configMode_) {
      if (scanner_.Empty()) return;
      if (PushSwitchByte(scanner_.PopFront())) OnSwitch(now);
      continue;
    }
    FrameScanner::Item item = scanner_.Next(flushPartial);
    if (item.kind == FrameScanner::Kind::NeedMore) return;
    if (item.kind == FrameScanner::Kind::Noise) {
      if (PushSwitchByte(item.noise)) {
        if (opt_.switchInConfig)
          OnSwitch(now);
        else
          log_.Event("switch command ignored in configuration mode");
      }
      continue;
    }
    windowFill_ = 0; // the switch command must not straddle a frame
    HandleFrame(item.frame, now);
  }
}

bool DtuDevice::PushSwitchByte(std::uint8_t b) {
  if (windowFill_ < window_.size()) {
    window_[windowFill_++] = b;
  } else {
    std::memmove(window_.data(), window_.data() + 1, window_.size() - 1);
    window_.back() = b;
  }
  if (windowFill_ < window_.size()) return false;
  const auto sw = record_.FieldBytes(AppField::switch_cmd);
  if (sw.size() != window_.size() || !std::equal(sw.begin(), sw.end(), window_.begin()))
    return false;
  windowFill_ = 0;
  return true;
}

void DtuDevice::OnSwitch(Clock::time_point now) {
  log_.Bytes("RX switch", window_);
  if (opt_.silentOnce.count(k7v::kCmdSwitchAnswer) &&
      silencedOnce_.insert(k7v::kCmdSwitchAnswer).second) {
    log_.Event("first switch command ignored (--silent-once)");
    return;
  }
  if (!configMode_) log_.Event("configuration mode");
  configMode_ = true;
  if (opt_.silent.count(k7v::kCmdSwitchAnswer)) {
    log_.Event("switch command not answered (--silent)");
    return;
  }
  std::array<std::uint8_t, 8> version{};
  PutText(version.data(), version.size(), version_);
  const std::size_t n = Short(k7v::kCmdSwitchAnswer) ? 3 : version.size();
  Emit(k7v::kCmdSwitchAnswer, std::span(version).first(n), now);
}

void DtuDevice::HandleFrame(const std::vector<std::uint8_t>& frame, Clock::time_point now) {
  log_.Bytes("RX frame", frame);
  ++framesReceived_;
  if (opt_.dropAfter > 0 && framesReceived_ >= opt_.dropAfter) {
    log_.Event("unplugged after " + std::to_string(framesReceived_) + " frames");
    unplugged_ = true;
    return;
  }
  const std::span<const std::uint8_t> payload =
      std::span(frame).subspan(k7v::kPayloadOffset, frame.size() - k7v::kFrameOverhead);
  switch (frame[1]) {
  case k7v::kCmdLeaveConfig:
    if (dl_.active) log_.Event("download abandoned");
    dl_ = Download{};
    configMode_ = false;
    windowFill_ = 0;
    settledAt_ = now + opt_.leaveSettle;
    log_.Event("left configuration mode");
    break;
  case k7v::kCmdReadParams:
    AnswerReadParams(now);
    break;
  case k7v::kCmdWriteParams:
    AnswerWriteParams(payload, now);
    break;
  case k7v::kCmdSysInfo:
    AnswerSysInfo(now);
    break;
  case k7v::kCmdDownloadStart:
    StartDownload(payload, now);
    break;
  case k7v::kCmdChunk:
    OnChunkAnswer(frame, now);
    break;
  default:
    log_.Event("command " + Hex2(frame[1]) + " ignored");
    break;
  }
}

void DtuDevice::AnswerReadParams(Clock::time_point now) {
  if (Silent(k7v::kCmdReadParams)) {
    log_.Event("command 3 not answered (--silent, --silent-once)");
    return;
  }
  const auto& bytes = record_.bytes();
  const std::size_t n = Short(k7v::kCmdReadParams) ? 100 : bytes.size();
  Emit(k7v::kCmdReadParams, std::span(bytes).first(n), now);
}

void DtuDevice::AnswerWriteParams(std::span<const std::uint8_t> payload, Clock::time_point now) {
  std::uint8_t result = 0;
  if (payload.size() != TAppParams::kSize) {
    log_.Event("write refused: payload of " + std::to_string(payload.size()) + " bytes");
  } else if (opt_.refuseWrites) {
    log_.Event("write refused (--refuse-writes)");
  } else {
    record_ = TAppParams::FromBytes(payload);
    SaveState("record.bin", record_.bytes());
    log_.Event("record stored");
    result = 1;
  }
  if (Silent(k7v::kCmdWriteParams)) {
    log_.Event("command 4 not answered (--silent, --silent-once)");
    return;
  }
  const std::uint8_t answer[1] = {result};
  Emit(k7v::kCmdWriteParams, std::span(answer).first(Short(k7v::kCmdWriteParams) ? 0 : 1), now);
}

void DtuDevice::AnswerSysInfo(Clock::time_point now) {
  if (Silent(k7v::kCmdSysInfo)) {
    log_.Event("command 7 not answered (--silent, --silent-once)");
    return;
  }
  const std::vector<std::uint8_t> block = SysInfoBlock(opt_.serialNumber);
  const std::size_t n = Short(k7v::kCmdSysInfo) ? 20 : block.size();
  Emit(k7v::kCmdSysInfo, std::span(block).first(n), now);
}

void DtuDevice::StartDownload(std::span<const std::uint8_t> payload, Clock::time_point now) {
  if (Silent(k7v::kCmdDownloadStart)) {
    log_.Event("download start ignored (--silent, --silent-once)");
    return;
  }
  // Name 13, version 9, length 4, sum 2.
  constexpr std::size_t kStartPayload = k7v::kDownloadStartLength - k7v::kFrameOverhead;
  if (payload.size() < kStartPayload) {
    log_.Event("download start ignored: payload of " + std::to_string(payload.size()) + " bytes");
    return;
  }
  if (dl_.active) log_.Event("download restarted");
  Download d;
  d.name = FieldText(payload.subspan(0, k7v::kDownloadNameSize));
  d.version = FieldText(payload.subspan(k7v::kDownloadNameSize, k7v::kDownloadVersionSize));
  d.length = GetU32(payload, 22);
  d.sum = GetU16(payload, 26);
  log_.Event("download start name=" + Printable(d.name) + " version=" + Printable(d.version) +
             " length=" + std::to_string(d.length) + " sum=" + std::to_string(d.sum));
  if (d.length > kMaxImage) {
    log_.Event("download refused: image too large");
    EndDownload(k7v::kCmdDownloadFailed, now);
    return;
  }
  d.active = true;
  d.image.assign(d.length, 0);
  dl_ = std::move(d);
  RequestNext(now);
}

void DtuDevice::RequestNext(Clock::time_point now) {
  if (dl_.next < dl_.length) {
    dl_.probe = Probe::None;
    dl_.reqOffset = dl_.next;
    dl_.reqCount =
        static_cast<std::uint16_t>(std::min<std::uint32_t>(opt_.chunkSize, dl_.length - dl_.next));
    dl_.expected = dl_.reqCount;
  } else if (opt_.requestBeyond && dl_.probesAsked < 2) {
    const bool atEnd = dl_.probesAsked == 0;
    ++dl_.probesAsked;
    dl_.probe = atEnd ? Probe::AtEnd : Probe::PastEnd;
    dl_.reqOffset = dl_.length + (atEnd ? 0 : 100);
    dl_.reqCount = opt_.chunkSize;
    dl_.expected = 0;
  } else {
    FinishDownload(now);
    return;
  }
  dl_.attempts = 0;
  SendRequest(now);
}

void DtuDevice::SendRequest(Clock::time_point now) {
  std::uint8_t payload[6];
  PutU32(payload, dl_.reqOffset);
  PutU16(payload + 4, dl_.reqCount);
  ++dl_.attempts;
  dl_.waiting = true;
  // The time-out counts from the moment the answer could be complete: add
  // the pause of a split request and, on a paced line, the wire time of the
  // request and of the expected answer.
  auto wait = std::chrono::duration_cast<Clock::duration>(opt_.chunkTimeout + opt_.splitPause);
  if (opt_.pace && opt_.baud > 0) {
    const long long bytes = 12 + 8 + 12 + dl_.expected;
    wait += std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(bytes * 10'000'000'000LL / opt_.baud));
  }
  dl_.deadline = now + wait;
  Emit(k7v::kCmdChunk, std::span(payload).first(Short(k7v::kCmdChunk) ? 4 : 6), now);
}

void DtuDevice::OnChunkAnswer(const std::vector<std::uint8_t>& frame, Clock::time_point now) {
  if (!dl_.active || !dl_.waiting) {
    log_.Event("chunk answer ignored: no request waiting");
    return;
  }
  const auto payload = std::span(frame).subspan(k7v::kPayloadOffset, frame.size() - 6);
  if (payload.size() < 6) {
    log_.Event("bad chunk answer: payload of " + std::to_string(payload.size()) + " bytes");
    return;
  }
  const std::uint32_t offset = GetU32(payload, 0);
  const std::uint16_t count = GetU16(payload, 4);
  const std::string what = "offset " + std::to_string(offset) + " count " + std::to_string(count) +
                           " length " + std::to_string(frame.size());

  if (dl_.probe == Probe::PastEnd) {
    dl_.waiting = false;
    log_.Event("beyond L+100: answered " + what);
    RequestNext(now);
    return;
  }
  const bool ok =
      offset == dl_.reqOffset && count == dl_.expected && frame.size() == std::size_t(count) + 12;
  if (dl_.probe == Probe::AtEnd) {
    dl_.waiting = false;
    log_.Event(std::string(ok ? "beyond L: answered " : "beyond L: bad answer ") + what);
    RequestNext(now);
    return;
  }
  if (!ok) {
    // Possibly a late answer to an earlier request; the time-out asks again.
    log_.Event("bad chunk answer: " + what + ", wanted offset " + std::to_string(dl_.reqOffset) +
               " count " + std::to_string(dl_.expected));
    return;
  }

  // ok implies offset + count <= length: expected was cut at the end of the body.
  std::copy_n(payload.begin() + 6, count, dl_.image.begin() + offset);
  dl_.waiting = false;

  if (opt_.noiseFrame && !dl_.noiseSent) {
    dl_.noiseSent = true;
    log_.Event("stray command 3 frame");
    Emit(k7v::kCmdReadParams, record_.bytes(), now);
  }
  if (opt_.stuckChunk) {
    log_.Event("stuck at piece " + std::to_string(offset));
    dl_.attempts = 0;
    SendRequest(now);
    return;
  }
  if (opt_.repeatChunk && !dl_.repeated) {
    dl_.repeated = true;
    log_.Event("repeat piece at " + std::to_string(offset));
    dl_.attempts = 0;
    SendRequest(now);
    return;
  }
  dl_.next = offset + count;
  dl_.received = dl_.next;
  RequestNext(now);
}

void DtuDevice::FinishDownload(Clock::time_point now) {
  const std::uint16_t sum = Sum16(dl_.image.data(), dl_.image.size());
  const bool lengthOk = dl_.received == dl_.length;
  const bool sumOk = sum == dl_.sum;
  log_.Event("download received length=" + std::to_string(dl_.received) +
             " sum=" + std::to_string(sum) + (lengthOk && sumOk ? " verified" : " mismatch"));
  if (lengthOk && sumOk && !opt_.endFail) {
    SaveState("image.bin", dl_.image);
    // The unit runs the new firmware now, and says so to the next switch command.
    if (!dl_.version.empty()) {
      version_ = dl_.version.substr(0, 8);
      log_.Event("version now " + Printable(version_));
      SaveState("version",
                std::span(reinterpret_cast<const std::uint8_t*>(version_.data()), version_.size()));
    }
    EndDownload(k7v::kCmdDownloadDone, now);
    if (opt_.restartAfterDownload) {
      configMode_ = false;
      windowFill_ = 0;
      log_.Event("restarted into the new firmware: left configuration mode");
    }
  } else {
    if (opt_.endFail) log_.Event("download refused (--end-fail)");
    EndDownload(k7v::kCmdDownloadFailed, now);
  }
}

void DtuDevice::EndDownload(std::uint8_t command, Clock::time_point now) {
  dl_ = Download{};
  if (Silent(command)) {
    log_.Event("end of download not sent (--silent, --silent-once)");
    return;
  }
  Emit(command, {}, now);
}

void DtuDevice::Emit(std::uint8_t command, std::span<const std::uint8_t> payload,
                     Clock::time_point now) {
  std::vector<std::uint8_t> frame(payload.size() + k7v::kFrameOverhead);
  const std::size_t n = BuildFrame(command, payload, frame);
  if (n < k7v::kFrameOverhead) {
    log_.Event("frame for command " + Hex2(command) + " could not be built");
    return;
  }
  frame.resize(n);
  if (opt_.badChecksum.count(command)) frame[n - 2] = static_cast<std::uint8_t>(frame[n - 2] + 1);
  if (opt_.garbage) {
    const auto& noise = kNoise[noiseIndex_++ % std::size(kNoise)];
    log_.Bytes("TX noise", noise);
    out_.Queue(noise, 0ms, now);
  }
  log_.Bytes("TX frame", frame);
  if (opt_.splitPause > 0ms) {
    const auto half = static_cast<std::ptrdiff_t>(n / 2);
    out_.Queue(std::vector<std::uint8_t>(frame.begin(), frame.begin() + half), 0ms, now);
    out_.Queue(std::vector<std::uint8_t>(frame.begin() + half, frame.end()), opt_.splitPause, now);
  } else {
    out_.Queue(std::move(frame), 0ms, now);
  }
}

void DtuDevice::SaveState(const char* name, std::span<const std::uint8_t> bytes) {
  if (opt_.stateDir.empty()) return;
  const std::string path = PathIn(opt_.stateDir, name);
  if (!WriteFileAtomic(path, bytes)) log_.Event("cannot write " + path);
}
