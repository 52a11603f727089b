#include "params/record_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "params/edited_config.h"

// Never fails.
bool IsProfilePath(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  return suffix == QLatin1String("ini") || suffix == QLatin1String("txt");
}

// Never fails.
bool IsProfileFile(const QString& path, FileFormat format) {
  switch (format) {
  case FileFormat::Profile:
    return true;
  case FileFormat::Raw:
    return false;
  case FileFormat::ByName:
    break;
  }
  return IsProfilePath(path);
}

// Never fails.
bool ReadsAsProfile(const QString& path, const QByteArray& bytes, FileFormat format) {
  if (format != FileFormat::ByName) return format == FileFormat::Profile;
  return FileReadsAsProfile(std::string_view(bytes.constData(), std::size_t(bytes.size())),
                            QFileInfo(path).fileName().toStdString());
}

QByteArray RecordFileBytes(const TAppParams& record, bool profile) {
  if (profile) return QByteArray::fromStdString(WriteProfile(record));
  return QByteArray(reinterpret_cast<const char*>(record.bytes().data()),
                    qsizetype(record.bytes().size()));
}

// nullopt with the reason for a missing, special or unreadable file.
std::optional<QByteArray> ReadPlainFile(const QString& path, QString& reason) {
  const QFileInfo info(path);
  if (!info.exists()) {
    reason = QStringLiteral("no such file");
    return std::nullopt;
  }
  if (!info.isFile()) {
    reason = QStringLiteral("not a plain file");
    return std::nullopt;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    reason = file.errorString();
    return std::nullopt;
  }
  QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    reason = file.errorString();
    return std::nullopt;
  }
  return bytes;
}

// False with the reason; an existing file then stays as it was.
bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString& reason) {
  const QFileInfo info(path);
  // QSaveFile would rename its temporary file over a FIFO or a device node.
  if (info.exists() && !info.isFile()) {
    reason = QStringLiteral("exists and is not a plain file");
    return false;
  }
  QSaveFile file(path);
  // commit() does not notice a flush that fails; flush first and check.
  const bool ok = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() &&
                  file.flush() && file.commit();
  if (!ok) {
    reason = file.errorString();
    file.cancelWriting();
  }
  return ok;
}

// nullopt with every problem appended to errors.
std::optional<TAppParams> LoadRecordFile(const QString& path, const TAppParams& base,
                                         ProfileChecks checks, std::vector<ProfileIssue>& errors,
                                         FileFormat format) {
  QString reason;
  const auto bytes = ReadPlainFile(path, reason);
  if (!bytes) {
    errors.push_back({path.toStdString(), 0, {}, {}, reason.toStdString()});
    return std::nullopt;
  }
  if (ReadsAsProfile(path, *bytes, format)) {
    const ProfileSource src{path.toStdString(), ProfileTextFromFileBytes(bytes->toStdString()),
                            false};
    ProfileResult r = ApplyProfiles(base, std::span(&src, 1), checks);
    if (!r.ok()) {
      errors.insert(errors.end(), r.errors.begin(), r.errors.end());
      return std::nullopt;
    }
    return r.record;
  }
  if (bytes->size() != qsizetype(TAppParams::kSize)) {
    errors.push_back({path.toStdString(),
                      0,
                      {},
                      {},
                      std::to_string(bytes->size()) + " bytes, a parameter file has " +
                          std::to_string(TAppParams::kSize)});
    return std::nullopt;
  }
  return TAppParams::FromBytes(std::span(reinterpret_cast<const std::uint8_t*>(bytes->constData()),
                                         std::size_t(bytes->size())));
}

// False with the reason, like WriteWholeFile.
bool SaveRecordFile(const QString& path, const TAppParams& record, QString& reason,
                    FileFormat format) {
  return WriteWholeFile(path, RecordFileBytes(record, IsProfileFile(path, format)), reason);
}
