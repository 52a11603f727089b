#include "support/dtu_sim_process.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSerialPort>
#include <QSignalSpy>
#include <algorithm>

#include "support/bytes.h"

namespace {

// The bytes of every log line with this tag ("RX frame", "RX bytes").
QList<QByteArray> Logged(const QByteArray& log, const QByteArray& tag) {
  QList<QByteArray> out;
  for (const QByteArray& line : log.split('\n'))
    if (line.startsWith(tag + ' ')) out.append(QByteArray::fromHex(line.mid(tag.size() + 1)));
  return out;
}

} // namespace

DtuSimProcess::DtuSimProcess() = default;

DtuSimProcess::~DtuSimProcess() { stop(); }

bool DtuSimProcess::start(const QStringList& extraArgs, const QString& stateDir) {
  stop();
  error_.clear();
  devicePath_.clear();

  const QString program = QStringLiteral(K7V_DTU_SIM);
  if (program.isEmpty() || !QFileInfo(program).isExecutable()) {
    error_ = QStringLiteral("dtu-sim executable not found: '%1'").arg(program);
    return false;
  }
  // One temporary directory per helper, kept across restarts: a test may
  // restart the simulator on the state directory of its previous run.
  if (!tmp_) tmp_ = std::make_unique<QTemporaryDir>();
  if (!tmp_->isValid()) {
    error_ = QStringLiteral("no temporary directory");
    return false;
  }
  stateDir_ = stateDir.isEmpty() ? tmp_->filePath(QStringLiteral("state")) : stateDir;
  QStringList args = extraArgs;
  args << QStringLiteral("--state") << stateDir_;
  const int logAt = extraArgs.indexOf(QStringLiteral("--log"));
  if (logAt >= 0 && logAt + 1 < extraArgs.size()) {
    logPath_ = extraArgs.at(logAt + 1);
  } else {
    logPath_ = tmp_->filePath(QStringLiteral("sim.log"));
    args << QStringLiteral("--log") << logPath_;
  }

  process_ = std::make_unique<QProcess>();
  process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_->start(program, args);
  if (!process_->waitForStarted(5000)) {
    error_ = QStringLiteral("dtu-sim did not start: ") + process_->errorString();
    return false;
  }

  // The first stdout line names the device: "dtu-sim: /dev/pts/N".
  const QDeadlineTimer deadline(5000);
  while (!process_->canReadLine()) {
    if (process_->state() != QProcess::Running || deadline.hasExpired() ||
        !process_->waitForReadyRead(int(deadline.remainingTime()))) {
      if (process_->canReadLine()) break;
      error_ = QStringLiteral("dtu-sim printed no device path");
      stop();
      return false;
    }
  }
  const QString line = QString::fromUtf8(process_->readLine()).trimmed();
  const QString prefix = QStringLiteral("dtu-sim: ");
  if (!line.startsWith(prefix)) {
    error_ = QStringLiteral("unexpected first line from dtu-sim: ") + line;
    stop();
    return false;
  }
  devicePath_ = line.mid(prefix.size());
  return true;
}

void DtuSimProcess::stop() {
  if (!process_) return;
  if (process_->state() != QProcess::NotRunning) {
    process_->terminate();
    if (!process_->waitForFinished(3000)) {
      process_->kill();
      process_->waitForFinished(3000);
    }
  }
}

bool DtuSimProcess::startWithRecord(const QByteArray& record, const QStringList& extraArgs) {
  if (!tmp_) tmp_ = std::make_unique<QTemporaryDir>();
  const QString path = tmp_->filePath(QStringLiteral("initial-record.bin"));
  if (!WriteFile(path, record)) {
    error_ = QStringLiteral("cannot write ") + path;
    return false;
  }
  return start(QStringList(extraArgs) << QStringLiteral("--record") << path);
}

bool DtuSimProcess::isRunning() const { return process_ && process_->state() == QProcess::Running; }

QByteArray DtuSimProcess::stateRecord() const {
  return ReadFile(QDir(stateDir_).filePath(QStringLiteral("record.bin")));
}

QByteArray DtuSimProcess::stateImage() const {
  return ReadFile(QDir(stateDir_).filePath(QStringLiteral("image.bin")));
}

QByteArray DtuSimProcess::logText() const { return ReadFile(logPath_); }

QList<QByteArray> DtuSimProcess::framesReceived() const { return Logged(logText(), "RX frame"); }

QByteArray DtuSimProcess::bytesReceived() const { return logged("RX bytes"); }

QByteArray DtuSimProcess::logged(const char* tag) const { return Logged(logText(), tag).join(); }

bool DtuSimProcess::waitForLog(const std::function<bool()>& done, int ms) const {
  QFileSystemWatcher watcher(QStringList{logPath_});
  QSignalSpy grown(&watcher, &QFileSystemWatcher::fileChanged);
  const QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    // A change wakes the wait at once; the short cap keeps it going where the
    // system tells nothing about files.
    grown.wait(int(std::clamp<qint64>(deadline.remainingTime(), 1, 20)));
  }
  return true;
}

bool DtuSimProcess::deviceIsFree() const {
  QSerialPort other;
  other.setPortName(devicePath_);
  return other.open(QIODevice::ReadWrite);
}
