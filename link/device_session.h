#pragma once
// DeviceSession: the whole conversation with one DTU over one serial port,
// without any widget. The window and the command line both drive it; each
// operation returns a result whose reason says how it ended, and the caller
// decides what the technician sees.
//
// The rules of the conversation (time limits, answers, the download's
// guards) are the ProtocolEngine's; the session is the port, the clock and
// the waits around it.
//
// Threads: a session, its port and its waits belong to the thread that
// creates it (or to which it is moved with moveToThread before first use).
// Several sessions on several threads share nothing. Only cancel() may be
// called from another thread.
//
// Waits are event-driven: they run a nested event loop that wakes on
// arriving bytes, on the engine's deadline, on a lost device or on cancel(),
// so the thread's other events (a window's clicks) are processed while they
// wait. An operation started inside another one's wait runs first; the outer
// one then goes on waiting. Something processed inside a wait may destroy
// the owner of the session: an owner that can be destroyed that way holds the
// session in a shared_ptr and keeps a copy for the length of each call.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "link/device_link.h"
#include "link/protocol_engine.h"
#include "link/serial_port.h"
#include "params/app_params.h"
#include "params/sys_info.h"

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

using DownloadProgressFn = std::function<void(const DownloadProgress&)>;
// Runs once an operation's request has gone to the port (written, or its
// write failed), before the wait for the answer; not when nothing was sent.
using RequestSentFn = std::function<void()>;

class DeviceSession : public QObject {
  Q_OBJECT
public:
  // port: the serial port to talk over (owned from now on; never null).
  explicit DeviceSession(std::unique_ptr<SerialPort> port, SessionTimings timings = {},
                         QObject* parent = nullptr);
  ~DeviceSession() override;

  void setTimings(const SessionTimings& timings) { engine_.SetTimings(timings); }
  const SessionTimings& timings() const { return engine_.timings(); }

  // Opens and configures the port. PortError or SettingsRefused with the
  // system's code and text on failure; the port is then closed.
  SessionResult open(const LineSettings& settings);
  // Sends the six-byte switch command (shorter text padded with zero bytes,
  // longer cut) and waits for command 1. NoAnswer, Cancelled, LinkLost,
  // WriteFailed or NotOpen on failure; version empty then.
  VersionResult enterConfiguration(const QByteArray& switchCommand, const RequestSentFn& sent = {});
  // Configuration mode whatever mode the unit is in: the switch command, and
  // only when it gets no answer, command 2 and the switch command once more
  // (a unit left in configuration mode by a crash, a download or another
  // program may take a switch command there for noise). As
  // enterConfiguration on failure.
  VersionResult reachConfiguration(const QByteArray& switchCommand);
  // After a download: command 2, then the switch command again and again
  // until the unit answers (it may restart on the way) or limit has passed
  // since the first one. NoAnswer when it did not answer within limit, else
  // as enterConfiguration.
  VersionResult returnAfterDownload(const QByteArray& switchCommand,
                                    std::chrono::milliseconds limit);
  // Empties the receive buffer, sends command 3 and waits for the record.
  // IncompleteAnswer when the answer holds fewer than 693 bytes.
  ParamsResult readParams(const RequestSentFn& sent = {});
  // Sends command 7 (the receive buffer is kept) and waits for the product
  // information; a short answer gives the texts it holds whole.
  SysInfoResult readSysInfo(const RequestSentFn& sent = {});
  // Empties the receive buffer, sends command 4 with the record and waits for
  // the unit's result: Refused when it is not 1, IncompleteAnswer when the
  // answer has no result byte.
  SessionResult writeParams(const TAppParams& params, const RequestSentFn& sent = {});
  // Announces the image (0xE1) and serves the unit's requests until it ends
  // the download: Ok on 0xE3, Refused on 0xE4, StoppedAsking, RepeatedPiece,
  // LinkLost, Cancelled (nothing more is sent), WriteFailed or NotOpen.
  // progress runs after every piece sent, on this thread; it may cancel().
  SessionResult download(const DownloadImage& image, const DownloadProgressFn& progress = {});
  // Writes command 2 (leave configuration mode); no answer is awaited.
  // Works after a cancel and inside another operation's wait. NotOpen or
  // WriteFailed when it could not be written.
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
  // The link underneath: the port and the connection flag.
  DeviceLink& link() { return link_; }

private:
  using Start = std::function<EngineStep(ProtocolEngine&, ProtocolEngine::Millis)>;
  // Starts an operation and drives it to its end; the reason it ended.
  SessionReason Run(const Start& start, bool download, const RequestSentFn& sent,
                    const DownloadProgressFn& progress);
  // Writes the steps' frames and feeds the engine bytes and time until the
  // operation ends; the reason it ended.
  SessionReason Drive(EngineStep step, bool download, const RequestSentFn& sent,
                      const DownloadProgressFn& progress);
  // The ending of a wait that the port or a cancel cut short.
  SessionReason WaitEnding() const;
  // Writes a frame; the reason when it could not.
  SessionReason Send(const std::vector<std::uint8_t>& frame);
  ProtocolEngine::Millis Now() const { return clock_.elapsed(); }

  DeviceLink link_;
  ProtocolEngine engine_;
  QElapsedTimer clock_; // steady: a wait across a wrap of the tick neither ends nor lasts for ever
};
