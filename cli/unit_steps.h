#pragma once
// The steps of one unit's conversation over a DeviceSession, each repeated
// when that is safe and the run allows it (--retries), and each failure
// worded by where it happened ("no answer to the switch command").
//
// What is repeated, and why it is safe:
// - the switch command, a read (command 3) and product information (7): they
//   change nothing in the unit;
// - a write (4) whose answer did not come: the unit may have stored the
//   record all the same, so it is read back first and written again only
//   when the read-back shows it did not take;
// - a download that failed: never on its own. With retries left the switch
//   command is sent again, and only when the unit answers it (it is back in
//   configuration, ready for an announcement) is the image announced anew.
// A refusal (the unit said no), a lost link and a stop are never repeated.
//
// Not thread-safe: lives on the session's thread. Used by the fleet's unit
// jobs and meant for anything else that drives units unattended.

#include <QByteArray>
#include <QString>
#include <chrono>
#include <functional>

#include "link/device_session.h"

enum class UnitStep {
  Open,
  Switch,   // the switch command and its answer
  Read,     // command 3
  SysInfo,  // command 7
  Write,    // command 4
  ReadBack, // command 3 after a write
  Download, // announcement and pieces
  Leave     // command 2
};

// A failed step in the technician's words: "no answer to the switch command
// (check speed, framing, switch command and cable)", "the unit refused the
// write", "link lost during the download", "cannot open: in use by another
// program". Never fails.
QString StepFailureText(UnitStep step, const SessionResult& result);

class UnitSteps {
public:
  // Told once per repeat, e.g. "retry 1 of 2: no answer to the read".
  using RetryLog = std::function<void(const QString& line)>;

  // retries: how often one step may be repeated; switchBytes: as sent (at
  // most six bytes, padded by the session).
  UnitSteps(DeviceSession& session, int retries, QByteArray switchBytes, RetryLog log = {});

  // Each returns the session's result; on failure failedStep() says where.
  SessionResult open(const LineSettings& line);
  // Configuration mode from any mode the unit is in (see reachConfiguration).
  VersionResult enter();
  // Back in configuration mode after a download, within limit; never repeated.
  VersionResult returnAfterDownload(std::chrono::milliseconds limit);
  ParamsResult readParams(UnitStep step = UnitStep::Read);
  SysInfoResult readSysInfo();
  // Writes the record. Ok also when the answer was lost but a read-back
  // shows the unit holds exactly this record.
  SessionResult write(const TAppParams& record);
  SessionResult download(const DownloadImage& image, const DownloadProgressFn& progress = {});
  // Clears a stop first: a unit must be told to leave configuration even
  // when the run is being stopped. Never repeated (no answer comes).
  SessionResult leave();

  // Repeats made so far, over every step.
  int retriesUsed() const { return retriesUsed_; }
  UnitStep failedStep() const { return failedStep_; }
  // StepFailureText for the last failure.
  QString failureText(const SessionResult& result) const {
    return StepFailureText(failedStep_, result);
  }
  DeviceSession& session() { return session_; }

private:
  // True when another attempt is allowed after this ending; logs and counts it.
  bool retryAfter(UnitStep step, const SessionResult& r, int attempt, const QString& next = {});
  template <typename Result>
  Result failed(UnitStep step, Result r) {
    failedStep_ = step;
    return r;
  }

  DeviceSession& session_;
  const int retries_;
  const QByteArray switchBytes_;
  RetryLog log_;
  int retriesUsed_ = 0;
  UnitStep failedStep_ = UnitStep::Open;
};
