#include "app/link_settings_dialog.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QSerialPortInfo>
#include <QShowEvent>
#include <algorithm>
#include <utility>

#include "app/app_texts.h"
#include "link/link_settings_file.h"
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
  // The field's limit follows its text, so a longer command set by the
  // program can be shortened but not lengthened by typing.
  connect(edSwitchChr, &QLineEdit::textChanged, this, [this](const QString& text) {
    edSwitchChr->setMaxLength(std::max<int>(kSwitchCommandTypingLimit, int(text.size())));
    CheckTypedSwitchCommand();
  });
  connect(cb_com, &QComboBox::editTextChanged, this, &TForm3::ShowLongPortName);
  lbSwitchChrFault->hide();
  RefreshPorts();
}

void TForm3::SetSwitchCommand(const QString& text) {
  // maxLength cuts setText too, so it is widened first.
  edSwitchChr->setMaxLength(std::max<int>(kSwitchCommandTypingLimit, int(text.size())));
  edSwitchChr->setText(text);
}

TForm3::SwitchCommandFault TForm3::CheckSwitchCommand(const QString& text) {
  auto blank = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f'; };
  if (!text.isEmpty() && (blank(text.front()) || blank(text.back())))
    return SwitchCommandFault::BlankAtEnd;
  if (text.size() >= 2 && (text.front() == u'"' || text.front() == u'\'') &&
      text.back() == text.front())
    return SwitchCommandFault::Quoted;
  return SwitchCommandFault::None;
}

const char* TForm3::SwitchCommandFaultKey(SwitchCommandFault fault) {
  switch (fault) {
  case SwitchCommandFault::BlankAtEnd:
    return "switchchr_blank";
  case SwitchCommandFault::Quoted:
    return "switchchr_quoted";
  case SwitchCommandFault::None:
    break;
  }
  return nullptr;
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
         edSwitchChr->text();
}

QList<LinkSettingsNote> LoadLinkSettings(TForm3& form3, const QString& path) {
  const IniTextFile ini(path);
  const QString section = QString::fromLatin1(kSection);
  QList<LinkSettingsNote> notes;
  auto load = [&](QComboBox* list, const char* key, int def) {
    const QString name = QString::fromLatin1(key);
    const std::optional<int> index = ini.GetInt(section, name);
    SelectIndex(list, index.value_or(def));
    const std::optional<QString> raw = ini.Find(section, name);
    if (raw && (!index || *index < 0 || *index >= list->count()))
      notes.append({name, *raw, list->currentText()});
  };
  // No port at all is no use; a first run, or one that found no port, takes
  // what the system offers now.
  const QString port = ini.GetString(section, QString::fromLatin1(kKeyCom), {}).trimmed();
  form3.cb_com->setEditText(port.isEmpty() ? FirstRunPort() : port);
  load(form3.cbbaudrate, kKeyBaud, kDefaultBaudIndex);
  load(form3.cbDatabit, kKeyDataBits, kDefaultDataBitsIndex);
  load(form3.cgStopbit, kKeyStopBits, kDefaultStopBitsIndex);
  load(form3.cbParitybit, kKeyParity, kDefaultParityIndex);
  form3.SetSwitchCommand(
      ini.GetString(section, QString::fromLatin1(kKeySwitch), QString::fromLatin1(kDefaultSwitch)));
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
