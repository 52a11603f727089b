#include "app/device_text.h"

#include <QStringDecoder>
#include <QStringEncoder>

QString DeviceBytesToText(std::string_view bytes) {
  QStringDecoder decoder("GBK");
  if (!decoder.isValid()) return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
  return decoder.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
}

std::string TextToDeviceBytes(const QString& text, std::size_t width) {
  QStringEncoder encoder("GBK");
  std::string out;
  // Encode one character (one code point, surrogate pairs kept together) at a
  // time so a double-byte character is never cut in half at the field's end.
  for (qsizetype i = 0; i < text.size();) {
    const qsizetype n = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
    QByteArray bytes = encoder.isValid() ? QByteArray(encoder.encode(QStringView(text).mid(i, n)))
                                         : text.mid(i, n).toLatin1();
    if (bytes.isEmpty()) bytes = "?";
    if (out.size() + std::size_t(bytes.size()) > width) break;
    out.append(bytes.constData(), std::size_t(bytes.size()));
    i += n;
  }
  return out;
}
