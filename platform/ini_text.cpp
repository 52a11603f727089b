#include "platform/ini_text.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <system_error>

Q_LOGGING_CATEGORY(lcIniText, "k7v.ini")

namespace {

std::string ToStd(const QByteArray& bytes) { return std::string(bytes.constData(), bytes.size()); }
QByteArray FromStd(const std::string& s) {
  return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

// The file's bytes; nullopt (reason set) when it exists but cannot be read,
// empty when missing.
std::optional<QByteArray> ReadBytes(const QString& path, bool* exists, QString* reason) {
  QFileInfo info(path);
  *exists = info.exists();
  if (!*exists) return QByteArray();
  QFile f(path);
  if (info.isDir()) {
    *reason = QString::fromStdString(std::make_error_code(std::errc::is_a_directory).message());
    return std::nullopt;
  }
  if (!f.open(QIODevice::ReadOnly)) {
    *reason = f.errorString();
    qCDebug(lcIniText) << "cannot read" << path << *reason;
    return std::nullopt;
  }
  return f.readAll();
}

// Replaces the file with data; false with the system's reason when it cannot.
bool WriteFileBytes(const QString& path, const QByteArray& data, QString* reason) {
  // A read-only file stays untouched, as the profile functions leave it, even
  // where the directory would let the side file replace it.
  if (QFile existing(path); existing.exists() && !existing.open(QIODevice::ReadWrite)) {
    *reason = existing.errorString();
    return false;
  }
  // The side file keeps the old content whole until the new one is complete;
  // a directory that allows no side file gets the file rewritten in place.
  QSaveFile out(path);
  out.setDirectWriteFallback(true);
  if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit()) {
    *reason = out.errorString();
    qCDebug(lcIniText) << "cannot write" << path << *reason;
    return false;
  }
  return true;
}

} // namespace

IniTextFile::IniTextFile(const QString& path) {
  bool present = false;
  QString reason;
  const auto bytes = ReadBytes(path, &present, &reason);
  exists_ = present && bytes.has_value();
  if (!exists_) return;
  ini_ = ProfileIni::FromFileBytes(ToStd(*bytes));
}

IniTextFile::Encoding IniTextFile::Detect(const QByteArray& bytes) {
  return ProfileIni::FromFileBytes(ToStd(bytes)).encoding();
}

std::optional<QString> IniTextFile::Find(const QString& section, const QString& key) const {
  const auto v = ini_.FindText(section.toStdString(), key.toStdString());
  if (!v) return std::nullopt;
  return QString::fromStdString(*v);
}

QString IniTextFile::GetString(const QString& section, const QString& key,
                               const QString& def) const {
  return Find(section, key).value_or(def);
}

std::optional<int> IniTextFile::GetInt(const QString& section, const QString& key) const {
  const auto v = ini_.FindText(section.toStdString(), key.toStdString());
  if (!v) return std::nullopt;
  return ProfileIni::ParseInt(*v);
}

bool WriteIniStrings(const QString& path, const QString& section,
                     const QList<std::pair<QString, QString>>& entries, QString* reason) {
  QString why;
  bool exists = false;
  const auto bytes = ReadBytes(path, &exists, &why);
  auto fail = [&] {
    if (reason) *reason = why;
    return false;
  };
  // An existing file that cannot be read is never replaced by a fresh one.
  if (!bytes) return fail();
  ProfileIni ini = ProfileIni::FromFileBytes(ToStd(*bytes));

  bool complete = true;
  bool changed = false;
  for (const auto& [key, value] : entries) {
    using R = ProfileIni::SetTextResult;
    const R result = ini.SetText(section.toStdString(), key.toStdString(), value.toStdString());
    if (result == R::NotEncodable)
      why = QStringLiteral("%1=%2 cannot be written in the file's code page (GBK)").arg(key, value);
    else if (result == R::NotOneLine)
      why = QStringLiteral("%1=%2 does not fit on one line").arg(key, value);
    if (result == R::NotEncodable || result == R::NotOneLine) {
      complete = false;
      break;
    }
    changed = changed || result == R::Written;
  }
  // A file that already holds every value is not touched at all.
  if (!changed) return complete || fail();
  QString writeWhy;
  if (!WriteFileBytes(path, FromStd(ini.FileBytes()), &writeWhy)) {
    why = writeWhy;
    return fail();
  }
  return complete || fail();
}

bool WriteIniString(const QString& path, const QString& section, const QString& key,
                    const QString& value, QString* reason) {
  return WriteIniStrings(path, section, {{key, value}}, reason);
}
