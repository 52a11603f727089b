#pragma once
// The control texts of caption.ini: which key of which section goes to which
// control, with its built-in default. LoadCaptions walks this table in order.

#include <array>
#include <cstddef>

enum class CaptionKind {
  Text,        // caption or text of a main-window control
  Item,        // next item of a main-window list
  DialogText,  // caption or text of a link-settings-dialog control
  DialogItem,  // next item of a link-settings-dialog list
  DialogTitle, // title of the link settings dialog
};

struct CaptionEntry {
  const char* section;
  const char* key;
  const char* def;      // UTF-8
  const char* receiver; // object name of the control (or list) that receives the text
  CaptionKind kind;
};

inline constexpr std::size_t kCaptionCount = 136;
extern const std::array<CaptionEntry, kCaptionCount> kCaptionTable;

// Built-in texts of the two status bar panels that name the maker.
inline constexpr const char* kCompanyName = "DTU Tools Workshop";
inline constexpr const char* kCompanyWeb = "www.dtu-tools.example.net";
