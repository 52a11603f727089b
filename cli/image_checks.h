#pragma once
// What a file handed to `flash` really is. The image rules (a body, at most
// 102,400 bytes) let almost anything through; a unit given a parameter
// record, a profile or a text file as firmware is at best refused and at
// worst left without working firmware.

#include <QByteArray>
#include <QString>

#include "firmware/firmware_image.h"

// Why the whole file is not a firmware image although the image rules allow
// it: "a parameter record (693 bytes)", "a parameter profile", "text (97 %
// printable characters)". Empty when it may be one.
QString ImageContentRefusal(const QByteArray& file);

// "k7v-2.02.bin: version V2.02, 12,345 bytes, checksum 0x1A2B", what a
// technician checks before units are flashed. Never fails.
QString ImageDescription(const QString& path, const ImageDescriptor& image);
