#pragma once
// ProtocolEngine: the rules of the conversation with one DTU, with no I/O, no
// thread and no clock of its own. Whoever owns the port and the clock (the
// session over a serial port, a page over Web Serial) drives it:
//
//   1. Start an operation with the current time: StartEnter, StartReadParams,
//      StartReadSysInfo, StartWriteParams, StartDownload (Leave needs no wait).
//   2. Do what the returned step says: write its frames whole and in order
//      (a frame marked as a piece is a download answer, with its progress);
//      when it is finished, its reason says how the operation ended and the
//      results (version(), params(), sysInfo()) hold what the unit sent.
//   3. Otherwise wait, and hand over what happens: OnBytes with every byte
//      received and the time, OnTime once the step's deadline has come, End
//      when the port failed, the device went away or the user cancelled.
//      Each of them returns the next step; go on at 2.
//
// Times are milliseconds on any clock of the caller's that never goes back.
// Every limit and guard of the conversation is here, with its unit: the
// answers' time limits, the download's stall and repeat guards, serving,
// cutting and ending the download. Frames are found by the one receive parser
// (link/rx_buffer.h). The engine is a plain value: copyable, no callbacks,
// no exceptions, no allocation beyond the frames, notes and the image it
// holds.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/link_constants.h"
#include "link/rx_buffer.h"
#include "params/app_params.h"
#include "params/sys_info.h"

// Protocol time limits; tests pass short ones.
struct SessionTimings {
  std::chrono::milliseconds connect = k7v::kConnectTimeout; // answer to the switch command
  std::chrono::milliseconds params = k7v::kParamTimeout;    // answers to commands 3, 4 and 7
  std::chrono::milliseconds downloadStall = k7v::kDownloadStallLimit; // no request for this long
  unsigned repeatLimit = k7v::kRepeatedPieceLimit; // same offset asked this often in a row
};

// How an operation ended.
enum class SessionReason {
  Ok,
  NoAnswer,         // nothing matching came within the time limit
  IncompleteAnswer, // the answer came but is too short to hold what it must
  Refused,          // the unit answered no (write result not 1, download 0xE4)
  LinkLost,         // the device vanished (unplugged, read error)
  Cancelled,        // the user ended it
  PortError,        // the port could not be opened
  SettingsRefused,  // the port refused the line settings
  StoppedAsking,    // download: no request within the stall limit
  RepeatedPiece,    // download: the same piece asked repeatLimit times in a row
  WriteFailed,      // a frame could not be written although the port is open
  NotOpen,          // the port is not open
};

// A short English name of the reason ("no answer", "cancelled"...), for logs.
const char* SessionReasonName(SessionReason reason);

// What the download announces and serves.
struct DownloadImage {
  std::span<const std::uint8_t> body; // the image body; requests are served from it
  std::int32_t length = 0;            // body length announced; requests are cut at it
  std::string name;                   // device bytes; the start frame keeps the first 13
  std::string version;                // at most 8 bytes are sent
  std::uint16_t checksum = 0;
};

// After each piece sent.
struct DownloadProgress {
  std::uint32_t offset = 0;  // where the piece just sent starts
  std::uint16_t count = 0;   // its bytes
  std::uint64_t reached = 0; // offset + count: how far into the body the unit has got
  std::int32_t total = 0;    // the announced body length
};

// One frame for the caller to write.
struct EngineSend {
  std::vector<std::uint8_t> frame;
  bool piece = false;        // a download answer; progress describes it
  DownloadProgress progress; // once it has been written
};

// What the caller does next.
struct EngineStep {
  static constexpr std::int64_t kNoDeadline = -1;
  std::vector<EngineSend> send;             // write these first, in this order
  bool finished = false;                    // the operation has ended once they are written
  SessionReason reason = SessionReason::Ok; // how, when finished
  std::int64_t deadline = kNoDeadline;      // not finished: call OnTime at this time
  std::vector<std::string> notes; // for the developer's log: why it ended, what it dropped
};

class ProtocolEngine {
public:
  using Millis = std::int64_t;

  explicit ProtocolEngine(SessionTimings timings = {});

  void SetTimings(const SessionTimings& timings) { timings_ = timings; }
  const SessionTimings& timings() const { return timings_; }

  // Each Start replaces an operation that still waits (SetAside keeps it).
  // The switch command always goes out as six bytes: a shorter one is padded
  // with zero bytes, a longer one cut. Ends on command 1; version() holds the
  // payload's first 8 bytes up to a zero.
  EngineStep StartEnter(std::span<const std::uint8_t> switchCommand, Millis now);
  // Drops what arrived before (the receive buffer and the bytes kept), asks
  // for the record (command 3); a payload shorter than the record is
  // IncompleteAnswer. The switch command, the write and the download drop it too.
  EngineStep StartReadParams(Millis now);
  // Asks for the product information (command 7), keeping what arrived
  // before: it follows a parameter read. A short answer gives the texts it
  // holds whole.
  EngineStep StartReadSysInfo(Millis now);
  // Sends the record (command 4): Ok when the unit answers 1, Refused for
  // any other byte, IncompleteAnswer for none.
  EngineStep StartWriteParams(const TAppParams& params, Millis now);
  // Announces the image (0xE1; the body is copied) and serves the unit's
  // requests, cut at the announced length: Ok on 0xE3, Refused on 0xE4,
  // StoppedAsking when no request came within the stall limit of the last
  // one, RepeatedPiece when one offset is asked repeatLimit times in a row.
  // Other frames are passed over.
  EngineStep StartDownload(const DownloadImage& image, Millis now);
  // Command 2, finished at once: no answer is awaited, so it may go out at
  // any time and leaves an operation that waits as it is.
  static EngineStep Leave();

  // Takes bytes received; when nothing waits they are kept for the next
  // operation and the step has nothing to do. Never fails.
  EngineStep OnBytes(std::span<const std::uint8_t> bytes, Millis now);
  // The time has come (or passed): NoAnswer, StoppedAsking or a new deadline.
  EngineStep OnTime(Millis now);
  // Ends the operation for a reason of the caller's (Cancelled, LinkLost,
  // WriteFailed, NotOpen); the step is finished with it, nothing to send.
  EngineStep End(SessionReason reason);

  // True while an operation waits for the unit.
  bool Waiting() const { return op_.kind != Kind::None; }

  // What the unit sent, from the last operation of each kind that ended Ok.
  const std::string& version() const { return version_; }
  const TAppParams& params() const { return params_; }
  const TSysInfo& sysInfo() const { return sysInfo_; }

private:
  enum class Kind {
    None,
    Enter,
    ReadParams,
    ReadSysInfo,
    WriteParams,
    Download
  };

public:
  // A waiting operation set aside, so that another can run meanwhile (a
  // window that lets a second click in during a wait). The bytes received
  // stay with the engine and serve whichever operation waits.
  class Operation {
    friend class ProtocolEngine;
    Kind kind = Kind::None;
    Millis deadline = 0; // answer: the limit's end; download: the stall's
    std::uint8_t answer = 0;
    std::vector<std::uint8_t> body;
    std::int32_t length = 0;
    bool haveLast = false;
    std::uint32_t lastOffset = 0;
    unsigned sameInARow = 0;
  };
  // Takes the waiting operation out; the engine is idle after it.
  Operation SetAside();
  // Puts it back in place of whatever waits; its deadline is unchanged.
  void TakeUp(Operation operation);

private:
  // Starts waiting for the answer with this command after sending frame.
  EngineStep StartAnswer(Kind kind, std::uint8_t answer, std::chrono::milliseconds limit,
                         std::vector<std::uint8_t> frame, Millis now);
  // Handles what is buffered, then the time; the step to return.
  EngineStep Run(EngineStep step, Millis now);
  // The next complete frame from the buffer and the bytes kept; nullopt when none.
  std::optional<TDeviceFrame> NextFrame();
  // Handles one frame of the operation that waits.
  void OnFrame(const TDeviceFrame& frame, Millis now, EngineStep& step);
  void OnAnswer(const TDeviceFrame& frame, EngineStep& step);
  void OnPieceRequest(const TDeviceFrame& frame, Millis now, EngineStep& step);
  void Finish(SessionReason reason, EngineStep& step);
  void Forget();
  void Keep(std::span<const std::uint8_t> bytes);

  SessionTimings timings_;
  TRxBuffer rx_;
  std::vector<std::uint8_t> input_; // received, not yet taken into rx_
  std::size_t inputPos_ = 0;
  Operation op_;
  std::string version_;
  TAppParams params_;
  TSysInfo sysInfo_;
};
