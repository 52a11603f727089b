#pragma once
// Reading a firmware image file for the window and the command line alike:
// the same refusals, worded the same way. QtCore only.

#include <QByteArray>
#include <QString>
#include <optional>

#include "firmware/firmware_image.h"
#include "firmware/image_check.h"

struct ImageFile {
  QByteArray body;            // the bytes after the version text, when the image rules hold
  ImageDescriptor descriptor; // version, body length and Sum16, when the image rules hold
  ImageVerdict verdict;       // accepted, or the refusal (forcible: only its content is doubtful)
};

// The file in path as CheckFirmwareImage judges it; nullopt with reason
// ("cannot read: ...", "not a plain file") only when it cannot be read. Only
// plain files are opened, so a FIFO never blocks.
std::optional<ImageFile> ReadImageFile(const QString& path, QString& reason);

// The refusal in the words of the message texts: text is the key's text
// (GetCaption's, the caption file's), its %1, %2 filled from the verdict.
QString ImageRefusalText(const ImageVerdict& verdict, const QString& text);
