#include "cli/record_io.h"

#include <QDir>
#include <QFileInfo>

#include "cli/cli_output.h"

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
