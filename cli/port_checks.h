#pragma once
// Ports as the command line names them: the device behind a name, the checks
// that must pass before any unit is touched, and why a port could not be
// opened in words a technician can act on.

#include <QString>
#include <QStringList>

struct SessionResult;

// The port's base name, which {port} stands for in -o and --set values.
QString PortBaseName(const QString& port);

// The device a port name stands for: ttyUSB0, /dev/ttyUSB0 and a symlink in
// /dev/serial/by-id give the same text. A name that leads nowhere gives its
// own absolute path. Never fails.
QString ResolvedDevice(const QString& port);

// What must stop a run before any unit is touched: one device named twice
// (under any names), and, when usesPortName, two ports whose {port} would be
// the same text (one ID or one output file for two units). Empty when sound.
QStringList CheckPortNames(const QStringList& ports, bool usesPortName);

// "not a serial port" when the port names something that exists and cannot
// be one (a plain file, a directory); empty otherwise.
QString NotASerialPort(const QString& port);

// The device the port leads to now, as ResolvedDevice gives it: empty when
// the name leads nowhere, and always where ports are not files (Windows).
QString PresentDevice(const QString& port);

// Why open() failed, with the system's words and what to do about it: "in use
// by another program", "not a serial port", the dialout group for a
// permission error. Never fails.
QString OpenFailureText(const SessionResult& result);
