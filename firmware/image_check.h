#pragma once
// Whether a file may be sent to a unit as firmware: the one judgement the
// window, the browser page, the command line and the production station all
// take. The image rules (a body of at most 102,400 bytes after a version
// field of printable single-byte characters padded with zero bytes) are
// never relaxed. Beyond them, files a technician picks by mistake (a
// parameter record, a profile, a text, an archive, an erased or blank body)
// are refused too; only the command line's --force flashes those, and only
// when the image rules hold. Plain C++.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmware/firmware_image.h"

struct ImageVerdict {
  std::string key;               // empty: the file is an image; else the refusal's message key
  std::vector<std::string> args; // what the key's text takes in place of %1, %2, ...
  std::string text;              // the refusal in English (the command line's words)
  bool forcible = false;         // refused for its content only: the image rules hold
  ImageDescriptor descriptor;    // version, body length and Sum16 whenever the image rules hold

  bool accepted() const { return key.empty(); }
};

// Judges a whole image file. wholeSize is the file's size when file holds
// only its start (a huge file need not be read whole to be too large); by
// default file.size(). Never fails: a refusal is a verdict.
ImageVerdict CheckFirmwareImage(std::span<const std::uint8_t> file,
                                std::optional<std::uint64_t> wholeSize = std::nullopt);

// The message text with %1, %2, ... replaced by args in order; a missing
// argument leaves its place marker. Never fails.
std::string FillMessageArgs(std::string text, const std::vector<std::string>& args);
