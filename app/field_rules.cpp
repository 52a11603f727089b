// What the parameter pages let the technician type, what they accept when a
// field is left, and which rows follow the selections that govern them.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QHash>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

#include "app/app_texts.h"
#include "app/caption_table.h"
#include "app/limited_edit.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "params/field_model.h"

namespace {

using KeyFilter = void (TForm1::*)(QObject*, char16_t&);

// Per control: its key filter (may be null) and the field whose exit rule
// guards it (AppField::Count: none).
struct FieldHandlers {
  KeyFilter key = nullptr;
  AppField exitField = AppField::Count;
};

QHash<const QObject*, FieldHandlers>& Handlers() {
  static QHash<const QObject*, FieldHandlers> table;
  return table;
}

// The key filter of what the field model lets a technician type.
KeyFilter FilterFor(FieldTyping typing) {
  switch (typing) {
  case FieldTyping::Digits:
    return &TForm1::ed_packet_lengthKeyPress;
  case FieldTyping::Address:
    return &TForm1::ed_ip1KeyPress;
  case FieldTyping::Phone:
    return &TForm1::ed_phoneKeyPress;
  case FieldTyping::Hex:
    return &TForm1::m_heartKeyPress;
  case FieldTyping::Picked:
  case FieldTyping::Any:
    break;
  }
  return nullptr;
}

// The object name of the main-window control that shows a caption key of a
// section; empty when none does.
QString CaptionReceiver(std::string_view section, std::string_view key) {
  if (key.empty()) return {};
  for (const CaptionEntry& e : kCaptionTable)
    if (e.kind == CaptionKind::Text && section == e.section && key == e.key)
      return QString::fromLatin1(e.receiver);
  return {};
}

QString Latin1(std::string_view s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }

QString FieldText(QObject* field) {
  if (auto* edit = qobject_cast<QLineEdit*>(field)) return edit->text();
  if (auto* memo = qobject_cast<QPlainTextEdit*>(field)) return memo->toPlainText();
  return {};
}

// The character a key press types, as a single character code; 0 for keys
// that type nothing (arrows, Delete, function keys), which no filter sees.
char16_t TypedCharacter(const QKeyEvent* event) {
  switch (event->key()) {
  case Qt::Key_Backspace:
    return 8;
  case Qt::Key_Return:
  case Qt::Key_Enter:
    return 13;
  case Qt::Key_Tab:
  case Qt::Key_Backtab:
    return 0; // focus movement, never text
  case Qt::Key_Delete:
    return 0; // some platforms give it the text 127; it types nothing
  default:
    break;
  }
  // Ctrl with a letter types its control code (Ctrl+V is 22), whatever text
  // the platform attaches; the filters treat these as control characters.
  const Qt::KeyboardModifiers mods = event->modifiers();
  if ((mods & Qt::ControlModifier) && !(mods & Qt::AltModifier) && event->key() >= Qt::Key_A &&
      event->key() <= Qt::Key_Z)
    return char16_t(event->key() - Qt::Key_A + 1);
  const QString text = event->text();
  return text.isEmpty() ? 0 : text.at(0).unicode();
}

} // namespace

void TForm1::FindFieldWidgets() {
  for (const FieldRow& row : kFieldRows) {
    FieldWidgets& w = fieldWidgets_[std::size_t(row.field)];
    const FieldPage& page = PageOf(row);
    w.page = findChild<QWidget*>(Latin1(page.control));
    if (!w.page || row.control.empty()) continue;
    w.control = w.page->findChild<QWidget*>(Latin1(row.control));
    if (!w.control)
      qFatal("the page %s has no control %s", page.control.data(), row.control.data());
    w.row = {w.control};
    for (const Caption& c : {row.label, row.unit}) {
      // findChild with an empty name would take the page's first label.
      const QString receiver = CaptionReceiver(page.section, c.key);
      auto* label = receiver.isEmpty() ? nullptr : w.page->findChild<QLabel*>(receiver);
      if (!label) continue;
      w.row << label;
      if (c.key == row.label.key) w.label = label;
    }
  }
}

void TForm1::InstallFieldRules() {
  FindFieldWidgets();
  auto& table = Handlers();
  for (const FieldRow& row : kFieldRows) {
    QWidget* control = WidgetsOf(row.field).control;
    if (!control) continue;
    // What the technician may type, and what a field holding a record text
    // takes: its bytes, one short of the record field, so the unit finds
    // its zero byte.
    if (auto* edit = qobject_cast<TLimitedEdit*>(control)) {
      edit->setCharLimit(TypingLimit(row.field));
      if (row.kind == FieldKind::Text) edit->setByteLimit(row.maxBytes);
    } else if (auto* memo = qobject_cast<TMemo*>(control)) {
      memo->setCharLimit(TypingLimit(row.field));
    }
    const KeyFilter key = FilterFor(row.typing);
    const AppField exitField =
        EditedConfig::ChecksWhenLeft(row.field) ? row.field : AppField::Count;
    if (!key && exitField == AppField::Count) continue;
    table[control] = {key, exitField};
    control->installEventFilter(this);
    connect(control, &QObject::destroyed, this, [control] { Handlers().remove(control); });
  }

  // Selectors: a list's rules run when the technician picks an item (code
  // that sets a list runs them itself: activated is never emitted for changes
  // from code); a box's on every change of its tick, from a click or from code.
  auto governs = [](AppField f) {
    for (const FieldGroup& g : kFieldGroups)
      if (g.shownWhen.field == f) return true;
    for (const FieldRow& r : kFieldRows)
      if (r.shownWhen.field == f || r.enabledWhen.field == f) return true;
    for (const ChangeRule& c : kChangeRules)
      if (c.when.field == f) return true;
    return false;
  };
  for (const FieldRow& row : kFieldRows) {
    if (!governs(row.field)) continue;
    const AppField f = row.field;
    if (auto* list = qobject_cast<QComboBox*>(WidgetsOf(f).control))
      connect(list, &QComboBox::activated, this, [this, f] { ApplySelectorRules(f); });
    else if (auto* box = qobject_cast<QAbstractButton*>(WidgetsOf(f).control))
      connect(box, &QAbstractButton::toggled, this, [this, f] { ApplySelectorRules(f); });
  }

  sbDial->viewport()->installEventFilter(this);
  sbPtcl->viewport()->installEventFilter(this);
  // A wheel turned over a list the technician is not working in scrolls the
  // page instead of silently changing a parameter on the way past.
  for (QScrollArea* box : {sbDial, sbPtcl})
    for (QComboBox* list : box->findChildren<QComboBox*>()) {
      list->setFocusPolicy(Qt::StrongFocus);
      list->installEventFilter(this);
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
  case QEvent::KeyPress: {
    const auto it = Handlers().constFind(watched);
    if (it == Handlers().constEnd() || !it->key) break;
    char16_t key = TypedCharacter(static_cast<QKeyEvent*>(event));
    if (key == 0) break;
    (this->*(it->key))(watched, key);
    if (key == 0) return true; // discarded
    break;
  }
  case QEvent::InputMethod: {
    // Text committed by an input method is typed text too: the key filter
    // decides on each of its characters.
    const auto it = Handlers().constFind(watched);
    if (it == Handlers().constEnd() || !it->key) break;
    auto* im = static_cast<QInputMethodEvent*>(event);
    if (im->commitString().isEmpty()) break;
    QString kept;
    for (const QChar ch : im->commitString()) {
      char16_t key = ch.unicode();
      (this->*(it->key))(watched, key);
      if (key != 0) kept.append(ch);
    }
    if (kept.size() != im->commitString().size())
      im->setCommitString(kept, im->replacementStart(), im->replacementLength());
    break;
  }
  case QEvent::FocusOut: {
    const auto it = Handlers().constFind(watched);
    if (it == Handlers().constEnd() || it->exitField == AppField::Count) break;
    // The field finishes its own focus-out first (a line edit drops its
    // selection there); a refusal then selects the text and stays in force.
    const bool handled = watched->event(event);
    ExitRuleFor(watched, event);
    return handled;
  }
  case QEvent::Wheel: {
    auto* list = qobject_cast<QComboBox*>(watched);
    if (list && list->hasFocus()) break; // the list the technician is in takes the wheel
    const bool onDial = watched == sbDial->viewport() || (list && sbDial->isAncestorOf(list));
    const bool onPtcl = watched == sbPtcl->viewport() || (list && sbPtcl->isAncestorOf(list));
    if (onDial || onPtcl) {
      const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
      if (delta == 0) break; // horizontal wheels do not scroll these pages
      if (onDial)
        sbDialMouseWheel(sbDial, delta);
      else
        sbPtclMouseWheel(sbPtcl, delta);
      return true; // one line per notch, not the scroll area's three
    }
    break;
  }
  default:
    break;
  }
  return QWidget::eventFilter(watched, event);
}

bool TForm1::ExitRuleFor(QObject* field, QEvent* event) {
  const auto it = Handlers().constFind(field);
  if (it == Handlers().constEnd() || it->exitField == AppField::Count || refusing_ || closed_)
    return false;
  // Only a move to another control of this window counts as leaving the
  // field; switching to another window or opening a popup does not.
  const auto reason = static_cast<QFocusEvent*>(event)->reason();
  if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return false;
  QWidget* next = QApplication::focusWidget();
  if (!next || next == field || !isAncestorOf(next)) return false;
  ApplyExitRule(field);
  return true;
}

bool TForm1::LeaveFocusedField() {
  QWidget* focused = QApplication::focusWidget();
  const auto it = Handlers().constFind(focused);
  if (!focused || !isAncestorOf(focused) || it == Handlers().constEnd() ||
      it->exitField == AppField::Count || closed_)
    return true;
  return ApplyExitRule(focused);
}

void TForm1::RefuseField(QWidget* field) {
  LogStatus(GetCaption(QStringLiteral("par_error")), clRed, 9);
  // A field whose page or row has just been hidden cannot take the focus
  // back; keyboard input must not go to a control the technician cannot see.
  if (!field->isVisible() || !field->isEnabled()) return;
  refusing_ = true;
  field->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(field)) edit->selectAll();
  if (auto* memo = qobject_cast<QPlainTextEdit*>(field)) memo->selectAll();
  refusing_ = false;
}

// ---------------------------------------------------------------- key filters

void TForm1::ed_packet_lengthKeyPress(QObject*, char16_t& key) {
  if (!TypedCharacterPasses(FieldTyping::Digits, key)) key = 0;
}

void TForm1::ed_ip1KeyPress(QObject*, char16_t& key) {
  if (!TypedCharacterPasses(FieldTyping::Address, key)) key = 0;
}

void TForm1::ed_phoneKeyPress(QObject*, char16_t& key) {
  if (!TypedCharacterPasses(FieldTyping::Phone, key)) key = 0;
}

void TForm1::m_heartKeyPress(QObject*, char16_t& key) {
  if (!TypedCharacterPasses(FieldTyping::Hex, key)) key = 0;
}

// ---------------------------------------------------------------- exit rules

bool TForm1::ApplyExitRule(QObject* sender) {
  auto* field = qobject_cast<QWidget*>(sender);
  const auto it = Handlers().constFind(sender);
  if (!field || it == Handlers().constEnd() || it->exitField == AppField::Count) return true;
  PagesToConfig();
  const auto verdict = config_.Leave(it->exitField);
  if (!verdict) return true;
  // A text that is not a number gets the conversion box and is neither
  // refused nor logged.
  if (verdict->notANumber) {
    ShowErrorBox(this, InvalidIntegerMessage(FieldText(sender)));
    return true;
  }
  RefuseField(field);
  // A range is in the field's hint; anything else is said.
  if (!verdict->refusal.reason.empty())
    LogStatus(QStringLiteral("%1: %2 (%3)")
                  .arg(FieldLabel(verdict->refusal.field), FieldText(sender),
                       QString::fromStdString(verdict->refusal.Detail())),
              clRed, 9);
  return false;
}

// ---------------------------------------------------------------- dependent controls

void TForm1::ApplySelectorRules(AppField selector) {
  // The configuration decides which boxes the selector sets; a box set runs
  // its own rules as it changes.
  PagesToConfig();
  for (AppField f : config_.Choose(selector, ControlValue(selector)))
    if (auto* box = qobject_cast<QAbstractButton*>(WidgetsOf(f).control); box && f != selector)
      box->setChecked(config_.value(f) == "1");
  for (const FieldGroup& group : kFieldGroups) {
    if (group.shownWhen.field != selector) continue;
    // The heading, and the box that holds the group's rows.
    const bool shown = config_.Holds(group.shownWhen);
    const FieldPage& page = kFieldPages[group.page];
    if (const QString receiver = CaptionReceiver(page.section, group.heading.key);
        !receiver.isEmpty())
      if (auto* heading = findChild<QLabel*>(receiver)) heading->setVisible(shown);
    for (const FieldRow& row : kFieldRows)
      if (&GroupOf(row) == &group && WidgetsOf(row.field).control) {
        WidgetsOf(row.field).control->parentWidget()->setVisible(shown);
        break;
      }
  }
  for (const FieldRow& row : kFieldRows) {
    const FieldWidgets& w = WidgetsOf(row.field);
    if (row.shownWhen.field == selector)
      for (QWidget* widget : w.row) widget->setVisible(config_.Holds(row.shownWhen));
    if (row.enabledWhen.field == selector)
      for (QWidget* widget : w.row) widget->setEnabled(config_.Holds(row.enabledWhen));
  }
}

void TForm1::cb_workmodeChange(QObject*) { ApplySelectorRules(AppField::run_mode); }
void TForm1::cbPconlinemodeChange(QObject*) { ApplySelectorRules(AppField::run_type); }
void TForm1::cbdtuserialptclClick(QObject*) { ApplySelectorRules(AppField::com_ptcl); }
void TForm1::cbPtcl_selectChange(QObject*) { ApplySelectorRules(AppField::select_ptcl); }
void TForm1::ck_enable_heartClick(QObject*) {
  ApplySelectorRules(AppField::custom_heart_packet_en);
}
void TForm1::ck_enable_heart_ackClick(QObject*) {
  ApplySelectorRules(AppField::custom_heart_packet_ack_en);
}
void TForm1::cb_insert_enableClick(QObject*) { ApplySelectorRules(AppField::dtuinsertid); }

// ---------------------------------------------------------------- mouse wheel

namespace {
void ScrollOneLine(QScrollArea* box, int wheelDelta) {
  box->verticalScrollBar()->triggerAction(wheelDelta < 0 ? QAbstractSlider::SliderSingleStepAdd
                                                         : QAbstractSlider::SliderSingleStepSub);
}
} // namespace

void TForm1::sbDialMouseWheel(QObject*, int wheelDelta) { ScrollOneLine(sbDial, wheelDelta); }
void TForm1::sbPtclMouseWheel(QObject*, int wheelDelta) { ScrollOneLine(sbPtcl, wheelDelta); }
