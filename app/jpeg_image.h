#pragma once
// JPEG pictures decoded with libjpeg, for the banner at the top of the main window.

#include <QByteArray>
#include <QImage>

// Decodes a complete baseline or progressive JPEG (greyscale, YCbCr/RGB or
// CMYK) from memory into a Format_RGB888 image. Returns a null QImage when the
// data is empty, truncated, corrupt, or too large to hold; never aborts.
QImage DecodeJpeg(const QByteArray& data);

// Decodes the banner picture built into the program (":/banner.jpg").
// Returns a null QImage when the resource is missing or cannot be decoded.
QImage LoadBanner();
