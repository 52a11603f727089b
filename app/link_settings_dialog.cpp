#include "app/link_settings_dialog.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QSerialPortInfo>
#include <QShowEvent>
#include <algorithm>
#include <iterator>
#include <utility>

#include "app/app_texts.h"
#include "link/link_constants.h"
#include "link/link_settings.h"
#include "platform/ini_text.h"

Q_LOGGING_CATEGORY(lcLinkSettings, "k7v.link.settings")

namespace {

using namespace parcfg;

// An index outside the list leaves the list without a selection.
void SelectIndex(QComboBox* list, int index) {
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

// The selected item as a number; 0 when nothing is selected.
int SelectedNumber(const QComboBox* list) {
  return list->currentIndex() >= 0 ? list->currentText().toInt() : 0;
}

PortListing& CurrentPortListing() {
  static PortListing listing;
  return listing;
}

QStringList SystemPortNames() {
  QStringList names;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) names << info.portName();
  return names;
}

// A USB serial adapter: what a technician plugs in to reach a unit.
bool IsUsbAdapter(const QString& name) {
  return name.startsWith(QLatin1String("ttyUSB")) || name.startsWith(QLatin1String("ttyACM"));
}

} // namespace

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  QFont f(QStringLiteral("MS Sans Serif"));
  f.setPixelSize(11);
  setFont(f);
  // Under the application's style sheet the controls would not inherit the
  // dialog's font but take the application's; each gets it outright.
  for (QWidget* child : findChildren<QWidget*>()) child->setFont(f);
  ApplyListFonts();
  // A small tool window of fixed size; without a layout it must not be resized.
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::CustomizeWindowHint);
  setFixedSize(353, 280);
  // Typing is held to what the unit takes, counted in its code page; a longer
  // command set by the program can be shortened but not lengthened.
  const auto fits = [this](const QString& text) {
    return SwitchCommandTypingFits(text.toStdString(), setSwitchCommand_.toStdString());
  };
  connect(edSwitchChr, &QLineEdit::textChanged, this, [this, fits](const QString& text) {
    if (fits(text)) lastSwitchCommand_ = text;
    CheckTypedSwitchCommand();
  });
  connect(edSwitchChr, &QLineEdit::textEdited, this, [this, fits](const QString& text) {
    if (fits(text)) return;
    const int cursor = edSwitchChr->cursorPosition() - int(text.size() - lastSwitchCommand_.size());
    edSwitchChr->setText(lastSwitchCommand_);
    edSwitchChr->setCursorPosition(std::max(0, cursor));
  });
  connect(cb_com, &QComboBox::editTextChanged, this, &TForm3::ShowLongPortName);
  lbSwitchChrFault->hide();
  RefreshPorts();
}

void TForm3::SetSwitchCommand(const QString& text) {
  setSwitchCommand_ = lastSwitchCommand_ = text;
  // The field's character limit cuts setText too; the byte limit, which never
  // lets more characters through, is the one typing meets.
  edSwitchChr->setMaxLength(std::max(int(k7v::kSwitchCommandLength), int(text.size())));
  edSwitchChr->setText(text);
}

namespace {

// The core's keys, in the dialog's order of faults.
constexpr const char* kSwitchCommandFaultKeys[] = {nullptr, "switchchr_blank", "switchchr_quoted",
                                                   "switchchr_code_page"};

} // namespace

TForm3::SwitchCommandFault TForm3::CheckSwitchCommand(const QString& text) {
  const std::string key = ::CheckSwitchCommand(text.toStdString()).key;
  for (int i = 1; i < int(std::size(kSwitchCommandFaultKeys)); ++i)
    if (key == kSwitchCommandFaultKeys[i]) return SwitchCommandFault(i);
  return SwitchCommandFault::None;
}

const char* TForm3::SwitchCommandFaultKey(SwitchCommandFault fault) {
  const auto i = std::size_t(fault);
  return i < std::size(kSwitchCommandFaultKeys) ? kSwitchCommandFaultKeys[i] : nullptr;
}

void TForm3::CheckTypedSwitchCommand() {
  const char* key = SwitchCommandFaultKey(CheckSwitchCommand(edSwitchChr->text()));
  lbSwitchChrFault->setText(key ? GetCaption(QLatin1String(key)) : QString());
  lbSwitchChrFault->setToolTip(lbSwitchChrFault->text());
  lbSwitchChrFault->setVisible(key != nullptr);
  BitBtn1->setEnabled(key == nullptr);
}

void TForm3::ShowLongPortName() {
  const QString name = cb_com->currentText();
  const QLineEdit* field = cb_com->lineEdit();
  const bool cut = field && field->fontMetrics().horizontalAdvance(name) >
                                field->contentsRect().width() - 2 * field->textMargins().left();
  cb_com->setToolTip(cut ? name : QString());
}

void TForm3::accept() {
  if (CheckSwitchCommand(edSwitchChr->text()) != SwitchCommandFault::None) return;
  QDialog::accept();
}

void TForm3::reject() {
  if (shown_) {
    cb_com->setEditText(shown_->port);
    SelectIndex(cbbaudrate, shown_->baud);
    SelectIndex(cbDatabit, shown_->dataBits);
    SelectIndex(cbParitybit, shown_->parity);
    SelectIndex(cgStopbit, shown_->stopBits);
    SetSwitchCommand(shown_->switchCommand);
  }
  QDialog::reject();
}

void TForm3::RefreshPorts() {
  // Clearing an editable list also clears its text, so the typed name is kept aside.
  const QString current = cb_com->currentText();
  const QStringList names = SystemPorts();
  qCDebug(lcLinkSettings) << "serial ports" << names;
  cb_com->clear();
  cb_com->addItems(names);
  cb_com->setCurrentIndex(-1);
  cb_com->setEditText(current);
}

void TForm3::ApplyListFonts() {
  // The drop-downs too; an editable list's may have been made anew.
  for (QComboBox* list : findChildren<QComboBox*>()) list->view()->setFont(font());
}

void TForm3::showEvent(QShowEvent* event) {
  // USB adapters come and go while the program runs.
  if (!event->spontaneous()) {
    RefreshPorts();
    ApplyListFonts();
    shown_ =
        Shown{cb_com->currentText(),       cbbaudrate->currentIndex(), cbDatabit->currentIndex(),
              cbParitybit->currentIndex(), cgStopbit->currentIndex(),  edSwitchChr->text()};
    // A value stored in parcfg.ini is judged as a typed one: OK waits for it to be mended.
    CheckTypedSwitchCommand();
    ShowLongPortName();
  }
  QDialog::showEvent(event);
}

QStringList SystemPorts() {
  const PortListing& listing = CurrentPortListing();
  QStringList names = listing ? listing() : SystemPortNames();
  std::stable_partition(names.begin(), names.end(), IsUsbAdapter);
  return names;
}

PortListing SetPortListing(PortListing listing) {
  return std::exchange(CurrentPortListing(), std::move(listing));
}

QString FirstRunPort() {
#ifdef Q_OS_WIN
  return QString::fromLatin1(parcfg::kDefaultPort);
#else
  const QStringList ports = SystemPorts();
  return ports.isEmpty() ? QString() : ports.first();
#endif
}

LineSettings TForm3::Settings() const {
  LineSettings s;
  s.portName = cb_com->currentText();
  s.baudRate = SelectedNumber(cbbaudrate);
  s.dataBits = SelectedNumber(cbDatabit);
  s.stopBitsIndex = cgStopbit->currentIndex();
  s.parityIndex = cbParitybit->currentIndex();
  return s;
}

QString TForm3::LinkSummary(bool afterDialog) const {
  return cb_com->currentText() + u',' + cbbaudrate->currentText() + u'-' +
         cbDatabit->currentText() + u'-' + cbParitybit->currentText() + u'-' +
         cgStopbit->currentText() + (afterDialog ? QStringLiteral(", ") : QStringLiteral("-")) +
         QString::fromStdString(::CheckSwitchCommand(edSwitchChr->text().toStdString()).sent);
}

QList<LinkSettingsNote> LoadLinkSettings(TForm3& form3, const QString& path) {
  const IniTextFile ini(path);
  const QString section = QString::fromLatin1(kSection);
  const LinkSettingsRead read = ReadLinkSettings([&](std::string_view key) {
    const std::optional<QString> v =
        ini.Find(section, QString::fromLatin1(key.data(), qsizetype(key.size())));
    return v ? std::optional<std::string>(v->toStdString()) : std::nullopt;
  });
  // No port at all is no use; a first run, or one that found no port, takes
  // what the system offers now.
  form3.cb_com->setEditText(read.port.empty() ? FirstRunPort() : QString::fromStdString(read.port));
  const std::pair<QComboBox*, int> lists[] = {{form3.cbbaudrate, read.baudIndex},
                                              {form3.cbDatabit, read.dataBitsIndex},
                                              {form3.cgStopbit, read.stopBitsIndex},
                                              {form3.cbParitybit, read.parityIndex}};
  for (const auto& [list, index] : lists) SelectIndex(list, index);
  const std::pair<const char*, QComboBox*> byKey[] = {{kKeyBaud, form3.cbbaudrate},
                                                      {kKeyDataBits, form3.cbDatabit},
                                                      {kKeyStopBits, form3.cgStopbit},
                                                      {kKeyParity, form3.cbParitybit}};
  QList<LinkSettingsNote> notes;
  for (const LinkSettingsRead::Unusable& u : read.unusable)
    for (const auto& [key, list] : byKey)
      if (u.key == key)
        notes.append(
            {QString::fromLatin1(key), QString::fromStdString(u.raw), list->currentText()});
  form3.SetSwitchCommand(QString::fromStdString(read.switchCommand));
  return notes;
}

bool SaveLinkSettings(const TForm3& form3, const QString& path, QString* reason) {
  const QString section = QString::fromLatin1(kSection);
  const std::pair<const char*, QString> entries[] = {
      {kKeyCom, form3.cb_com->currentText()},
      {kKeyBaud, QString::number(form3.cbbaudrate->currentIndex())},
      {kKeyDataBits, QString::number(form3.cbDatabit->currentIndex())},
      {kKeyStopBits, QString::number(form3.cgStopbit->currentIndex())},
      {kKeyParity, QString::number(form3.cbParitybit->currentIndex())},
      {kKeySwitch, form3.edSwitchChr->text()},
  };
  QList<std::pair<QString, QString>> pairs;
  for (const auto& [key, value] : entries) pairs.append({QString::fromLatin1(key), value});
  // One reading, one judgement of the file's encoding, for all six keys.
  QString why;
  if (!WriteIniStrings(path, section, pairs, &why)) {
    qCWarning(lcLinkSettings) << "cannot write" << path << why;
    if (reason) *reason = why;
    return false;
  }
  return true;
}
