#pragma once
// The image a `flash` run or the station sends, as the firmware check judged
// it, and how it is described to the technician.

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
// error ("PATH: too large: ..., not a firmware image") when the image rules
// refuse it. refusal: empty, or why the caller should not flash it although
// the image rules hold ("a parameter record (693 bytes)"), which --force
// overrides.
std::optional<FlashImage> LoadFlashImage(const QString& path, QString& error, QString& refusal);

// The JSON line that names the image before any unit gets it: file, name,
// version, length, checksum. Never fails.
QJsonObject FlashImageJson(const QString& command, const FlashImage& image);

// "k7v-2.02.bin: version V2.02, 12,345 bytes, checksum 0x1A2B", what a
// technician checks before units are flashed. Never fails.
QString ImageDescription(const QString& path, const ImageDescriptor& image);
