#include "firmware/image_file.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

#include "link/link_constants.h"

namespace {

// Enough to tell an oversized body from one that fits, without reading a huge file whole.
constexpr qint64 kLargestReadable = qint64(k7v::kImageVersionSize + k7v::kFirmwareImageSize + 1);

// Reads at most limit bytes from the start of an open file, however the
// system splits the reads. Returns false when a read fails (the bytes read so
// far are then meaningless).
bool ReadUpTo(QFile& file, qint64 limit, QByteArray& out) {
  out.clear();
  while (out.size() < limit) {
    const QByteArray part = file.read(limit - out.size());
    if (part.isEmpty()) return file.error() == QFileDevice::NoError;
    out += part;
  }
  return true;
}

// The system's reason, in the flow of a sentence.
QString Lowered(QString reason) {
  if (!reason.isEmpty()) reason[0] = reason[0].toLower();
  return reason;
}

// Why path cannot be an image before it is opened; empty when it may be.
// Opening a FIFO for reading waits for a writer, and a device may never end.
QString RefusalBeforeOpening(const QFileInfo& info) {
  if (!info.exists()) return QStringLiteral("cannot read: no such file");
  if (info.isDir()) return QStringLiteral("not a plain file: a directory");
  if (!info.isFile()) return QStringLiteral("not a plain file");
  return {};
}

} // namespace

// nullopt with the reason.
std::optional<ImageFile> ReadImageFile(const QString& path, QString& reason) {
  reason = RefusalBeforeOpening(QFileInfo(path));
  if (!reason.isEmpty()) return std::nullopt;
  QFile file(path);
  QByteArray bytes;
  if (!file.open(QIODevice::ReadOnly) || !ReadUpTo(file, kLargestReadable, bytes)) {
    reason = QStringLiteral("cannot read: ") + Lowered(file.errorString());
    return std::nullopt;
  }
  ImageFile image;
  const auto span = std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                              std::size_t(bytes.size()));
  image.verdict =
      CheckFirmwareImage(span, std::uint64_t(std::max<qint64>(file.size(), bytes.size())));
  if (image.verdict.accepted() || image.verdict.forcible) {
    image.descriptor = image.verdict.descriptor;
    image.body = bytes.mid(qsizetype(k7v::kImageVersionSize));
  }
  return image;
}

QString ImageRefusalText(const ImageVerdict& verdict, const QString& text) {
  return QString::fromStdString(FillMessageArgs(text.toStdString(), verdict.args));
}
