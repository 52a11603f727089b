#include "cli/image_checks.h"

#include <QFileInfo>
#include <QLocale>

#include "cli/cli_output.h"
#include "firmware/image_file.h"
#include "params/app_params.h"
#include "params/record_file.h"

namespace {

// Share of text characters from which a file counts as text. Firmware is
// machine code and tables: far below this, even with its message strings.
constexpr double kTextShare = 0.9;

// Length of the UTF-8 sequence starting at i (1..4), or 0 when it is none.
int Utf8SequenceAt(const QByteArray& b, qsizetype i) {
  const auto byte = [&](qsizetype k) { return std::uint8_t(b[k]); };
  const std::uint8_t c = byte(i);
  const int n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
  if (n == 0 || i + n > b.size()) return 0;
  for (int k = 1; k < n; ++k)
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  return n;
}

// Bytes that belong to printable text: ASCII letters and signs, tab and line
// ends, whole UTF-8 characters. A zero byte makes the file binary at once.
std::optional<qsizetype> TextBytes(const QByteArray& b) {
  qsizetype text = 0;
  for (qsizetype i = 0; i < b.size();) {
    const std::uint8_t c = std::uint8_t(b[i]);
    if (c == 0) return std::nullopt;
    if ((c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n' || c == '\r') {
      ++text;
      ++i;
    } else if (const int n = c >= 0x80 ? Utf8SequenceAt(b, i) : 0; n > 0) {
      text += n;
      i += n;
    } else {
      ++i;
    }
  }
  return text;
}

// True when some line of the file is the profile's section header.
bool HasProfileSection(const QByteArray& b) {
  for (const QByteArray& line : b.split('\n'))
    if (line.trimmed().toLower() == "[params]") return true;
  return false;
}

} // namespace

QString ImageContentRefusal(const QByteArray& file) {
  if (file.size() == qsizetype(TAppParams::kSize))
    return QStringLiteral("a parameter record (%1 bytes)").arg(TAppParams::kSize);
  if (HasProfileSection(file)) return QStringLiteral("a parameter profile");
  if (const auto text = TextBytes(file); text && !file.isEmpty()) {
    const double share = double(*text) / double(file.size());
    if (share >= kTextShare)
      return QStringLiteral("text (%1 % printable characters)").arg(int(share * 100));
  }
  return {};
}

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
  const auto whole = ReadPlainFile(path, reason);
  refusal = whole ? ImageContentRefusal(*whole) : reason;
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
