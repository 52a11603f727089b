#pragma once
// One port of the production station, on a thread of its own: it probes for
// a unit once a probe interval, whatever happens on the port, then
// identifies the unit by its serial number and, unless the ledger has it
// done with the record it holds or it is the unit just handled here and
// still present, provisions it: flash when its version differs from the
// image's, write the profile with the unit's row of values, read back and
// compare, leave configuration, and record the attempt before the port shows
// the result.
//
// Presence: a unit is present from its first answer until the port has been
// silent for kAbsentAfterSilentProbes probes in a row, a unit with another
// serial number answers, or the port's device goes away (an adapter or a
// unit with its own USB port unplugged: the next one is probed as soon as it
// is there, not at the next probe). A unit whose attempt has ended, done or failed, is
// not worked again while present: it gets one attempt per plugging in.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "cli/image_checks.h"
#include "cli/station_ledger.h"
#include "cli/units_file.h"
#include "firmware/firmware_image.h"
#include "link/device_session.h"
#include "params/param_profile.h"

class UnitSteps;

// What every port of a station does; read-only once the ports run.
struct StationPlan {
  QByteArray switchBytes; // as sent
  LineSettings line;      // port name left empty
  SessionTimings work;    // answer waits while a unit is worked on
  SessionTimings probe;   // ... while the port waits for a unit (connect: one probe's wait)
  std::chrono::milliseconds probeInterval{1000};
  int retries = 0;
  std::vector<ProfileSource> profile; // PROFILE
  std::optional<UnitsFile> units;     // --values
  bool flash = false;                 // --flash
  bool reflash = false;               // --reflash
  FlashImage image;

  // The profile and then the row's values (row nullptr: the profile alone).
  std::vector<ProfileSource> SourcesFor(const UnitsRow* row) const;
};

// What a port shows.
struct StationPortView {
  enum class State {
    Waiting, // no unit (detail: why the port cannot be opened, when it cannot)
    Working, // detail: the step; percent while flashing
    Done,    // detail: "unplug"
    Failed,  // detail: the reason
    Stopped  // a stop request ended the unit's work; detail: where
  } state = State::Waiting;
  QString sn;
  QString detail;
  int percent = -1;
  bool alreadyDone = false;       // Done: the report had it done; nothing was sent
  std::optional<ReportLine> line; // Done, Failed, Stopped: the unit's report line
  bool fresh = false;             // the line was appended just now (not shown again)

  bool operator==(const StationPortView& o) const {
    return state == o.state && sn == o.sn && detail == o.detail && percent == o.percent &&
           alreadyDone == o.alreadyDone && line.has_value() == o.line.has_value() &&
           (!line || line->time == o.line->time);
  }
};

class StationPort : public QObject {
  Q_OBJECT
public:
  StationPort(int index, QString port, const StationPlan& plan, StationLedger& ledger);
  ~StationPort() override;

  // Ends the watch from any thread: a wait ends at once, a unit being
  // worked on is told to leave configuration and its line says "stopped".
  // Never fails.
  void cancel();

public slots:
  // Watches the port until cancel(); emits finished once at the end.
  void run();

signals:
  void changed(int port, const StationPortView& view);
  // A line for the log that is not a state: a retry.
  void note(int port, const QString& line);
  // The report took no line: the station must stop.
  void reportFailed(int port, const QString& reason);
  void finished(int port);

private:
  void Probe(DeviceSession& session);
  void HandleUnit(DeviceSession& session, const QString& version);
  // The unit was done before under its serial number: done again when it
  // holds one of those records, else refused as another unit.
  void DoneBefore(UnitSteps& steps, ReportLine& line, const QStringList& doneRecords);
  void Provision(UnitSteps& steps, ReportLine& line);
  void Absent(); // the port is without a unit from now on
  bool Finish(ReportLine& line, const QString& result, const QString& reason);
  void Unrecorded(ReportLine line, const QString& detail, const QString& why);
  void Show(StationPortView view);
  void Working(const QString& step, int percent = -1);
  // Waits up to ms; false when cancelled first.
  bool Pause(std::chrono::milliseconds ms);
  // Waits up to ms for the next probe, watching the port's device: one that
  // goes away closes the session at once, one that is there while the
  // session is closed ends the wait. False when cancelled first.
  bool WatchDevice(DeviceSession& session, std::chrono::milliseconds ms);
  bool Cancelled();

  const int index_;
  const QString port_;
  const StationPlan& plan_;
  StationLedger& report_;
  std::mutex mutex_; // guards session_ and cancelled_
  std::condition_variable wake_;
  std::unique_ptr<DeviceSession> session_;
  bool cancelled_ = false;

  // The unit present on the port, if any, and how its attempt ended: a unit
  // left plugged in is not worked again.
  std::optional<QString> presentSn_;
  int silentProbes_ = 0; // probes without an answer since the unit's last one
  bool presentEnded_ = false;
  StationPortView ended_; // how that unit ended, shown again while it stays
  // That unit's record makes it listen for another switch command than the
  // probes send: its silence is no sign that it was unplugged.
  bool lastListensElsewhere_ = false;
  QElapsedTimer unitClock_; // from the unit's answer
  // The unit's row when the ledger keeps the values itself.
  std::optional<UnitsRow> ownRow_;
  StationPortView shown_;
  bool shownOnce_ = false;
  // The port's device was there and still could not be opened: tried again
  // once a probe interval, not as soon as it is seen.
  bool openRefused_ = false;
  // The device the session has, or last had, open (empty: none, or gone since).
  QString openedDevice_;
};

Q_DECLARE_METATYPE(StationPortView)
