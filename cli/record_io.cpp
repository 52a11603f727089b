#include "cli/record_io.h"

#include <QDir>
#include <QFileInfo>

#include "cli/cli_output.h"
#include "params/factory_set.h"

std::optional<ProfileSource> ProfileFileSource(const QString& path, FileFormat format,
                                               std::vector<ProfileIssue>& errors) {
  QString reason;
  const auto bytes = ReadPlainFile(path, reason);
  if (!bytes) {
    errors.push_back({path.toStdString(), 0, {}, {}, reason.toStdString()});
    return std::nullopt;
  }
  if (!ReadsAsProfile(path, *bytes, format)) {
    const auto raw =
        LoadRecordFile(path, FactoryParams(), ProfileChecks::RecordOnly, errors, format);
    if (!raw) return std::nullopt;
    return ProfileSource{path.toStdString(), WriteProfile(*raw), false, true};
  }
  return ProfileSource{path.toStdString(), ProfileTextFromFileBytes(bytes->toStdString()), false};
}

bool SaveRecordAs(const QString& path, FileFormat format, const TAppParams& record,
                  QString& reason) {
  if (path.isEmpty()) {
    if (PrintRaw(RecordFileBytes(record, format != FileFormat::Raw))) return true;
    reason = StdoutProblem().value_or(QString());
    return false;
  }
  return SaveRecordFile(path, record, reason, format);
}

QString OutputPathProblem(const QString& path) {
  const QFileInfo out(path);
  if (out.exists() && !out.isFile()) return QStringLiteral("exists and is not a plain file");
  if (!out.absoluteDir().exists())
    return QStringLiteral("no such directory: %1").arg(out.absolutePath());
  return {};
}
