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
std::string_view View(const QByteArray& bytes) {
  return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

// The file's bytes; nullopt (reason set) when it exists but cannot be read,
// empty when missing.
std::optional<QByteArray> ReadBytes(const QString& path, bool* exists, QString* reason) {
  QFileInfo info(path);
  *exists = info.exists();
  if (!*exists) return QByteArray();
  QFile f(path);
  if (info.isDir()) {
    *reason = QStringLiteral("is a directory");
    return std::nullopt;
  }
  if (!f.open(QIODevice::ReadOnly)) {
    *reason = f.errorString();
    qCDebug(lcIniText) << "cannot read" << path << *reason;
    return std::nullopt;
  }
  return f.readAll();
}

QString DecodeGbk(const QByteArray& bytes) {
  QStringDecoder gbk("GBK");
  if (!gbk.isValid()) return QString::fromLatin1(bytes);
  return gbk.decode(bytes);
}

// Text of bytes in enc; a file of mixed lines decodes line by line. The
// bytes of a UTF-16 file are already UTF-8 here (ProfileIni holds them so).
QString Decode(IniEncoding enc, const QByteArray& bytes) {
  switch (enc) {
  case IniEncoding::Ansi:
    return DecodeGbk(bytes);
  case IniEncoding::Utf8WithAnsiLines: {
    QString out;
    qsizetype start = 0;
    while (start < bytes.size()) {
      qsizetype end = start;
      while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') ++end;
      while (end < bytes.size() && (bytes[end] == '\n' || bytes[end] == '\r')) ++end;
      const QByteArray line = bytes.mid(start, end - start);
      out += IsValidUtf8(View(line)) ? QString::fromUtf8(line) : DecodeGbk(line);
      start = end;
    }
    return out;
  }
  case IniEncoding::Utf8:
  case IniEncoding::Utf16Le:
  case IniEncoding::Utf16Be:
    break;
  }
  return QString::fromUtf8(bytes);
}

// Bytes of text for a file in enc; nullopt when enc cannot hold every character.
std::optional<QByteArray> EncodeExact(IniEncoding enc, const QString& text) {
  if (enc != IniEncoding::Ansi) return text.toUtf8();
  QStringEncoder gbk("GBK");
  if (!gbk.isValid()) return std::nullopt;
  QByteArray bytes = gbk.encode(text);
  if (gbk.hasError() || DecodeGbk(bytes) != text) return std::nullopt;
  return bytes;
}

// Replaces the file with data; false with the system's reason when it cannot.
bool WriteFileBytes(const QString& path, const QByteArray& data, QString* reason) {
  // A read-only file stays untouched, as the profile functions leave it, even
  // where the directory would let the side file replace it.
  if (QFile existing(path); existing.exists() && !existing.open(QIODevice::ReadWrite)) {
    *reason = existing.errorString();
    return false;
  }
  // The side file keeps the old content whole until the new one is complete;
  // a directory that allows no side file gets the file rewritten in place.
  QSaveFile out(path);
  out.setDirectWriteFallback(true);
  if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.commit()) {
    *reason = out.errorString();
    qCDebug(lcIniText) << "cannot write" << path << *reason;
    return false;
  }
  return true;
}

} // namespace

IniTextFile::IniTextFile(const QString& path) {
  bool present = false;
  QString reason;
  const auto bytes = ReadBytes(path, &present, &reason);
  exists_ = present && bytes.has_value();
  if (!exists_) return;
  ini_ = ProfileIni::FromFileBytes(ToStd(*bytes));
}

IniTextFile::Encoding IniTextFile::Detect(const QByteArray& bytes) {
  return ProfileIni::FromFileBytes(ToStd(bytes)).encoding();
}

QByteArray IniTextFile::Encode(const QString& text) const {
  // Names that the encoding cannot hold cannot be in the file either; the
  // lossy bytes then simply match nothing.
  if (auto exact = EncodeExact(encoding(), text)) return *exact;
  return text.toUtf8();
}

std::optional<QString> IniTextFile::Find(const QString& section, const QString& key) const {
  const auto v = ini_.Find(ToStd(Encode(section)), ToStd(Encode(key)));
  if (!v) return std::nullopt;
  return Decode(encoding(), FromStd(*v));
}

QString IniTextFile::GetString(const QString& section, const QString& key,
                               const QString& def) const {
  return Find(section, key).value_or(def);
}

std::optional<int> IniTextFile::GetInt(const QString& section, const QString& key) const {
  return ini_.FindInt(ToStd(Encode(section)), ToStd(Encode(key)));
}

bool WriteIniStrings(const QString& path, const QString& section,
                     const QList<std::pair<QString, QString>>& entries, QString* reason) {
  QString why;
  bool exists = false;
  const auto bytes = ReadBytes(path, &exists, &why);
  auto fail = [&] {
    if (reason) *reason = why;
    return false;
  };
  // An existing file that cannot be read is never replaced by a fresh one.
  if (!bytes) return fail();
  ProfileIni ini = ProfileIni::FromFileBytes(ToStd(*bytes));
  const IniEncoding enc = ini.encoding();

  bool complete = true;
  qsizetype written = 0;
  for (const auto& [key, value] : entries) {
    const auto s = EncodeExact(enc, section);
    const auto k = EncodeExact(enc, key);
    const auto v = EncodeExact(enc, value);
    if (!s || !k || !v) {
      why = QStringLiteral("%1=%2 cannot be written in the file's code page (GBK)").arg(key, value);
      complete = false;
      break;
    }
    if (!ini.SetString(ToStd(*s), ToStd(*k), ToStd(*v))) {
      why = QStringLiteral("%1=%2 does not fit on one line").arg(key, value);
      complete = false;
      break;
    }
    ++written;
  }
  if (written == 0) return entries.isEmpty() || fail();

  QByteArray data = FromStd(ini.FileBytes());
  if (enc == IniEncoding::Ansi) {
    const IniEncoding next = JudgeEightBitEncoding(View(data));
    const QString text = DecodeGbk(data);
    if (next != IniEncoding::Ansi && Decode(next, data) != text) {
      qCDebug(lcIniText) << path << "would read as UTF-8 next time; rewritten as UTF-8";
      data = QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    }
  }
  QString writeWhy;
  if (!WriteFileBytes(path, data, &writeWhy)) {
    why = writeWhy;
    return fail();
  }
  return complete || fail();
}

bool WriteIniString(const QString& path, const QString& section, const QString& key,
                    const QString& value, QString* reason) {
  return WriteIniStrings(path, section, {{key, value}}, reason);
}
