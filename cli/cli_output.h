#pragma once
// Where k7vconf-cli writes: results on stdout, problems on stderr, both UTF-8.
// Every write to stdout is checked: the first failure is kept with the
// system's reason, nothing more is written there, and the run ends with exit
// status 1 (a backup written into a full disk must not look like success).

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>

// Call first in main, before anything opens a file: a standard descriptor
// that the caller closed is taken by /dev/null, so no port or file opened
// later becomes "stdout" and receives our output. Remembers that stdout was
// closed; StdoutProblem() then reports it. Never fails.
void GuardStandardStreams();

// One line on stdout; false when stdout has failed (now or before).
bool PrintOut(const QString& line);
// Bytes on stdout as they are (a profile, a raw record); false as PrintOut.
bool PrintRaw(const QByteArray& bytes);
// One line on stderr. A failing stderr has nobody left to tell; never fails.
void PrintError(const QString& line);
// One compact JSON object on its own line on stdout; false as PrintOut.
bool PrintJson(const QJsonObject& object);

// The object every JSON line starts from: port (null when the line concerns
// no port), command, result and reason. Never fails.
QJsonObject JsonLine(const QString& port, const QString& command, const QString& result,
                     const QString& reason = {});

// "standard output: <the system's reason>" once a write to stdout has failed
// (or stdout was closed at start); nullopt while all is well.
std::optional<QString> StdoutProblem();

// Flushes and closes stdout; the first failure of the whole run, if any, is
// printed on stderr and returned. Call once, last.
std::optional<QString> FinishOutput();
