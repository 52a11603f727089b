// Choosing a firmware file: its descriptor on the page and its body in memory.

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QProgressBar>
#include <algorithm>
#include <vector>

#include "app/app_texts.h"
#include "app/device_text.h"
#include "app/file_dialogs.h"
#include "app/main_window.h"
#include "app/number_text.h"
#include "firmware/download_frames.h"
#include "firmware/firmware_image.h"
#include "firmware/image_file.h"

Q_LOGGING_CATEGORY(lcFirmware, "k7v.firmware")

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
  QString reason;
  const std::optional<ImageFile> image = ReadImageFile(path, reason);
  if (!image) {
    RefuseImage(path, reason);
    return;
  }
  if (!image->verdict.accepted()) {
    RefuseImage(path, ImageRefusalText(image->verdict,
                                       GetCaption(QString::fromStdString(image->verdict.key))));
    return;
  }
  const ImageDescriptor& descriptor = image->descriptor;

  edSelectfile->setText(path);
  edDlFilename->setText(QString::fromStdString(BareImageName(path.toStdString())));
  edDlversion->setText(
      QString::fromLatin1(descriptor.version.data(), qsizetype(descriptor.version.size())));
  edDllength->setText(QString::number(descriptor.length));
  edDlchecksum->setText(QString::number(descriptor.checksum));
  std::copy(image->body.begin(), image->body.end(),
            firmwareImage_->begin()); // the image rules bounded it
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
