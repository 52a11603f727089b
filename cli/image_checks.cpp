#include "cli/image_checks.h"

#include <QFileInfo>
#include <QLocale>

#include "cli/cli_output.h"
#include "firmware/image_file.h"

QString ImageDescription(const QString& path, const ImageDescriptor& image) {
  const QString version = image.version.empty() ? QStringLiteral("\"\" (none in the file)")
                                                : QString::fromStdString(image.version);
  return QStringLiteral("%1: version %2, %3 bytes, checksum 0x%4")
      .arg(QFileInfo(path).fileName(), version,
           QLocale(QLocale::English, QLocale::UnitedStates).toString(qint64(image.length)))
      .arg(image.checksum, 4, 16, QLatin1Char('0'));
}

DownloadImage FlashImage::ForDownload() const {
  DownloadImage image;
  image.body =
      std::span(reinterpret_cast<const std::uint8_t*>(body.constData()), std::size_t(body.size()));
  image.length = std::int32_t(descriptor.length);
  image.name = name;
  image.version = descriptor.version;
  image.checksum = descriptor.checksum;
  return image;
}

std::optional<FlashImage> LoadFlashImage(const QString& path, QString& error, QString& refusal) {
  QString reason;
  std::optional<ImageFile> file = ReadImageFile(path, reason);
  if (!file) {
    error = QStringLiteral("%1: %2").arg(path, reason);
    return std::nullopt;
  }
  refusal.clear();
  if (!file->verdict.accepted()) {
    const QString text = QString::fromStdString(file->verdict.text);
    if (!file->verdict.forcible) {
      error = QStringLiteral("%1: %2, not a firmware image").arg(path, text);
      return std::nullopt;
    }
    refusal = text;
  }
  return FlashImage{path, file->descriptor, std::move(file->body),
                    BareImageName(path.toStdString())};
}

QJsonObject FlashImageJson(const QString& command, const FlashImage& image) {
  QJsonObject json = JsonLine(QString(), command, QStringLiteral("image"));
  json[QStringLiteral("file")] = image.path;
  json[QStringLiteral("name")] = QString::fromStdString(image.name);
  json[QStringLiteral("version")] = QString::fromStdString(image.descriptor.version);
  json[QStringLiteral("length")] = qint64(image.descriptor.length);
  json[QStringLiteral("checksum")] = int(image.descriptor.checksum);
  return json;
}
