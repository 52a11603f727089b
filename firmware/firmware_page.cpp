// Choosing a firmware file: its descriptor on the page and its body in memory.

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLoggingCategory>

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
} // namespace

void TForm1::SpeedButton35Click() {
  const QString path = RunFileDialog(this, OpenDialog2);
  if (path.isEmpty()) return;

  // The file is judged before anything on the page changes, so a refused file
  // never leaves its name beside another file's body.
  QFile file(path);
  QByteArray bytes;
  ImageDescriptor descriptor;
  ImageError error = ImageError::NoBody;
  if (file.open(QIODevice::ReadOnly)) {
    bytes = file.read(kLargestReadable);
    error = DescribeImage(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                    std::size_t(bytes.size())),
                          descriptor);
  }
  if (!file.isOpen() || error != ImageError::None) {
    qCInfo(lcFirmware) << "image refused:" << path << file.errorString() << int(error);
    LogStatus(GetCaption(QStringLiteral("bin_error")), clRed, 10);
    return;
  }
  file.close();

  edSelectfile->setText(path);
  edDlFilename->setText(QString::fromStdString(BareImageName(path.toStdString())));
  edDlversion->setText(QString::fromLatin1(descriptor.version.c_str()));
  edDllength->setText(QString::number(descriptor.length));
  edDlchecksum->setText(QString::number(descriptor.checksum));
  ImageLoaded = true;
  LoadImageBody();
}

void TForm1::LoadImageBody() {
  const QString path = edSelectfile->text();
  if (!QFileInfo::exists(path)) return;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || !file.seek(qint64(k7v::kImageVersionSize))) return;
  const qint64 length = std::clamp<qint64>(ParseInt32(edDllength->text()).value_or(0), 0,
                                           qint64(k7v::kFirmwareImageSize));
  file.read(reinterpret_cast<char*>(firmwareImage_->data()), length);
}

void TForm1::SendDownloadStart() {
  const std::string name = TextToDeviceBytes(edDlFilename->text(), k7v::kDownloadNameSize);
  const QByteArray version = edDlversion->text().toLatin1();
  const std::uint32_t length = std::uint32_t(ParseInt32(edDllength->text()).value_or(0));
  const std::uint16_t checksum = std::uint16_t(ParseInt32(edDlchecksum->text()).value_or(0));
  const DownloadStartFrame frame =
      BuildDownloadStart(name, std::string_view(version.constData(), std::size_t(version.size())), length, checksum);
  link_->Write(frame);
}
