#pragma once
// The units of one k7vconf-cli run: one DeviceSession per port, each on its
// own thread, all at once; a live line per unit on a terminal, plain lines
// otherwise, and a summary at the end. Ctrl+C stops every unit cleanly.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "cli/cli_options.h"
#include "firmware/firmware_image.h"
#include "params/app_params.h"
#include "params/param_profile.h"
#include "params/sys_info.h"

class QThread;
class UnitJob;

// What one unit ended with.
struct UnitOutcome {
  enum class Result {
    Ok,
    Failed,
    Stopped
  } result = Result::Failed;
  QString reason;                    // empty when Ok
  double seconds = 0;                // from the start of the unit's work
  bool reachedConfiguration = false; // the unit answered the switch command
  // What the unit gave, by command.
  QString version;
  TSysInfo sysInfo;
  std::optional<TAppParams> record; // read: the record; write: what was written
};

// The work every unit of a run does; read-only once the run starts.
struct UnitPlan {
  CliCommand command = CliCommand::None;
  QString switchCommand;
  LineSettings line;
  std::optional<std::chrono::milliseconds> timeout;
  std::vector<ProfileSource> profile; // write: the file and the --set lines ({port} unreplaced)
  ProfileChecks checks = ProfileChecks::FieldRules;
  QByteArray imageBody;  // flash
  ImageDescriptor image; // flash
  std::string imageName; // flash: the name the unit is told
};

// The port's base name, which {port} stands for in -o and --set values.
QString PortBaseName(const QString& port);
// The plan's profile for one unit: {port} in the profile file and the --set
// values replaced (not in a raw record's texts).
std::vector<ProfileSource> ProfileForPort(const UnitPlan& plan, const QString& port);

class Fleet : public QObject {
  Q_OBJECT
public:
  explicit Fleet(const CliOptions& options, QObject* parent = nullptr);
  ~Fleet() override;

  // Loads and checks everything the command needs (profile, --set lines,
  // image, output names) before any unit is touched. False with every
  // problem in errors.
  bool Prepare(QStringList& errors);
  // Runs the command on every port at once and prints the results and the
  // summary. True when every unit succeeded.
  bool Run();
  // Reads the record of the one port (diff with "device"); nullopt when the
  // unit failed, with the reason printed.
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
  void OnStep(int unit, const QString& step, int percent, int secondsLeft);
  void OnFinished(int unit, const UnitOutcome& outcome);
  void Report(int unit);
  void PrintSummary();
  void DrawLive(bool force);
  QString OutputPathFor(const QString& port) const;
  void Status(const QString& line);

  CliOptions options_;
  UnitPlan plan_;
  std::vector<Unit> units_;
  bool live_ = false;           // redraw one line per unit on a terminal
  bool statusToStderr_ = false; // stdout carries results (JSON, a profile)
  bool interrupted_ = false;
  bool recordOnly_ = false; // ReadOne: the record is the caller's, nothing is saved
  int drawnLines_ = 0;
  QElapsedTimer sinceDraw_;
  int running_ = 0;
};
