#include "support/dtu_sim_process.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  return f.readAll();
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
  if (!tmp_)
    tmp_ = std::make_unique<QTemporaryDir>();
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
      if (process_->canReadLine())
        break;
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
  if (!process_)
    return;
  if (process_->state() != QProcess::NotRunning) {
    process_->terminate();
    if (!process_->waitForFinished(3000)) {
      process_->kill();
      process_->waitForFinished(3000);
    }
  }
}

bool DtuSimProcess::isRunning() const {
  return process_ && process_->state() == QProcess::Running;
}

QByteArray DtuSimProcess::stateRecord() const {
  return ReadAll(QDir(stateDir_).filePath(QStringLiteral("record.bin")));
}

QByteArray DtuSimProcess::stateImage() const {
  return ReadAll(QDir(stateDir_).filePath(QStringLiteral("image.bin")));
}

QByteArray DtuSimProcess::logText() const { return ReadAll(logPath_); }
