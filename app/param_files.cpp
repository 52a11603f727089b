// Parameter files: one raw 693-byte record, no header, or a readable profile.
// Import knows them by their content; export writes a profile when the name
// ends in .ini or .txt.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include "app/app_texts.h"
#include "app/file_dialogs.h"
#include "app/main_window.h"
#include "params/record_file.h"

Q_LOGGING_CATEGORY(lcParamFiles, "k7v.paramfiles")

namespace {

constexpr qint64 kRecordSize = qint64(TAppParams::kSize);

// The message of key naming the file, with the reason when there is one.
QString FileLine(const char* key, const QString& path, const QString& reason = {}) {
  QString line =
      GetCaption(QLatin1String(key)) + QStringLiteral("：") + QDir::toNativeSeparators(path);
  if (!reason.isEmpty()) line += QStringLiteral("，") + reason;
  return line;
}

} // namespace

// Import, by the file's content whatever its name: a profile changes the
// fields it names, a raw record every page. On failure the pages are left as
// they were and "import_failed" is logged with the file and the reason.
void TForm1::SpeedButton11Click() {
  const QString path = RunFileDialog(this, OpenDialog1);
  if (path.isEmpty() || !QFileInfo::exists(path))
    return; // cancelled, or no such file: nothing to say
  const QFileInfo info(path);
  QFile file(path);
  QByteArray bytes;
  QString reason;
  // Only plain files: opening a named pipe would block the window until
  // some other program writes to it.
  if (!info.isFile()) {
    reason = GetCaption(QStringLiteral("not_plain_file"));
  } else if (!file.open(QIODevice::ReadOnly)) {
    reason = file.errorString();
  } else {
    bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) reason = file.errorString();
  }
  if (!reason.isEmpty()) {
    qCInfo(lcParamFiles) << "import refused:" << path << file.error() << file.errorString();
    LogStatus(FileLine("import_failed", path, reason), clRed, 10);
    return;
  }
  PagesToConfig(); // a profile changes only what it names: the rest stays as shown
  const EditedConfig::Taken taken = config_.TakeFile(
      std::string_view(bytes.constData(), std::size_t(bytes.size())), path.toStdString());
  if (!taken.refusalKey.empty()) {
    LogStatus(FileLine("import_failed", path,
                       GetCaption(QString::fromStdString(taken.refusalKey))
                           .arg(taken.fileBytes)
                           .arg(kRecordSize)),
              clRed, 10);
    return;
  }
  if (!taken.ok()) {
    // Every line that is wrong, then the refusal; the pages stay as they were.
    for (const ProfileIssue& issue : taken.errors)
      if (issue.line > 0)
        LogStatus(GetCaption(QStringLiteral("profile_error")) +
                      QString::fromStdString(FormatIssue(issue)),
                  clRed, 9);
    const bool unreadable = taken.errors.front().line == 0;
    LogStatus(
        FileLine("import_failed", path,
                 unreadable ? QString::fromStdString(taken.errors.front().reason) : QString()),
        clRed, 10);
    return;
  }
  ShowLoaded(taken.loaded);
  LogStatus(FileLine("imported", path), clBlack, 9);
  if (taken.kind == EditedConfig::Taken::Kind::Profile)
    LogStatus(GetCaption(QStringLiteral("profile_fields_changed")).arg(taken.changed), clBlack, 9);
  // A firmware image or any longer file fills the pages with its first bytes: say so.
  if (taken.extraBytes > 0)
    LogStatus(GetCaption(QStringLiteral("param_file_long")).arg(kRecordSize).arg(info.size()),
              clBlack, 9);
}

// Export. On failure the file is left as it was and "export_failed" is
// logged with the file and the reason.
void TForm1::SpeedButton12Click() {
  const QString path = RunFileDialog(this, SaveDialog1);
  if (path.isEmpty()) return;
  // Encode first: a page that cannot be encoded must not touch the file.
  if (!CheckPagesBeforeEncode()) return;
  const std::optional<TAppParams> record = EncodeParams();
  if (!record) return;
  // Only a plain file, or nothing, may be there: a FIFO or a device node would
  // be renamed over (and /dev/null, for root, gone). SaveRecordFile refuses
  // those too; asking here gives the reason in the caption file's words.
  const QFileInfo info(path);
  if (info.exists() && !info.isFile()) {
    qCInfo(lcParamFiles) << "export refused, not a plain file:" << path;
    LogStatus(FileLine("export_failed", path, GetCaption(QStringLiteral("not_plain_file"))), clRed,
              10);
    return;
  }
  // Written whole or not at all, as a profile or raw by the name: an existing
  // file is replaced, never left half-written or with a stale tail.
  QString reason;
  if (!SaveRecordFile(path, *record, reason)) {
    qCInfo(lcParamFiles) << "export failed:" << path << reason;
    LogStatus(FileLine("export_failed", path, reason), clRed, 10);
    return;
  }
  LogStatus(FileLine("exported", path), clBlack, 9);
}
