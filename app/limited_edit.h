#pragma once
// Edit fields with a character limit that binds only what the technician
// types, pastes or drops. Text put in by the program (a decoded parameter
// record, the factory set, a firmware file name) is never cut, which is why
// QLineEdit::maxLength, which also cuts setText, is not used for these.

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QString>
#include <QStringView>

// The part of an edit (`before` became `after`) that goes beyond the limit:
// after[start, start + count) are the last characters of the inserted run
// that do not fit in max(limit, before.size()). inserted is the length of the
// inserted run. count is 0 when the edit fits, the text did not grow, or
// limit <= 0 (no limit). cursor, the caret just behind the insertion (-1 if
// unknown), places the run where equal characters leave it ambiguous. A
// surrogate pair is never split.
struct EditOverflow {
  qsizetype start = 0;
  qsizetype count = 0;
  qsizetype inserted = 0;
};
EditOverflow FindEditOverflow(QStringView before, QStringView after, int limit,
                              qsizetype cursor = -1);

// The same for a limit in device bytes (GBK, as the record stores texts):
// the inserted characters that do not fit in max(byteLimit, bytes of
// before), whole characters only.
EditOverflow FindByteOverflow(QStringView before, QStringView after, int byteLimit,
                              qsizetype cursor = -1);

// "used / width bytes", the tooltip of a field limited in device bytes.
QString ByteUsage(QStringView text, int byteLimit);

// Single-line edit. A typed key that does not fit is refused; a paste or drop
// keeps as much as fits. A text set by the program that is already longer
// than the limit can be edited but not made longer. A setText made from a
// textEdited handler, while the technician's input is being handled, is
// bound like that input.
class TLimitedEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(int charLimit READ charLimit WRITE setCharLimit)

public:
  explicit TLimitedEdit(QWidget* parent = nullptr);

  int charLimit() const { return limit_; }
  // 0 or less: no limit. Never changes the current text.
  void setCharLimit(int limit) { limit_ = limit; }

  // A second limit, in device bytes, for a field that holds a record text;
  // both limits bind. The tooltip then shows the bytes used. 0: none.
  int byteLimit() const { return byteLimit_; }
  void setByteLimit(int bytes);

  // The limit is enforced by a validator owned by the field; another one
  // would silently lift it.
  void setValidator(const QValidator*) = delete;

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override; // X11 selection paste
  void contextMenuEvent(QContextMenuEvent* event) override;

private:
  friend class LimitValidator;
  friend class UserInputScope;

  int limit_ = 0;
  int byteLimit_ = 0;
  int userInput_ = 0; // > 0 while an input of the technician is processed
  QString lastText_;  // the text before the change under validation
};

// Memo of one visible line for a heartbeat packet as hexadecimal text. Plain
// text only; the limit binds typing, pasting and dropping like TLimitedEdit.
class TMemo : public QPlainTextEdit {
  Q_OBJECT
  Q_PROPERTY(int charLimit READ charLimit WRITE setCharLimit)

public:
  explicit TMemo(QWidget* parent = nullptr);

  int charLimit() const { return limit_; }
  // 0 or less: no limit. Never changes the current text.
  void setCharLimit(int limit) { limit_ = limit; }

  QString text() const { return toPlainText(); }
  // Not limited: the program's own text is kept whole.
  void setText(const QString& text) { setPlainText(text); }

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;

private:
  // Runs one user edit and removes what it inserted beyond the limit.
  template <class Edit>
  void LimitUserEdit(Edit&& edit);

  int limit_ = 0;
};
