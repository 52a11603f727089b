#pragma once
// The status log: one coloured line per report, at most 10,000 lines.

#include <QString>
#include <cstdint>

class QPlainTextEdit;
class QTextDocument;

// Colours in the toolkit's encoding: red in the low byte.
using TColor = std::uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clRed = 0x0000FF;

enum class FontStyle : std::uint8_t {
  Bold = 1,
  Italic = 2,
  Underline = 4,
  StrikeOut = 8
};
struct FontStyles {
  std::uint8_t bits = 0;
  constexpr FontStyles() = default;
  constexpr FontStyles(FontStyle s) : bits(std::uint8_t(s)) {}
  constexpr bool has(FontStyle s) const { return bits & std::uint8_t(s); }
};

inline constexpr int kStatusLogMaxLines = 10000;

class StatusLog {
public:
  // A plain text edit: its layout keeps dropping the oldest line cheap, where
  // a rich text edit re-lays out the whole log on every drop (about 10 ms per
  // report once the log is full). Lines still carry their own formats.
  explicit StatusLog(QPlainTextEdit* edit);
  // Appends text as a new last line in its own colour, size and style, drops
  // the oldest line beyond kStatusLogMaxLines, and scrolls to the end.
  void Append(const QString& text, TColor colour, int sizePt, FontStyles style);
  int LineCount() const;

private:
  void ShowNewestLine();
  QTextDocument* document() const;

  QPlainTextEdit* edit_ = nullptr;
};
