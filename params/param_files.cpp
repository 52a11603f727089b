// Parameter files: one raw 693-byte record, no header.

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

#include "app/app_texts.h"
#include "app/file_dialogs.h"
#include "app/main_window.h"

Q_LOGGING_CATEGORY(lcParamFiles, "k7v.paramfiles")

// Import. On failure the pages are left as they were and "import_failed" is logged.
void TForm1::SpeedButton11Click() {
  const QString path = RunFileDialog(this, OpenDialog1);
  if (path.isEmpty() || !QFileInfo::exists(path)) return; // cancelled, or no such file: nothing to say
  QFile file(path);
  QByteArray bytes;
  // Only plain files: opening a named pipe would block the window until
  // some other program writes to it.
  if (QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly)) bytes = file.read(qint64(TAppParams::kSize));
  // A short or unreadable file would mix its bytes with an earlier import's;
  // refuse it and leave the pages as they are.
  if (bytes.size() < qsizetype(TAppParams::kSize)) {
    qCInfo(lcParamFiles) << "import refused:" << path << file.error() << file.errorString() << bytes.size();
    LogStatus(GetCaption(QStringLiteral("import_failed")), clRed, 10);
    return;
  }
  importRecord_ = TAppParams::FromBytes(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
  DecodeParams(importRecord_);
  LogStatus(GetCaption(QStringLiteral("imported")), clBlack, 9);
}

// Export. On failure the file is left as it was and "export_failed" is logged.
void TForm1::SpeedButton12Click() {
  const QString path = RunFileDialog(this, SaveDialog1);
  if (path.isEmpty()) return;
  // Encode first: a page that cannot be encoded must not touch the file.
  if (!CheckPagesBeforeEncode()) return;
  const std::optional<TAppParams> record = EncodeParams();
  if (!record) return;
  // Written whole or not at all: an existing file is replaced, never left
  // half-written or with a stale tail.
  QSaveFile file(path);
  const auto& bytes = record->bytes();
  // The record sits in the file's buffer until it is flushed, and commit()
  // does not notice a flush that fails (file system full, size limit): it
  // would put a cut-off file in place of the old one. Flush first and check.
  const bool ok = file.open(QIODevice::WriteOnly) &&
                  file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) ==
                      qint64(bytes.size()) &&
                  file.flush() && file.commit();
  if (!ok) {
    qCInfo(lcParamFiles) << "export failed:" << path << file.error() << file.errorString();
    file.cancelWriting();
    LogStatus(GetCaption(QStringLiteral("export_failed")), clRed, 10);
    return;
  }
  LogStatus(GetCaption(QStringLiteral("exported")), clBlack, 9);
}
