#include "app/status_log.h"

#include <QColor>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace {

// Marks a block that holds a logged line. A fresh document already has one
// empty block; without the mark an empty first report could not be told
// apart from "nothing logged yet".
constexpr int kLoggedLine = 1;

QColor ToQColor(TColor colour) {
  return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}

QTextCharFormat LineFormat(TColor colour, int sizePt, FontStyles style) {
  QTextCharFormat fmt;
  fmt.setForeground(ToQColor(colour));
  if (sizePt > 0) fmt.setFontPointSize(sizePt);
  fmt.setFontWeight(style.has(FontStyle::Bold) ? QFont::Bold : QFont::Normal);
  fmt.setFontItalic(style.has(FontStyle::Italic));
  fmt.setFontUnderline(style.has(FontStyle::Underline));
  fmt.setFontStrikeOut(style.has(FontStyle::StrikeOut));
  return fmt;
}

// A report is exactly one line: a line break inside it would split it into
// several blocks and upset the line count.
QString OneLine(QString text) {
  for (QChar& c : text) {
    if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
      c = u' ';
  }
  return text;
}

bool IsUntouched(const QTextDocument& doc) {
  const QTextBlock first = doc.firstBlock();
  return doc.blockCount() == 1 && first.userState() != kLoggedLine && first.length() <= 1;
}

void LimitDocument(QTextDocument* doc) {
  // The document drops its oldest blocks itself; this also switches off the
  // undo stack, which would otherwise grow with every report.
  doc->setMaximumBlockCount(kStatusLogMaxLines);
  doc->setUndoRedoEnabled(false);
}

// Caret at the start of the last line with nothing selected, and the bottom
// of the log in view whatever the user scrolled to.
void ShowLastLine(QPlainTextEdit* edit) {
  edit->setTextCursor(QTextCursor(edit->document()->lastBlock()));
  edit->ensureCursorVisible();
  if (QScrollBar* bar = edit->verticalScrollBar()) bar->setValue(bar->maximum());
}

} // namespace

StatusLog::StatusLog(QPlainTextEdit* edit) : edit_(edit) { LimitDocument(document()); }

QTextDocument* StatusLog::document() const { return edit_->document(); }

void StatusLog::ShowNewestLine() { ShowLastLine(edit_); }

// Never fails; an empty text still adds an (empty) line.
void StatusLog::Append(const QString& text, TColor colour, int sizePt, FontStyles style) {
  QTextDocument* doc = document();
  const QTextCharFormat fmt = LineFormat(colour, sizePt, style);

  // Always write at the end with a cursor of our own, wherever the user has
  // put the caret.
  QTextCursor cursor(doc);
  cursor.beginEditBlock();
  if (IsUntouched(*doc)) {
    cursor.movePosition(QTextCursor::Start);
    cursor.setBlockCharFormat(fmt);
  } else {
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock(QTextBlockFormat(), fmt);
  }
  cursor.block().setUserState(kLoggedLine);
  cursor.insertText(OneLine(text), fmt);
  cursor.endEditBlock(); // the oldest line goes here when the limit is passed

  ShowNewestLine();
}

// Number of logged lines; 0 before the first report.
int StatusLog::LineCount() const {
  const QTextDocument* doc = document();
  return IsUntouched(*doc) ? 0 : doc->blockCount();
}
