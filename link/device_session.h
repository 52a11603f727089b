#pragma once
// DeviceSession: the whole conversation with one DTU over one serial port,
// without any widget. The window and the command line both drive it; each
// operation returns a result whose reason says how it ended, and the caller
// decides what the technician sees.
//
// Threads: a session, its port and its waits belong to the thread that
// creates it (or to which it is moved with moveToThread before first use).
// Several sessions on several threads share nothing. Only cancel() may be
// called from another thread.
//
// Waits are event-driven: they run a nested event loop that wakes on
// arriving bytes, on their time-out, on a lost device or on cancel(), so the
// thread's other events (a window's clicks) are processed while they wait.
// Something processed inside a wait may destroy the owner of the session: an
// owner that can be destroyed that way holds the session in a shared_ptr and
// keeps a copy for the length of each call.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "link/device_link.h"
#include "link/link_constants.h"
#include "link/serial_port.h"
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
  Cancelled,        // cancel() ended it
  PortError,        // the port could not be opened (systemError, systemText)
  SettingsRefused,  // the port refused the line settings (systemError, systemText)
  StoppedAsking,    // download: no request within the stall limit
  RepeatedPiece,    // download: the same piece asked repeatLimit times in a row
  WriteFailed,      // a frame could not be written although the port is open
  NotOpen,          // the port is not open
};

// A short English name of the reason ("no answer", "cancelled"...), for logs.
const char* SessionReasonName(SessionReason reason);

struct SessionResult {
  SessionReason reason = SessionReason::Ok;
  int systemError = 0; // PortError, SettingsRefused: the system's error number (0: none known)
  QString systemText;  // ... and the system's words for it
  bool ok() const { return reason == SessionReason::Ok; }
};

struct VersionResult : SessionResult {
  QString version; // the answer's first 8 payload bytes, up to the first zero
};
struct ParamsResult : SessionResult {
  TAppParams params;
};
struct SysInfoResult : SessionResult {
  TSysInfo info;
};

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
using DownloadProgressFn = std::function<void(const DownloadProgress&)>;

class DeviceSession : public QObject {
  Q_OBJECT
public:
  // port: the serial port to talk over (owned from now on; never null).
  explicit DeviceSession(std::unique_ptr<SerialPort> port, SessionTimings timings = {},
                         QObject* parent = nullptr);
  ~DeviceSession() override;

  void setTimings(const SessionTimings& timings) { timings_ = timings; }
  const SessionTimings& timings() const { return timings_; }

  // Opens and configures the port. PortError or SettingsRefused with the
  // system's code and text on failure; the port is then closed.
  SessionResult open(const LineSettings& settings);
  // Sends the six-byte switch command (shorter text padded with zero bytes,
  // longer cut) and waits for command 1. NoAnswer, Cancelled, LinkLost,
  // WriteFailed or NotOpen on failure; version empty then.
  VersionResult enterConfiguration(const QByteArray& switchCommand);
  // Empties the receive buffer, sends command 3 and waits for the record.
  // IncompleteAnswer when the answer holds fewer than 693 bytes.
  ParamsResult readParams();
  // Sends command 7 (the receive buffer is kept) and waits for the product
  // information; a short answer gives the texts it holds whole.
  SysInfoResult readSysInfo();
  // Empties the receive buffer, sends command 4 with the record and waits for
  // the unit's result: Refused when it is not 1, IncompleteAnswer when the
  // answer has no result byte.
  SessionResult writeParams(const TAppParams& params);
  // Announces the image (0xE1) and serves the unit's requests until it ends
  // the download: Ok on 0xE3, Refused on 0xE4, StoppedAsking, RepeatedPiece,
  // LinkLost, Cancelled (nothing more is sent), WriteFailed or NotOpen.
  // progress runs after every piece sent, on this thread; it may cancel().
  SessionResult download(const DownloadImage& image, const DownloadProgressFn& progress = {});
  // Writes command 2 (leave configuration mode); no answer is awaited.
  // Works after a cancel. NotOpen or WriteFailed when it could not be written.
  SessionResult leaveConfiguration();
  // Closes the port; never fails. A wait in progress ends as Cancelled only
  // when cancel() ran as well, else as LinkLost.
  void close();

  // Ends the running wait at once; every later operation that waits ends as
  // Cancelled at once, sending nothing, until clearCancel(). leaveConfiguration
  // and close still work. Thread-safe (the caller keeps the session alive
  // while another thread may cancel it); never fails.
  void cancel();
  // Lets waits run again after cancel(). Call on the session's thread.
  void clearCancel();
  bool cancelled() const;

  bool isOpen() const;
  // The link underneath: the port, the receive buffer and the connection flag.
  DeviceLink& link() { return link_; }

private:
  // The ending of a wait that did not get its frame.
  SessionReason WaitEnding(DeviceLink::WaitResult result) const;
  // Writes a frame; the reason when it could not.
  SessionReason Send(std::span<const std::uint8_t> frame);

  DeviceLink link_;
  SessionTimings timings_;
};
