#pragma once
// The units of one k7vconf-cli run: one DeviceSession per port, each on its
// own thread, all at once; a live line per unit on a terminal, plain lines
// otherwise, and a summary at the end. Ctrl+C, SIGTERM and SIGHUP stop every
// unit cleanly.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "cli/cli_options.h"
#include "cli/image_checks.h"
#include "cli/live_lines.h"
#include "firmware/firmware_image.h"
#include "params/app_params.h"
#include "params/param_profile.h"
#include "params/sys_info.h"

class InterruptNotifier;
class QThread;
class UnitJob;

// What one unit ended with.
struct UnitOutcome {
  enum class Result {
    Ok,
    Failed,
    Stopped,
    NotFound // scan: nothing answered on the port
  } result = Result::Failed;
  QString reason;                    // empty when Ok
  double seconds = 0;                // from the start of the unit's work
  bool reachedConfiguration = false; // the unit answered the switch command
  int retries = 0;                   // steps repeated (--retries)
  // What the unit gave, by command.
  QString version;
  TSysInfo sysInfo;                        // info, scan
  std::optional<TAppParams> record;        // read: the record; write: what was written
  int fieldsChanged = -1;                  // write: fields that differed from the unit's record
  std::optional<QString> newSwitchCommand; // write: the unit listens for this one from now on
  std::optional<LineSettings> foundAt;     // scan: the settings the unit answered at
};

// The work every unit of a run does; read-only once the run starts.
struct UnitPlan {
  CliCommand command = CliCommand::None;
  QByteArray switchBytes; // as sent
  LineSettings line;
  std::optional<std::chrono::milliseconds> timeout;
  int retries = 0;
  std::vector<ProfileSource> profile; // write: the file and the --set lines ({port} unreplaced)
  ProfileChecks checks = ProfileChecks::FieldRules;
  FlashImage image; // flash
};

// The plan's profile for one unit: {port} in the profile file and the --set
// values replaced (not in a raw record's texts).
std::vector<ProfileSource> ProfileForPort(const UnitPlan& plan, const QString& port);

// The settings scan tries, in order: the run's own first, then every speed
// the window offers at 8 data bits, no parity, one stop bit.
std::vector<LineSettings> ScanSettings(const LineSettings& first);

// "9600 8N1". Never fails.
QString FramingText(const LineSettings& line);

class Fleet : public QObject {
  Q_OBJECT
public:
  // stopRequests: the process's one notifier, alive for the whole run so a
  // signal between two steps is never the system's default end.
  Fleet(const CliOptions& options, InterruptNotifier& stopRequests, QObject* parent = nullptr);
  ~Fleet() override;

  // Loads and checks everything the command needs (ports, profile, --set
  // lines, image, output names) before any unit is touched. 0 when all is
  // sound, else the exit status (2 for usage and profile errors, 1 for an
  // output file that cannot be made) with every problem in errors.
  int Prepare(QStringList& errors);
  // Runs the command on every port at once and prints the results and the
  // summary. True when every unit succeeded (scan: some unit was found) and
  // no stop was requested.
  bool Run();
  // Reads the record of the one port (diff with "device"); nullopt when the
  // unit failed or the run was stopped, with the reason printed.
  std::optional<TAppParams> ReadOne();

private:
  struct Unit {
    QString port;
    QString step;
    int percent = -1; // -1: no progress to show
    int secondsLeft = -1;
    int reportedQuarter = -1; // plain lines: the last quarter of a flash printed
    QThread* thread = nullptr;
    UnitJob* job = nullptr;
    std::optional<UnitOutcome> outcome;
  };

  void StartAll();
  void StopAll();
  void CancelRunning();
  void OnStep(int unit, const QString& step, int percent, int secondsLeft);
  void OnNote(int unit, const QString& line);
  void OnFinished(int unit, const UnitOutcome& outcome);
  void Report(int unit);
  void PrintSummary();
  void DrawLive(bool force);
  QString OutputPathFor(const QString& port) const;
  QString Details(const UnitOutcome& o) const;
  void Status(const QString& line);
  void OnStopRequest(const QString& what);

  CliOptions options_;
  UnitPlan plan_;
  std::vector<Unit> units_;
  bool live_ = false;           // redraw one line per unit on a terminal
  bool statusToStderr_ = false; // stdout carries results (JSON, a profile)
  QString stoppedBy_;           // "SIGTERM" once a stop was requested
  bool recordOnly_ = false;     // ReadOne: the record is the caller's, nothing is saved
  LiveLines liveLines_;
  int running_ = 0;
};
