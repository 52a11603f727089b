// Choosing a firmware file: its descriptor on the page and its body in memory.

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLoggingCategory>
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

} // namespace

void TForm1::SpeedButton35Click() {
  const QString path = RunFileDialog(this, OpenDialog2);
  if (path.isEmpty()) return;

  // The file is read once and judged before anything on the page changes: a
  // refused file never leaves its name beside another file's body, and the
  // body in memory is always the one the shown length and sum describe (a
  // second read could find the file changed or gone).
  QFile file(path);
  QByteArray bytes;
  ImageDescriptor descriptor;
  ImageError error = ImageError::NoBody;
  const bool read = file.open(QIODevice::ReadOnly) && ReadUpTo(file, kLargestReadable, bytes);
  if (read) error = DescribeImage(AsBytes(bytes), descriptor);
  if (!read || error != ImageError::None) {
    qCInfo(lcFirmware) << "image refused:" << path << (read ? "" : file.errorString())
                       << "error" << int(error) << "bytes read" << bytes.size();
    LogStatus(GetCaption(QStringLiteral("bin_error")), clRed, 10);
    return;
  }
  file.close();

  edSelectfile->setText(path);
  edDlFilename->setText(QString::fromStdString(BareImageName(path.toStdString())));
  edDlversion->setText(QString::fromLatin1(descriptor.version.data(), qsizetype(descriptor.version.size())));
  edDllength->setText(QString::number(descriptor.length));
  edDlchecksum->setText(QString::number(descriptor.checksum));
  const auto body = AsBytes(bytes).subspan(k7v::kImageVersionSize);
  std::copy(body.begin(), body.end(), firmwareImage_->begin()); // DescribeImage bounded it
  ImageLoaded = true;
  qCDebug(lcFirmware) << "image chosen:" << path << "length" << descriptor.length << "sum"
                      << descriptor.checksum;
}

// Refreshes FirmwareImage from the file shown in edSelectfile. Leaves the
// buffer untouched when the file is gone, unreadable, shorter than edDllength
// or no longer matches edDlchecksum, so the buffer and the descriptor never
// disagree.
void TForm1::LoadImageBody() {
  const QString path = edSelectfile->text();
  if (path.isEmpty() || !QFileInfo::exists(path)) return;
  const std::optional<std::int32_t> length = ParseInt32(edDllength->text());
  const std::optional<std::int32_t> sum = ParseInt32(edDlchecksum->text());
  if (!length || !sum || *length < 0 || std::size_t(*length) > k7v::kFirmwareImageSize) return;

  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || !file.seek(qint64(k7v::kImageVersionSize))) return;
  QByteArray body;
  if (!ReadUpTo(file, *length, body) || body.size() != *length) return;
  const auto bytes = AsBytes(body);
  if (Sum16(bytes.data(), bytes.size()) != std::uint16_t(*sum)) {
    qCWarning(lcFirmware) << "image file changed since it was chosen:" << path;
    return;
  }
  std::copy(bytes.begin(), bytes.end(), firmwareImage_->begin());
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
