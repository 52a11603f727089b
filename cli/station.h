#pragma once
// k7vconf-cli station: units provisioned as they are plugged in. Every
// --port is watched on its own thread until Ctrl+C, SIGTERM or SIGHUP; each
// unit that answers gets PROFILE with its own row of UNITS.csv (and IMAGE
// when its version differs), and every attempt is a line of the report. A
// live line per port and the totals on a terminal, plain lines otherwise,
// JSON lines with --json.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "cli/cli_options.h"
#include "cli/database_ledger.h"
#include "cli/live_lines.h"
#include "cli/station_port.h"
#include "cli/station_report.h"

class InterruptNotifier;
class QThread;

class Station : public QObject {
  Q_OBJECT
public:
  // stopRequests: the process's one notifier; its first request ends the station.
  Station(const CliOptions& options, InterruptNotifier& stopRequests, QObject* parent = nullptr);
  ~Station() override;

  // Loads and checks PROFILE, every value of UNITS.csv, the image and the
  // ports, then opens the report; nothing is sent to a port before. 0 when
  // the station may start, else the exit status (2: usage, profile or
  // values; 1: the report cannot be written) with every problem in errors.
  int Prepare(QStringList& errors);
  // Watches every port until a stop request, or until the report takes no
  // more lines, then prints the summary. 0 when no unit failed or was
  // stopped mid-work and the report took every line, else 1.
  int Run();

private:
  struct Port {
    QString name;
    StationPortView view;
    bool told = false;        // its first state has been shown
    int reportedQuarter = -1; // plain and JSON lines: the last quarter of a flash told
    QThread* thread = nullptr;
    StationPort* worker = nullptr;
  };

  void StartAll();
  void CancelAll();
  void StopAll();
  void OnChanged(int port, const StationPortView& view);
  void OnNote(int port, const QString& line);
  void OnReportFailed(int port, const QString& reason);
  void OnFinished(int port);
  void OnStopRequest(const QString& what);
  void Tell(const QString& line, const QString& jsonResult = {}); // a line for the technician
  void PrintView(const Port& port);
  void PrintTotals();
  void PrintSummary();
  void DrawLive(bool force);
  QString TotalsText() const;
  std::optional<double> UnitsPerHour() const;

  CliOptions options_;
  StationPlan plan_;
  StationReport report_;
  std::unique_ptr<DatabaseLedger> database_; // --ledger
  std::optional<UnitsFile> ledgerRows_;      // its rows, as checked at start
  StationLedger* ledger_ = &report_; // what the ports claim rows from and record attempts in
  QStringList skipped_;              // report lines that could not be read
  std::vector<Port> ports_;
  bool live_ = false;
  QString stoppedBy_;
  QString reportProblem_;
  int done_ = 0, failed_ = 0, stopped_ = 0, retries_ = 0; // this run's attempts
  QElapsedTimer clock_;
  QElapsedTimer sinceFirstUnit_; // from the first unit worked on
  qint64 lastDoneAt_ = 0;        // ... to the last unit done: the pace's span
  int running_ = 0;
  LiveLines liveLines_;
};
