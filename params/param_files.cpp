// Parameter files: one raw 693-byte record, no header.

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

#include "app/app_texts.h"
#include "app/file_dialogs.h"
#include "app/main_window.h"

Q_LOGGING_CATEGORY(lcParamFiles, "k7v.paramfiles")

void TForm1::SpeedButton11Click() {
  const QString path = RunFileDialog(this, OpenDialog1);
  if (path.isEmpty() || !QFileInfo::exists(path)) return; // cancelled, or no such file: nothing to say
  QFile file(path);
  QByteArray bytes;
  if (file.open(QIODevice::ReadOnly)) bytes = file.read(qint64(TAppParams::kSize));
  // A short or unreadable file would mix its bytes with an earlier import's;
  // refuse it and leave the pages as they are.
  if (bytes.size() < qsizetype(TAppParams::kSize)) {
    qCInfo(lcParamFiles) << "import refused:" << path << file.errorString() << bytes.size();
    LogStatus(GetCaption(QStringLiteral("import_failed")), clRed, 10);
    return;
  }
  importRecord_ = TAppParams::FromBytes(
      std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
  DecodeParams(importRecord_);
  LogStatus(GetCaption(QStringLiteral("imported")), clBlack, 9);
}

void TForm1::SpeedButton12Click() {
  const QString path = RunFileDialog(this, SaveDialog1);
  if (path.isEmpty()) return;
  // Encode first: a page that cannot be encoded must not touch the file.
  const std::optional<TAppParams> record = EncodeParams();
  if (!record) return;
  // Written whole or not at all: an existing file is replaced, never left
  // half-written or with a stale tail.
  QSaveFile file(path);
  const auto& bytes = record->bytes();
  const bool ok = file.open(QIODevice::WriteOnly) &&
                  file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) ==
                      qint64(bytes.size()) &&
                  file.commit();
  if (!ok) {
    qCInfo(lcParamFiles) << "export failed:" << path << file.errorString();
    file.cancelWriting();
    LogStatus(GetCaption(QStringLiteral("export_failed")), clRed, 10);
    return;
  }
  LogStatus(GetCaption(QStringLiteral("exported")), clBlack, 9);
}
