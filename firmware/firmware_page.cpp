// Choosing a firmware file: its descriptor on the page and its body in memory.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QLoggingCategory>
#include <QProgressBar>
#include <algorithm>
#include <vector>

#include "app/app_texts.h"
#include "app/file_dialogs.h"
#include "app/main_window.h"
#include "firmware/download_frames.h"
#include "firmware/firmware_image.h"
#include "params/device_text.h"
#include "params/number_text.h"

Q_LOGGING_CATEGORY(lcFirmware, "k7v.firmware")

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

std::span<const std::uint8_t> AsBytes(const QByteArray& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())};
}

// The number with thousands separated by commas, as the refusal lines show sizes.
QString Grouped(qint64 n) { return QLocale(QLocale::English, QLocale::UnitedStates).toString(n); }

// The system's reason, in the flow of a sentence.
QString Lowered(QString reason) {
  if (!reason.isEmpty()) reason[0] = reason[0].toLower();
  return reason;
}

// Why path cannot be an image before it is opened; empty when it may be.
// Only plain files are opened: opening a FIFO for reading waits for a writer,
// and a device may never end.
QString RefusalBeforeOpening(const QFileInfo& info) {
  if (!info.exists()) return QStringLiteral("cannot read: no such file");
  if (info.isDir()) return QStringLiteral("not a plain file: a directory");
  if (!info.isFile()) return QStringLiteral("not a plain file");
  return {};
}

} // namespace

void TForm1::RefuseImage(const QString& path, const QString& reason) {
  qCInfo(lcFirmware) << "image refused:" << path << reason;
  QString line = GetCaption(QStringLiteral("bin_error")) + QDir::toNativeSeparators(path) +
                 QStringLiteral(" (") + reason + u')';
  if (ImageLoaded)
    line += QStringLiteral("; ") + GetCaption(QStringLiteral("bin_kept")) +
            QDir::toNativeSeparators(edSelectfile->text());
  LogStatus(line, clRed, 10);
}

void TForm1::SpeedButton35Click() {
  const QString path = RunFileDialog(this, OpenDialog2);
  if (path.isEmpty()) return;

  // The file is read once and judged before anything on the page changes: a
  // refused file never leaves its name beside another file's body, and the
  // body in memory is always the one the shown length and sum describe (a
  // second read could find the file changed or gone).
  const QFileInfo info(path);
  if (const QString refusal = RefusalBeforeOpening(info); !refusal.isEmpty()) {
    RefuseImage(path, refusal);
    return;
  }
  QFile file(path);
  QByteArray bytes;
  if (!file.open(QIODevice::ReadOnly) || !ReadUpTo(file, kLargestReadable, bytes)) {
    RefuseImage(path, QStringLiteral("cannot read: ") + Lowered(file.errorString()));
    return;
  }
  ImageDescriptor descriptor;
  switch (DescribeImage(AsBytes(bytes), descriptor)) {
  case ImageError::None:
    break;
  case ImageError::NoBody:
    RefuseImage(path, QStringLiteral("no body: %1 bytes").arg(Grouped(bytes.size())));
    return;
  case ImageError::TooLarge: {
    const qint64 body =
        std::max<qint64>(file.size(), bytes.size()) - qint64(k7v::kImageVersionSize);
    RefuseImage(path, QStringLiteral("too large: %1 bytes, at most %2")
                          .arg(Grouped(body), Grouped(qint64(k7v::kFirmwareImageSize))));
    return;
  }
  }
  file.close();

  edSelectfile->setText(path);
  edDlFilename->setText(QString::fromStdString(BareImageName(path.toStdString())));
  edDlversion->setText(
      QString::fromLatin1(descriptor.version.data(), qsizetype(descriptor.version.size())));
  edDllength->setText(QString::number(descriptor.length));
  edDlchecksum->setText(QString::number(descriptor.checksum));
  const auto body = AsBytes(bytes).subspan(k7v::kImageVersionSize);
  std::copy(body.begin(), body.end(), firmwareImage_->begin()); // DescribeImage bounded it
  ImageLoaded = true;
  ProgressBar1->setValue(0); // the bar told of the previous image
  qCDebug(lcFirmware) << "image chosen:" << path << "length" << descriptor.length << "sum"
                      << descriptor.checksum;
}

// The descriptor fields as the page shows them, and the body in memory. The
// name is cut to what the start frame holds, never inside a double-byte
// character.
DownloadImage TForm1::DownloadDescriptor() const {
  DownloadImage image;
  image.body = std::span<const std::uint8_t>(firmwareImage_->data(), firmwareImage_->size());
  image.length = ParseInt32(edDllength->text()).value_or(0);
  image.name = TextToDeviceBytes(edDlFilename->text(), k7v::kDownloadNameSize);
  image.version = edDlversion->text().toLatin1().toStdString();
  image.checksum = std::uint16_t(ParseInt32(edDlchecksum->text()).value_or(0));
  return image;
}
