#pragma once
// The command line of k7vconf-cli: which command, on which ports, with which
// line settings. Parsing only; nothing here opens a port or writes a file
// (ResolveLink reads parcfg.ini, and only for commands that talk to units).

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

#include "link/serial_port.h"
#include "params/record_file.h" // FileFormat: --format ini is Profile, bin Raw

enum class CliCommand {
  None,
  Ports,
  Info,
  Read,
  Write,
  Flash,
  Defaults,
  Diff,
  Convert,
  Scan,
  Station,
  Ledger,
  Fields,
  Help,
  Version
};

// Exit statuses; the usage text and the manual page say the same.
namespace cli_exit {
inline constexpr int kOk = 0;         // every unit succeeded; diff: A and B are the same
inline constexpr int kFailed = 1;     // a unit failed, an output could not be written; diff: differ
inline constexpr int kUsage = 2;      // usage or profile error, nothing was sent
inline constexpr int kDiffNoUnit = 3; // diff: the unit could not be read, or the run was stopped
} // namespace cli_exit

inline constexpr int kMaxRetries = 100; // --retries: more would only hide a broken line
// station: how often a port is probed for a unit (from the start of one probe to the next)
inline constexpr std::chrono::milliseconds kStationProbeInterval{1000};
// station: a unit is gone once this many probes in a row got no answer
inline constexpr int kAbsentAfterSilentProbes = 3;
// station: how often a port without its device looks for it to come back, so
// that a unit plugged in is probed at once rather than at the next probe
inline constexpr std::chrono::milliseconds kStationPortWatchTick{20};
inline constexpr std::chrono::milliseconds kMaxProbeInterval{60000}; // --probe-interval

struct CliOptions {
  CliCommand command = CliCommand::None;
  QStringList ports;      // --port, in the order given
  LineSettings line;      // port name left empty: one per unit (ResolveLink fills it)
  QString switchText;     // the switch command as shown to the technician
  QByteArray switchBytes; // ... and as sent: GBK, at most six bytes (ResolveLink)
  bool json = false;      // --json
  bool force = false;     // write, flash: --force
  QString output;         // read, defaults: -o FILE ("-": stdout)
  FileFormat format = FileFormat::ByName; // --format
  QStringList sets;                       // write: --set NAME=VALUE, in order
  QStringList args;                       // the command's own arguments (FILE, IMAGE, A B, IN OUT)
  int retries = 0;                        // --retries N
  // --timeout MS: every answer wait and the download stall limit, instead of
  // the protocol's own (for tests and slow links).
  std::optional<std::chrono::milliseconds> timeout;
  // station
  QString values;     // --values UNITS.csv
  QString flashImage; // --flash IMAGE
  bool reflash = false;
  QString report; // --report REPORT.csv
  // station and ledger: --ledger CONNINFO, the shared ledger instead of
  // --values and --report (ledger: empty takes libpq's PG* variables)
  std::optional<QString> ledger;
  QString bench; // --bench NAME: the station's name in the ledger (empty: the host name)
  // --probe-interval MS (not in the usage; for tests): the switch command's
  // pace on a port without a unit.
  std::optional<std::chrono::milliseconds> probeInterval;

  // Link settings as given on the command line; parcfg.ini fills the rest.
  struct Given {
    std::optional<int> baud, dataBits, stopBitsIndex, parityIndex;
    std::optional<QString> switchText;
    bool any() const { return baud || dataBits || stopBitsIndex || parityIndex || switchText; }
  } given;
};

// The command's own word ("read", "diff"...), as JSON lines name it.
QString CommandWord(CliCommand command);

// True for the commands that open ports (diff only when one side is "device").
bool TalksToUnits(const CliOptions& options);

// True when a --set value or -o contains {port}.
bool UsesPortName(const CliOptions& options);

// Parses argv without the program name. Every problem is appended to errors
// (none when the line is sound); the result is meaningful only when errors
// stays empty. The link settings are completed by ResolveLink.
CliOptions ParseCliOptions(const QStringList& args, QStringList& errors);

// Completes the line settings and the switch command of a command that talks
// to units: what the command line gave, else parcfg.ini at parcfgPath (read
// as the window reads it), else 115200 8 none 1 ######. Values in the file
// that cannot be used are reported in notes and replaced by the defaults; a
// --switch that does not fit six GBK bytes is an error. A switch command
// from the file is taken as the window takes it: cut to six bytes.
void ResolveLink(CliOptions& options, const QString& parcfgPath, QStringList& notes,
                 QStringList& errors);

// The usage text.
QString CliUsage();
