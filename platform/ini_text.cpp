#include "platform/ini_text.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

Q_LOGGING_CATEGORY(lcIniText, "k7v.ini")

namespace {

std::string ToStd(const QByteArray& bytes) { return std::string(bytes.constData(), bytes.size()); }
QByteArray FromStd(const std::string& s) {
  return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
}

// The file's bytes; nullopt when it exists but cannot be read, empty when missing.
std::optional<QByteArray> ReadBytes(const QString& path, bool* exists) {
  QFileInfo info(path);
  *exists = info.exists();
  if (!*exists) return QByteArray();
  QFile f(path);
  if (info.isDir() || !f.open(QIODevice::ReadOnly)) {
    qCDebug(lcIniText) << "cannot read" << path << f.errorString();
    return std::nullopt;
  }
  return f.readAll();
}

QString Decode(IniTextFile::Encoding enc, const QByteArray& bytes) {
  if (enc == IniTextFile::Encoding::Utf8) return QString::fromUtf8(bytes);
  QStringDecoder gbk("GBK");
  if (!gbk.isValid()) return QString::fromLatin1(bytes);
  return gbk.decode(bytes);
}

// Bytes of text in enc; nullopt when enc cannot hold every character.
std::optional<QByteArray> EncodeExact(IniTextFile::Encoding enc, const QString& text) {
  if (enc == IniTextFile::Encoding::Utf8) return text.toUtf8();
  QStringEncoder gbk("GBK");
  if (!gbk.isValid()) return std::nullopt;
  QByteArray bytes = gbk.encode(text);
  if (gbk.hasError() || Decode(enc, bytes) != text) return std::nullopt;
  return bytes;
}

} // namespace

IniTextFile::IniTextFile(const QString& path) {
  bool present = false;
  const auto bytes = ReadBytes(path, &present);
  exists_ = present && bytes.has_value();
  if (!exists_) return;
  encoding_ = Detect(*bytes);
  ini_ = ProfileIni(ToStd(*bytes));
}

IniTextFile::Encoding IniTextFile::Detect(const QByteArray& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  // decode() is lazy: only the conversion to QString runs the decoder.
  const QString decoded = utf8.decode(bytes);
  Q_UNUSED(decoded);
  return utf8.hasError() ? Encoding::Gbk : Encoding::Utf8;
}

QByteArray IniTextFile::Encode(const QString& text) const {
  // Names that the encoding cannot hold cannot be in the file either; the
  // lossy bytes then simply match nothing.
  if (auto exact = EncodeExact(encoding_, text)) return *exact;
  return text.toUtf8();
}

QString IniTextFile::GetString(const QString& section, const QString& key,
                               const QString& def) const {
  const auto v = ini_.Find(ToStd(Encode(section)), ToStd(Encode(key)));
  return v ? Decode(encoding_, FromStd(*v)) : def;
}

std::optional<int> IniTextFile::GetInt(const QString& section, const QString& key) const {
  return ini_.FindInt(ToStd(Encode(section)), ToStd(Encode(key)));
}

bool WriteIniString(const QString& path, const QString& section, const QString& key,
                    const QString& value) {
  bool exists = false;
  const auto bytes = ReadBytes(path, &exists);
  // An existing file that cannot be read is never replaced by a fresh one.
  if (!bytes) return false;
  const auto enc = exists ? IniTextFile::Detect(*bytes) : IniTextFile::Encoding::Utf8;
  const auto s = EncodeExact(enc, section);
  const auto k = EncodeExact(enc, key);
  const auto v = EncodeExact(enc, value);
  if (!s || !k || !v) {
    qCDebug(lcIniText) << "text not representable in the encoding of" << path;
    return false;
  }
  ProfileIni ini(ToStd(*bytes));
  if (!ini.SetString(ToStd(*s), ToStd(*k), ToStd(*v))) return false;

  // The side file keeps the old content whole until the new one is complete;
  // a directory that allows no side file gets the file rewritten in place.
  QSaveFile out(path);
  out.setDirectWriteFallback(true);
  if (!out.open(QIODevice::WriteOnly)) {
    qCDebug(lcIniText) << "cannot write" << path << out.errorString();
    return false;
  }
  const QByteArray data = FromStd(ini.content());
  if (out.write(data) != data.size() || !out.commit()) {
    qCDebug(lcIniText) << "cannot write" << path << out.errorString();
    return false;
  }
  return true;
}
