#pragma once
// The simulated DTU's protocol logic, free of any I/O: bytes from the wire go
// in, frames go out through the WireWriter, time-outs run from OnTimer.
//
// Outside configuration mode the device forwards serial data and only watches
// for its switch command. In configuration mode it parses frames and, like a
// strict unit, takes a switch command among them for noise: a tool that was
// closed without sending command 2 must send it before the switch command
// (--switch-in-config makes it answer there too).

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "params/app_params.h"
#include "sim/frame_scanner.h"
#include "sim/sim_options.h"

class WireWriter;
class SimLog;

class DtuDevice {
public:
  using Clock = std::chrono::steady_clock;
  // A partial frame with no new byte for this long is dropped byte by byte.
  static constexpr std::chrono::milliseconds kStalePartial{300};
  // Largest image the device takes; a bigger announcement is refused with 0xE4.
  static constexpr std::uint32_t kMaxImage = 16u << 20;

  DtuDevice(const SimOptions& options, const TAppParams& record, WireWriter& out, SimLog& log);

  // Takes bytes read from the wire; only InputRoom() bytes are kept.
  void OnBytes(std::span<const std::uint8_t> bytes, Clock::time_point now);
  // Bytes that arrived while the PC's line settings differ from the unit's:
  // the UART makes nothing of them. With --garbage, noise goes back.
  void OnNoise(std::span<const std::uint8_t> bytes, Clock::time_point now);
  // Runs the chunk-answer and stale-frame time-outs that are due.
  void OnTimer(Clock::time_point now);
  // The earliest time OnTimer has work; nullopt when nothing waits for time.
  std::optional<Clock::time_point> NextDeadline() const;

  std::size_t InputRoom() const { return scanner_.Room(); }
  // True once --drop-after has fired: the caller closes the pty and exits.
  bool Unplugged() const { return unplugged_; }
  bool InConfigMode() const { return configMode_; }
  bool DownloadRunning() const { return dl_.active; }
  const TAppParams& record() const { return record_; }

private:
  enum class Probe {
    None,
    AtEnd,
    PastEnd
  };
  struct Download {
    bool active = false;
    std::string name, version;
    std::uint32_t length = 0;
    std::uint16_t sum = 0;
    std::vector<std::uint8_t> image;
    std::uint32_t next = 0;     // offset of the next piece not yet received
    std::uint32_t received = 0; // bytes of the body received in order
    bool repeated = false;
    bool noiseSent = false;
    int probesAsked = 0;
    // The request that waits for its answer.
    bool waiting = false;
    Probe probe = Probe::None;
    std::uint32_t reqOffset = 0;
    std::uint16_t reqCount = 0;
    std::uint16_t expected = 0;
    unsigned attempts = 0;
    Clock::time_point deadline{};
  };

  void Process(Clock::time_point now, bool flushPartial);
  bool PushSwitchByte(std::uint8_t b); // true when the window now holds the switch command
  void OnSwitch(Clock::time_point now);
  void HandleFrame(const std::vector<std::uint8_t>& frame, Clock::time_point now);

  void AnswerReadParams(Clock::time_point now);
  void AnswerWriteParams(std::span<const std::uint8_t> payload, Clock::time_point now);
  void AnswerSysInfo(Clock::time_point now);
  void StartDownload(std::span<const std::uint8_t> payload, Clock::time_point now);
  void OnChunkAnswer(const std::vector<std::uint8_t>& frame, Clock::time_point now);
  void RequestNext(Clock::time_point now);
  void SendRequest(Clock::time_point now);
  void FinishDownload(Clock::time_point now);
  void EndDownload(std::uint8_t command, Clock::time_point now);

  // Sends one frame, applying --bad-checksum, --garbage and --split-pause.
  void Emit(std::uint8_t command, std::span<const std::uint8_t> payload, Clock::time_point now);
  // True when this request of command goes unanswered (--silent, or the
  // first one with --silent-once); counts the request.
  bool Silent(std::uint8_t command);
  bool Short(std::uint8_t command) const;
  void SaveState(const char* name, std::span<const std::uint8_t> bytes);

  const SimOptions& opt_;
  TAppParams record_;
  std::string version_; // answered to the switch command; a verified download brings its own
  WireWriter& out_;
  SimLog& log_;
  FrameScanner scanner_;
  bool configMode_ = false;
  std::array<std::uint8_t, 6> window_{};
  std::size_t windowFill_ = 0;
  unsigned framesReceived_ = 0;
  bool unplugged_ = false;
  Clock::time_point lastInput_{};
  Clock::time_point settledAt_{}; // --leave-settle: input before this is lost
  std::size_t noiseIndex_ = 0;
  std::set<std::uint8_t> silencedOnce_; // --silent-once commands already left unanswered
  Download dl_;
};
