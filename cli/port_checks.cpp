#include "cli/port_checks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMap>

#include "link/device_session.h"
#include "platform/system_error.h"

#ifndef _WIN32
#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace {

// The path QSerialPort opens for a name (it prefixes /dev/ to a bare name).
QString SystemLocation(const QString& port) {
#ifdef _WIN32
  return port;
#else
  if (port.startsWith(u'/') || port.startsWith(QLatin1String("./")) ||
      port.startsWith(QLatin1String("../")))
    return port;
  return QStringLiteral("/dev/") + port;
#endif
}

// QSerialPort's words when another program holds the port's lock file; its
// errno is unrelated then.
bool LockRefusal(const QString& systemText) {
  return systemText ==
         QCoreApplication::translate("QSerialPort", "Permission error while locking the device");
}

} // namespace

QString PortBaseName(const QString& port) { return QFileInfo(port).fileName(); }

QString ResolvedDevice(const QString& port) {
#ifdef _WIN32
  QString name = port.toUpper();
  if (name.startsWith(QLatin1String("\\\\.\\"))) name = name.mid(4);
  return name;
#else
  const QString location = SystemLocation(port);
  struct stat st {};
  // A device node is known by its numbers, whatever names lead to it.
  if (::stat(QFile::encodeName(location).constData(), &st) == 0 && S_ISCHR(st.st_mode))
    return QStringLiteral("char %1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
  const QString canonical = QFileInfo(location).canonicalFilePath();
  return canonical.isEmpty() ? QFileInfo(location).absoluteFilePath() : canonical;
#endif
}

QStringList CheckPortNames(const QStringList& ports, bool usesPortName) {
  QStringList errors;
  QMap<QString, QString> byDevice, byBase;
  for (const QString& port : ports) {
    const QString device = ResolvedDevice(port);
    if (byDevice.contains(device))
      errors << QStringLiteral("%1 and %2 are the same port").arg(byDevice[device], port);
    else
      byDevice.insert(device, port);
    if (!usesPortName) continue;
    const QString base = PortBaseName(port);
    if (byBase.contains(base))
      errors << QStringLiteral("%1 and %2: {port} would be \"%3\" for both; rename a port "
                               "(a symlink will do) or leave {port} out")
                    .arg(byBase[base], port, base);
    else
      byBase.insert(base, port);
  }
  return errors;
}

QString NotASerialPort(const QString& port) {
#ifdef _WIN32
  Q_UNUSED(port);
  return {};
#else
  const QFileInfo info(SystemLocation(port));
  if (!info.exists()) return {};
  struct stat st {};
  if (::stat(QFile::encodeName(info.filePath()).constData(), &st) != 0 || S_ISCHR(st.st_mode))
    return {};
  return info.isDir() ? QStringLiteral("not a serial port: a directory")
                      : QStringLiteral("not a serial port: a plain file");
#endif
}

QString PresentDevice(const QString& port) {
#ifdef _WIN32
  Q_UNUSED(port);
  return {};
#else
  struct stat st {};
  // A dangling symlink leads nowhere: the device behind it is gone.
  if (::stat(QFile::encodeName(SystemLocation(port)).constData(), &st) != 0) return {};
  return ResolvedDevice(port);
#endif
}

QString OpenFailureText(const SessionResult& r) {
  if (r.reason == SessionReason::SettingsRefused)
    return QStringLiteral("the port refused the line settings: %1 (%2)")
        .arg(r.systemText.isEmpty() ? QString::fromStdString(SystemErrorText(r.systemError))
                                    : r.systemText)
        .arg(r.systemError);
  if (LockRefusal(r.systemText)) return QStringLiteral("cannot open: in use by another program");
#ifndef _WIN32
  if (r.systemError == EBUSY) return QStringLiteral("cannot open: in use by another program");
  if (r.systemError == ENOTTY) return QStringLiteral("cannot open: not a serial port");
  if (r.systemError == ENOENT) return QStringLiteral("cannot open: no such port");
#endif
  QString text = QStringLiteral("cannot open: ") +
                 (r.systemText.isEmpty() ? QString::fromStdString(SystemErrorText(r.systemError))
                                         : r.systemText);
  if (r.systemError != 0) text += QStringLiteral(" (%1)").arg(r.systemError);
  const std::string group = SerialAccessGroup();
  if (IsPermissionError(r.systemError) && !group.empty())
    text += QStringLiteral("; the user must be in group %1 (sudo usermod -aG %1 $USER, then "
                           "log in again)")
                .arg(QString::fromStdString(group));
  return text;
}
