#pragma once
// Runs dtu-sim, the simulated DTU, as a child process for tests and
// benchmarks: starts it with the given options, waits for its device path,
// and gives access to its log and its state directory.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

class DtuSimProcess {
public:
  DtuSimProcess();
  ~DtuSimProcess(); // stops the simulator
  DtuSimProcess(const DtuSimProcess&) = delete;
  DtuSimProcess& operator=(const DtuSimProcess&) = delete;

  // Starts dtu-sim with extraArgs plus --state and --log (in a temporary
  // directory unless given). stateDir empty: a fresh temporary one, so pass
  // the same directory again to see a record survive a restart. Returns false
  // when the executable is missing, exits early, or prints no device path
  // within 5 seconds; the reason is in errorString().
  bool start(const QStringList& extraArgs = {}, const QString& stateDir = {});
  // start() with the device's record set to these bytes first (--record).
  bool startWithRecord(const QByteArray& record, const QStringList& extraArgs = {});

  // Sends SIGTERM and waits for the exit (SIGKILL after 3 s). Safe to repeat.
  void stop();

  bool isRunning() const;
  QString devicePath() const { return devicePath_; } // /dev/pts/N
  QString stateDir() const { return stateDir_; }
  QString logPath() const { return logPath_; }
  QString errorString() const { return error_; }

  QByteArray stateRecord() const; // record.bin of the state dir; empty when missing
  QByteArray stateImage() const;  // image.bin of the state dir; empty when missing
  QByteArray logText() const;     // the whole log so far; empty when missing
  // Every byte of the log lines with this tag ("RX noise", "TX frame"), in order.
  QByteArray logged(const char* tag) const;
  // Waits until done() holds: asked at once and whenever the log grows, for at
  // most ms. False when the time ran out. A test learns this way that the
  // device has taken in what it was sent, instead of sitting out a silence.
  bool waitForLog(const std::function<bool()>& done, int ms = 5000) const;
  // From the log: the valid frames the device took from the PC, in order,
  // and every byte it read from the PC.
  QList<QByteArray> framesReceived() const;
  QByteArray bytesReceived() const;
  // True when another program can open the device now: nobody holds it.
  bool deviceIsFree() const;

  // The child itself, e.g. to wait for the exit after --drop-after.
  QProcess& process() { return *process_; }

private:
  std::unique_ptr<QTemporaryDir> tmp_;
  std::unique_ptr<QProcess> process_;
  QString devicePath_, stateDir_, logPath_, error_;
};
