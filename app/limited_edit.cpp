#include "app/limited_edit.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QTextCursor>
#include <QValidator>

#include <algorithm>

#include "platform/code_page_936.h"

namespace {

// Where an edit (`before` became `after`) put its inserted run: after[start,
// end). It replaced before[start, before.size() - (after.size() - end)).
// Where equal characters make the run ambiguous, the cursor (just behind
// the insertion, -1 if unknown) settles it.
struct InsertedRun {
  qsizetype start = 0;
  qsizetype end = 0;
};
InsertedRun FindInsertedRun(QStringView before, QStringView after, qsizetype cursor) {
  const qsizetype common = std::min(before.size(), after.size());
  qsizetype prefix = 0;
  while (prefix < common && before[prefix] == after[prefix]) ++prefix;
  qsizetype maxSuffix = common - prefix;
  if (cursor >= prefix && cursor <= after.size())
    maxSuffix = std::min(maxSuffix, after.size() - cursor);
  qsizetype suffix = 0;
  while (suffix < maxSuffix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
    ++suffix;
  return {prefix, after.size() - suffix};
}

// Bytes the characters take in the device's code page.
qsizetype DeviceBytes(QStringView text) {
  return qsizetype(cp936::ByteLength(text.toString().toStdString()));
}

} // namespace

EditOverflow FindEditOverflow(QStringView before, QStringView after, int limit, qsizetype cursor) {
  EditOverflow result;
  if (limit <= 0) return result;
  const qsizetype allowed = std::max<qsizetype>(limit, before.size());
  if (after.size() <= allowed) return result;

  const InsertedRun run = FindInsertedRun(before, after, cursor);
  result.inserted = run.end - run.start;
  // after grew by at most the inserted run, so the excess always lies in it.
  qsizetype start = run.end - (after.size() - allowed);
  if (start > run.start && after[start - 1].isHighSurrogate() && after[start].isLowSurrogate())
    --start;
  result.start = start;
  result.count = run.end - start;
  return result;
}

EditOverflow FindByteOverflow(QStringView before, QStringView after, int byteLimit,
                              qsizetype cursor) {
  EditOverflow result;
  if (byteLimit <= 0) return result;
  const qsizetype allowed = std::max<qsizetype>(byteLimit, DeviceBytes(before));
  if (DeviceBytes(after) <= allowed) return result;
  const InsertedRun run = FindInsertedRun(before, after, cursor);
  result.inserted = run.end - run.start;
  // Keep the inserted characters from its start while they fit beside the
  // text around them; the rest goes, a whole character at a time.
  qsizetype budget = allowed - DeviceBytes(after.left(run.start)) - DeviceBytes(after.mid(run.end));
  qsizetype keep = run.start;
  while (keep < run.end) {
    const qsizetype n = (after[keep].isHighSurrogate() && keep + 1 < run.end) ? 2 : 1;
    const qsizetype bytes = DeviceBytes(after.mid(keep, n));
    if (bytes > budget) break;
    budget -= bytes;
    keep += n;
  }
  result.start = keep;
  result.count = run.end - keep;
  return result;
}

QString ByteUsage(QStringView text, int byteLimit) {
  return QStringLiteral("%1 / %2 bytes").arg(DeviceBytes(text)).arg(byteLimit);
}

// ---------------------------------------------------------------- TLimitedEdit

// Marks the span in which the field handles input of the technician: only
// then does the limit apply, so setText from the program is never refused.
class UserInputScope {
public:
  explicit UserInputScope(TLimitedEdit& edit) : edit_(edit) { ++edit_.userInput_; }
  ~UserInputScope() { --edit_.userInput_; }
  UserInputScope(const UserInputScope&) = delete;
  UserInputScope& operator=(const UserInputScope&) = delete;

private:
  TLimitedEdit& edit_;
};

// QLineEdit validates every change; an Invalid answer to a change of the
// technician undoes exactly that change (cursor and undo history intact),
// while a change from setText is kept whatever the answer.
class LimitValidator final : public QValidator {
public:
  explicit LimitValidator(TLimitedEdit& edit) : QValidator(&edit), edit_(edit) {}

  // Invalid when nothing of the insertion fits; otherwise Acceptable, with
  // input cut back to the limit and pos placed behind what was kept.
  State validate(QString& input, int& pos) const override {
    if (edit_.userInput_ == 0) return Acceptable;
    for (const bool bytes : {false, true}) {
      const EditOverflow over =
          bytes ? FindByteOverflow(edit_.lastText_, input, edit_.byteLimit_, pos)
                : FindEditOverflow(edit_.lastText_, input, edit_.limit_, pos);
      if (over.count == 0) continue;
      if (over.count >= over.inserted) return Invalid;
      input.remove(over.start, over.count);
      pos = int(over.start);
    }
    return Acceptable;
  }

private:
  TLimitedEdit& edit_;
};

TLimitedEdit::TLimitedEdit(QWidget* parent) : QLineEdit(parent) {
  QLineEdit::setValidator(new LimitValidator(*this));
  // textChanged follows every change, the program's and the technician's,
  // after validation; so lastText_ is the text a new change starts from.
  connect(this, &QLineEdit::textChanged, this, [this] {
    lastText_ = text();
    if (byteLimit_ > 0) setToolTip(ByteUsage(lastText_, byteLimit_));
  });
}

void TLimitedEdit::setByteLimit(int bytes) {
  byteLimit_ = bytes;
  setToolTip(bytes > 0 ? ByteUsage(text(), bytes) : QString());
}

void TLimitedEdit::keyPressEvent(QKeyEvent* event) {
  // Undo and redo restore earlier texts, they are not typing; Enter types
  // nothing but runs the returnPressed handlers, whose setText is the
  // program's.
  const bool restores = event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo);
  const bool submits = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (restores || submits) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  UserInputScope scope(*this);
  QLineEdit::keyPressEvent(event);
}

void TLimitedEdit::inputMethodEvent(QInputMethodEvent* event) {
  UserInputScope scope(*this);
  QLineEdit::inputMethodEvent(event);
}

void TLimitedEdit::dropEvent(QDropEvent* event) {
  UserInputScope scope(*this);
  QLineEdit::dropEvent(event);
}

void TLimitedEdit::mouseReleaseEvent(QMouseEvent* event) {
  UserInputScope scope(*this);
  QLineEdit::mouseReleaseEvent(event);
}

void TLimitedEdit::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = createStandardContextMenu();
  if (!menu) return;
  menu->setAttribute(Qt::WA_DeleteOnClose);
  // The menu's paste runs later, from the menu, outside any input handler
  // here; so its action is found by its connection to paste() (made by name
  // or by member pointer, depending on the Qt version) and wrapped.
  for (QAction* action : menu->actions()) {
    const bool isPaste = disconnect(action, SIGNAL(triggered()), this, SLOT(paste())) ||
                         disconnect(action, &QAction::triggered, this, &QLineEdit::paste);
    if (isPaste)
      connect(action, &QAction::triggered, this, [this] {
        UserInputScope scope(*this);
        paste();
      });
  }
  menu->popup(event->globalPos());
}

// ---------------------------------------------------------------- TMemo

TMemo::TMemo(QWidget* parent) : QPlainTextEdit(parent) {
  // One visible line of 23 pixels: a narrow document margin and no scroll
  // bars leave room for the line; Tab moves on like in the edit fields.
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setTabChangesFocus(true);
  document()->setDocumentMargin(2);
}

template <class Edit>
void TMemo::LimitUserEdit(Edit&& edit) {
  const QString before = toPlainText();
  edit();
  if (limit_ <= 0) return;
  // Positions in the document and indices in its plain text coincide.
  const QString after = toPlainText();
  const EditOverflow over = FindEditOverflow(before, after, limit_, textCursor().position());
  if (over.count == 0) return;
  QTextCursor cursor(document());
  cursor.setPosition(int(over.start));
  cursor.setPosition(int(over.start + over.count), QTextCursor::KeepAnchor);
  cursor.joinPreviousEditBlock(); // one undo step with the edit itself
  cursor.removeSelectedText();
  cursor.endEditBlock();
  setTextCursor(cursor);
}

void TMemo::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo)) {
    QPlainTextEdit::keyPressEvent(event);
    return;
  }
  LimitUserEdit([&] { QPlainTextEdit::keyPressEvent(event); });
}

void TMemo::inputMethodEvent(QInputMethodEvent* event) {
  LimitUserEdit([&] { QPlainTextEdit::inputMethodEvent(event); });
}

// Paste from keyboard or menu, drop and selection paste all come here.
void TMemo::insertFromMimeData(const QMimeData* source) {
  LimitUserEdit([&] { QPlainTextEdit::insertFromMimeData(source); });
}
