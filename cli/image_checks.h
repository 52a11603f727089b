#pragma once
// What a file handed to `flash` really is. The image rules (a body, at most
// 102,400 bytes) let almost anything through; a unit given a parameter
// record, a profile or a text file as firmware is at best refused and at
// worst left without working firmware.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>
#include <string>

#include "firmware/firmware_image.h"
#include "link/protocol_engine.h"

// An image read for flashing, as every unit of a run is given it.
struct FlashImage {
  QString path;
  ImageDescriptor descriptor;
  QByteArray body;
  std::string name; // the bare file name, as the units are told (cut by the start frame)
  // What the session announces and serves; the body stays this object's.
  DownloadImage ForDownload() const;
};

// The image in path with the window's checks; nullopt with the problem in
// error ("PATH: too large: ..."). refusal is ImageContentRefusal of the whole
// file: empty, or why the caller should not flash it.
std::optional<FlashImage> LoadFlashImage(const QString& path, QString& error, QString& refusal);

// The JSON line that names the image before any unit gets it: file, name,
// version, length, checksum. Never fails.
QJsonObject FlashImageJson(const QString& command, const FlashImage& image);

// Why the whole file is not a firmware image although the image rules allow
// it: "a parameter record (693 bytes)", "a parameter profile", "text (97 %
// printable characters)". Empty when it may be one.
QString ImageContentRefusal(const QByteArray& file);

// "k7v-2.02.bin: version V2.02, 12,345 bytes, checksum 0x1A2B", what a
// technician checks before units are flashed. Never fails.
QString ImageDescription(const QString& path, const ImageDescriptor& image);
