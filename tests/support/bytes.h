#pragma once
// Byte helpers for every test, the window-free core tests included (header
// only, Qt Core and the core library): device frames as QByteArray, and whole
// files read and written.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringEncoder>
#include <cstdint>
#include <span>

#include "link/device_frame.h"
#include "link/link_constants.h"

// Bytes of a span as a QByteArray.
inline QByteArray ToBytes(std::span<const std::uint8_t> bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// A whole device frame around payload, built by the program's own builder
// (which test_core_frames checks byte by byte); empty when it cannot be built.
inline QByteArray FrameBytes(std::uint8_t command, const QByteArray& payload = {}) {
  QByteArray out(payload.size() + qsizetype(k7v::kFrameOverhead), '\0');
  const auto n = BuildFrame(
      command,
      {reinterpret_cast<const std::uint8_t*>(payload.constData()), std::size_t(payload.size())},
      {reinterpret_cast<std::uint8_t*>(out.data()), std::size_t(out.size())});
  out.truncate(qsizetype(n));
  return out;
}

// The whole file; empty when it cannot be opened.
inline QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Replaces the file's content; false when it cannot be written whole.
inline bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// text as a UTF-16 file with its byte order mark, as Notepad saves "Unicode".
inline QByteArray Utf16File(const QString& text, bool bigEndian) {
  QStringEncoder enc(bigEndian ? QStringEncoder::Utf16BE : QStringEncoder::Utf16LE,
                     QStringEncoder::Flag::WriteBom);
  return enc.encode(text);
}
