#include "cli/record_io.h"

#include <QDir>
#include <QFileInfo>

#include "cli/cli_output.h"
#include "params/record_file.h"

bool IsProfileFor(const QString& path, FileFormat format) {
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
QByteArray RecordBytesAs(const TAppParams& record, bool profile) {
  if (profile) return QByteArray::fromStdString(WriteProfile(record));
  return QByteArray(reinterpret_cast<const char*>(record.bytes().data()),
                    qsizetype(record.bytes().size()));
}

std::optional<TAppParams> LoadRecordAs(const QString& path, FileFormat format,
                                       const TAppParams& base, ProfileChecks checks,
                                       std::vector<ProfileIssue>& errors) {
  // The name decides as everywhere else: one reader for the window and us.
  if (IsProfileFor(path, format) == IsProfilePath(path))
    return LoadRecordFile(path, base, checks, errors);
  QString reason;
  const auto bytes = ReadPlainFile(path, reason);
  if (!bytes) {
    errors.push_back({path.toStdString(), 0, {}, {}, reason.toStdString()});
    return std::nullopt;
  }
  if (format == FileFormat::Profile) {
    const ProfileSource src{path.toStdString(), bytes->toStdString(), false};
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

bool SaveRecordAs(const QString& path, FileFormat format, const TAppParams& record,
                  QString& reason) {
  if (path.isEmpty()) {
    if (PrintRaw(RecordBytesAs(record, format != FileFormat::Raw))) return true;
    reason = StdoutProblem().value_or(QString());
    return false;
  }
  return WriteWholeFile(path, RecordBytesAs(record, IsProfileFor(path, format)), reason);
}

QString OutputPathProblem(const QString& path) {
  const QFileInfo out(path);
  if (out.exists() && !out.isFile()) return QStringLiteral("exists and is not a plain file");
  if (!out.absoluteDir().exists())
    return QStringLiteral("no such directory: %1").arg(out.absolutePath());
  return {};
}
