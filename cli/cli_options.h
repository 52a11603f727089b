#pragma once
// The command line of k7vconf-cli: which command, on which ports, with which
// line settings. Parsing only; nothing here opens a port or a file.

#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

#include "link/serial_port.h"

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
  Fields,
  Help
};

struct CliOptions {
  CliCommand command = CliCommand::None;
  QStringList ports;     // --port, in the order given
  LineSettings line;     // port name left empty: one per unit
  QString switchCommand; // --switch
  bool json = false;     // --json
  bool force = false;    // write: --force
  QString output;        // read, defaults: -o FILE
  QStringList sets;      // write: --set NAME=VALUE, in order
  QStringList args;      // the command's own arguments (FILE, IMAGE, A B, IN OUT)
  // --timeout MS: every answer wait and the download stall limit, instead of
  // the protocol's own (for tests and slow links).
  std::optional<std::chrono::milliseconds> timeout;
};

// Parses argv without the program name. Link defaults come from linkDefaults
// (parcfg.ini or the built-in ones); --baud and the rest override them. Every
// problem is appended to errors (none when the line is sound); the result is
// meaningful only when errors stays empty.
CliOptions ParseCliOptions(const QStringList& args, const LineSettings& linkDefaults,
                           const QString& switchDefault, QStringList& errors);

// The usage text.
QString CliUsage();

// The line settings in parcfg.ini of the working directory, with the window's
// defaults for what is missing (115200 8 none 1 ######). Values the file
// holds but cannot be used are reported in notes.
LineSettings LinkDefaultsFromFile(const QString& path, QString& switchCommand, QStringList& notes);
