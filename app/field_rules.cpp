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
#include "app/limited_edit.h"
#include "app/main_window.h"
#include "app/message_box.h"
#include "params/field_checks.h"

namespace {

using KeyFilter = void (TForm1::*)(QObject*, char16_t&);
using ExitHandler = void (TForm1::*)(QObject*);

// Per control: its key filter and its exit rule (either may be null).
struct FieldHandlers {
  KeyFilter key = nullptr;
  ExitHandler exit = nullptr;
};

QHash<const QObject*, FieldHandlers>& Handlers() {
  static QHash<const QObject*, FieldHandlers> table;
  return table;
}

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

bool InRange(char16_t c, char16_t lo, char16_t hi) { return c >= lo && c <= hi; }

void SetShown(std::initializer_list<QWidget*> widgets, bool shown) {
  for (QWidget* w : widgets) w->setVisible(shown);
}
void SetEnabled(std::initializer_list<QWidget*> widgets, bool enabled) {
  for (QWidget* w : widgets) w->setEnabled(enabled);
}

} // namespace

void TForm1::InstallFieldRules() {
  auto& table = Handlers();
  auto add = [&](std::initializer_list<QWidget*> fields, KeyFilter key, ExitHandler exit) {
    for (QWidget* field : fields) {
      FieldHandlers& h = table[field];
      if (key) h.key = key;
      if (exit) h.exit = exit;
      field->installEventFilter(this);
      connect(field, &QObject::destroyed, this, [field] { Handlers().remove(field); });
    }
  };
  // Key filters.
  add({ed_packet_length, ed_delay, ed_port1, ed_port2, ed_port3, edMasterPort, ed_heart,
       ed_reconnecttime, ed_idletime, edAuto_cnt_interval, ePcreconnectinterval, ed_insert_pos,
       edPingIvl},
      &TForm1::ed_packet_lengthKeyPress, nullptr);
  add({ed_ip1, ed_ip2, ed_ip3, edMasterIP, edPingIP, edprimaryDNS, edSecondaryDNS},
      &TForm1::ed_ip1KeyPress, nullptr);
  add({ed_phone, edPincode}, &TForm1::ed_phoneKeyPress, nullptr);
  add({m_heart, m_heart_ack}, &TForm1::m_heartKeyPress, nullptr);
  // Exit rules.
  add({ed_port1, ed_port2, ed_port3, edMasterPort, ed_heart}, nullptr, &TForm1::ed_port1Exit);
  add({ed_ip1, ed_ip2, ed_ip3, edMasterIP}, nullptr, &TForm1::ed_ip1Exit);
  add({edprimaryDNS, edPingIP}, nullptr, &TForm1::edprimaryDNSExit);
  add({edSecondaryDNS}, nullptr, &TForm1::edSecondaryDNSExit);
  add({ed_packet_length}, nullptr, &TForm1::ed_packet_lengthExit);
  add({ed_delay}, nullptr, &TForm1::ed_delayExit);
  add({ed_idletime, ed_reconnecttime}, nullptr, &TForm1::ed_idletimeExit);
  add({edConf}, nullptr, &TForm1::edConfExit);
  add({edAuto_cnt_interval}, nullptr, &TForm1::edAuto_cnt_intervalExit);
  add({ed_insert_pos}, nullptr, &TForm1::ed_insert_posExit);
  add({edPingIvl}, nullptr, &TForm1::edPingIvlExit);
  add({ePcreconnectinterval}, nullptr, &TForm1::ePcreconnectintervalExit);

  // Lists: the rules run when the technician picks an item; code that sets a
  // list runs them itself (activated is never emitted for changes from code).
  connect(cb_workmode, &QComboBox::activated, this, [this] { cb_workmodeChange(cb_workmode); });
  connect(cbPconlinemode, &QComboBox::activated, this,
          [this] { cbPconlinemodeChange(cbPconlinemode); });
  connect(cbdtuserialptcl, &QComboBox::activated, this,
          [this] { cbdtuserialptclClick(cbdtuserialptcl); });
  connect(cbPtcl_select, &QComboBox::activated, this,
          [this] { cbPtcl_selectChange(cbPtcl_select); });
  // Check boxes: every change of the tick runs the rule, from a click or from code.
  connect(ck_enable_heart, &QAbstractButton::toggled, this,
          [this] { ck_enable_heartClick(ck_enable_heart); });
  connect(ck_enable_heart_ack, &QAbstractButton::toggled, this,
          [this] { ck_enable_heart_ackClick(ck_enable_heart_ack); });
  connect(cb_insert_enable, &QAbstractButton::toggled, this,
          [this] { cb_insert_enableClick(cb_insert_enable); });

  // Fields holding record texts take no more than the record field holds.
  for (const PageField& pf : PageFields())
    if (auto* edit = qobject_cast<TLimitedEdit*>(pf.edit);
        edit && FieldInfo(pf.field).encoding == FieldEncoding::Text)
      edit->setByteLimit(FieldInfo(pf.field).size);

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
    if (it == Handlers().constEnd() || !it->exit) break;
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
  if (it == Handlers().constEnd() || !it->exit || refusing_ || closed_) return false;
  // Only a move to another control of this window counts as leaving the
  // field; switching to another window or opening a popup does not.
  const auto reason = static_cast<QFocusEvent*>(event)->reason();
  if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) return false;
  QWidget* next = QApplication::focusWidget();
  if (!next || next == field || !isAncestorOf(next)) return false;
  (this->*(it->exit))(field);
  return true;
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
  if (InRange(key, 32, 47) || InRange(key, 58, 126)) key = 0;
}

void TForm1::ed_ip1KeyPress(QObject*, char16_t& key) {
  if (InRange(key, 32, 45) || key == 47 || InRange(key, 58, 126)) key = 0;
}

void TForm1::ed_phoneKeyPress(QObject*, char16_t& key) {
  if (!(key == 8 || key == u'+' || InRange(key, u'0', u'9'))) key = 0;
}

void TForm1::m_heartKeyPress(QObject*, char16_t& key) {
  if (!(key == 8 || key == u' ' || InRange(key, u'0', u'9') || InRange(key, u'A', u'F') ||
        InRange(key, u'a', u'f')))
    key = 0;
}

// ---------------------------------------------------------------- exit rules

void TForm1::ApplyExitRule(QObject* sender, ExitRule rule) {
  auto* field = qobject_cast<QWidget*>(sender);
  if (!field) return;
  const QString text = FieldText(sender);
  const FieldCheck check =
      CheckExitRule(rule, text.toStdString(), edprimaryDNS->text().toStdString());
  // A text that is not a number gets the conversion box and is neither
  // refused nor logged.
  if (check.outcome == FieldCheck::Outcome::NotANumber)
    ShowErrorBox(this, InvalidIntegerMessage(text));
  else if (!check.accepted())
    RefuseField(field);
}

void TForm1::ed_port1Exit(QObject* sender) { ApplyExitRule(sender, ExitRule::Port); }
void TForm1::ed_ip1Exit(QObject* sender) { ApplyExitRule(sender, ExitRule::Address); }
void TForm1::edprimaryDNSExit(QObject* sender) { ApplyExitRule(sender, ExitRule::NameServer); }
void TForm1::edSecondaryDNSExit(QObject* sender) {
  ApplyExitRule(sender, ExitRule::SecondaryNameServer);
}
void TForm1::ed_packet_lengthExit(QObject* sender) {
  ApplyExitRule(sender, ExitRule::PacketLength);
}
void TForm1::ed_delayExit(QObject* sender) { ApplyExitRule(sender, ExitRule::Delay); }
void TForm1::ed_idletimeExit(QObject* sender) { ApplyExitRule(sender, ExitRule::Interval); }
// Counted in device bytes: a Chinese character takes two of the six.
void TForm1::edConfExit(QObject* sender) { ApplyExitRule(sender, ExitRule::SwitchCommand); }
void TForm1::edAuto_cnt_intervalExit(QObject* sender) {
  ApplyExitRule(sender, ExitRule::StartInterval);
}
void TForm1::ed_insert_posExit(QObject* sender) { ApplyExitRule(sender, ExitRule::InsertPosition); }
void TForm1::edPingIvlExit(QObject* sender) { ApplyExitRule(sender, ExitRule::PingInterval); }
void TForm1::ePcreconnectintervalExit(QObject* sender) {
  ApplyExitRule(sender, ExitRule::ManagementReconnect);
}

// ---------------------------------------------------------------- dependent controls

void TForm1::cb_workmodeChange(QObject*) {
  const int mode = cb_workmode->currentIndex();
  SetShown({ed_idletime, Label42, Label70, ckbDropWakedata}, mode == 1);
  SetShown({ed_reconnecttime, Label39, Label41}, mode == 0);
  ck_enable_recv_sms->setChecked(mode == 2);
}

void TForm1::cbPconlinemodeChange(QObject*) {
  const int mode = cbPconlinemode->currentIndex();
  SetShown({ePcreconnectinterval, Label67, Label68}, mode == 0);
  SetShown({edAuto_cnt_interval, Label53, Label54}, mode == 1);
}

void TForm1::cbdtuserialptclClick(QObject*) {
  SetShown({ed_packet_length, ed_delay, Label105, Label108, Label106, Label107},
           cbdtuserialptcl->currentIndex() == 0);
}

void TForm1::cbPtcl_selectChange(QObject*) {
  SetShown({Label30, Panel13}, cbPtcl_select->currentIndex() == 0);
}

void TForm1::ck_enable_heartClick(QObject*) {
  const bool on = ck_enable_heart->isChecked();
  SetEnabled({m_heart, Label33}, on);
  if (!on) ck_enable_heart_ack->setChecked(false); // runs its own rule when it changes
  ck_enable_heart_ack->setEnabled(on);
  ck_enable_heart_ackClick(ck_enable_heart_ack);
  cb_insert_enable->setEnabled(on);
  cb_insert_enableClick(cb_insert_enable);
}

void TForm1::ck_enable_heart_ackClick(QObject*) {
  SetEnabled({m_heart_ack, Label34}, ck_enable_heart_ack->isChecked());
}

void TForm1::cb_insert_enableClick(QObject*) {
  SetEnabled({ed_insert_pos, Label96, Label97}, cb_insert_enable->isChecked());
}

// ---------------------------------------------------------------- mouse wheel

namespace {
void ScrollOneLine(QScrollArea* box, int wheelDelta) {
  box->verticalScrollBar()->triggerAction(wheelDelta < 0 ? QAbstractSlider::SliderSingleStepAdd
                                                         : QAbstractSlider::SliderSingleStepSub);
}
} // namespace

void TForm1::sbDialMouseWheel(QObject*, int wheelDelta) { ScrollOneLine(sbDial, wheelDelta); }
void TForm1::sbPtclMouseWheel(QObject*, int wheelDelta) { ScrollOneLine(sbPtcl, wheelDelta); }
