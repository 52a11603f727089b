#include "cli/cli_output.h"

#include <QJsonDocument>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/system_error.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

std::mutex gOutMutex;                  // unit threads never print, but be safe
std::optional<QString> gStdoutProblem; // the first failure; stdout is left alone after it
bool gStdoutClosedAtStart = false;

// The system's reason for errno as a message tail.
QString Reason(int code) {
  return QStringLiteral("standard output: ") + QString::fromStdString(SystemErrorText(code));
}

// False with gStdoutProblem set when the bytes did not all reach the system.
bool WriteStdout(const QByteArray& bytes) {
  const std::lock_guard lock(gOutMutex);
  if (gStdoutProblem) return false;
  errno = 0;
  const std::size_t n = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
  // Flushed at once: a live line must show, and a failure must be seen while
  // the run can still say so.
  if (n != std::size_t(bytes.size()) || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    gStdoutProblem = Reason(errno != 0 ? errno : EIO);
    return false;
  }
  return true;
}

} // namespace

void GuardStandardStreams() {
#ifndef _WIN32
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() takes the lowest free number, which is this one.
    const int taken = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (taken != fd && taken >= 0) ::close(taken);
    if (fd == 1) gStdoutClosedAtStart = true;
  }
  if (gStdoutClosedAtStart) gStdoutProblem = Reason(EBADF);
#endif
}

bool PrintOut(const QString& line) { return WriteStdout((line + u'\n').toUtf8()); }

bool PrintRaw(const QByteArray& bytes) { return WriteStdout(bytes); }

void PrintError(const QString& line) {
  const QByteArray bytes = (line + u'\n').toUtf8();
  std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
  std::fflush(stderr);
}

bool PrintJson(const QJsonObject& object) {
  return WriteStdout(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

QJsonObject JsonLine(const QString& port, const QString& command, const QString& result,
                     const QString& reason) {
  return {{QStringLiteral("port"), port.isNull() ? QJsonValue() : QJsonValue(port)},
          {QStringLiteral("command"), command},
          {QStringLiteral("result"), result},
          {QStringLiteral("reason"), reason}};
}

std::optional<QString> StdoutProblem() {
  const std::lock_guard lock(gOutMutex);
  return gStdoutProblem;
}

std::optional<QString> FinishOutput() {
  {
    const std::lock_guard lock(gOutMutex);
    // stdout that was closed at start is /dev/null now: closing it says nothing.
    if (!gStdoutProblem && !gStdoutClosedAtStart) {
      errno = 0;
      const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
      // A full disk behind NFS may only tell at close.
      const int flushErrno = errno;
      if (!flushed) gStdoutProblem = Reason(flushErrno != 0 ? flushErrno : EIO);
      errno = 0;
      if (std::fclose(stdout) != 0 && !gStdoutProblem)
        gStdoutProblem = Reason(errno != 0 ? errno : EIO);
    }
  }
  const std::optional<QString> problem = StdoutProblem();
  if (problem) PrintError(QStringLiteral("k7vconf-cli: ") + *problem);
  return problem;
}
