#pragma once
// Reading a firmware image file for the window and the command line alike:
// the same refusals, worded the same way. QtCore only.

#include <QByteArray>
#include <QString>
#include <optional>

#include "firmware/firmware_image.h"

struct ImageFile {
  QByteArray body;            // the bytes after the version text
  ImageDescriptor descriptor; // version, body length and Sum16
};

// The image in path; nullopt with reason ("too large: 102,401 bytes, at most
// 102,400", "no body: 8 bytes", "cannot read: ...", "not a plain file") when it
// cannot be one. Only plain files are opened, so a FIFO never blocks.
std::optional<ImageFile> ReadImageFile(const QString& path, QString& reason);
