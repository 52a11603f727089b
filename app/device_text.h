#pragma once
// Texts inside device records are bytes in code page 936 (GBK), as the
// technicians' Windows PCs write them.

#include <QString>
#include <string>
#include <string_view>

// Decodes GBK bytes; bytes that are not valid GBK come out as replacement characters.
QString DeviceBytesToText(std::string_view bytes);

// Encodes text as GBK, at most width bytes, never ending in half a double-byte
// character. Characters GBK cannot hold become '?'.
std::string TextToDeviceBytes(const QString& text, std::size_t width);
