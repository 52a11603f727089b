#include "link/link_settings_dialog.h"

#include <QLoggingCategory>
#include <QSerialPortInfo>
#include <QShowEvent>

#include "platform/ini_text.h"

Q_LOGGING_CATEGORY(lcLinkSettings, "k7v.link.settings")

namespace {

constexpr const char* kSection = "serial";

// Keys of section "serial", in the order they are read and written.
constexpr const char* kKeyCom = "com";
constexpr const char* kKeyBaud = "baudrate";
constexpr const char* kKeyDataBits = "databit";
constexpr const char* kKeyStopBits = "stopbit";
constexpr const char* kKeyParity = "paritybit";
constexpr const char* kKeySwitch = "conf";

constexpr const char* kDefaultPort = "COM1";
constexpr int kDefaultBaudIndex = 0;     // 115200
constexpr int kDefaultDataBitsIndex = 0; // 8
constexpr int kDefaultStopBitsIndex = 1; // one stop bit: the list holds "2" before "1"
constexpr int kDefaultParityIndex = 0;   // none
constexpr const char* kDefaultSwitch = "######";

// An index outside the list leaves the list without a selection.
void SelectIndex(QComboBox* list, int index) {
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

// The selected item as a number; 0 when nothing is selected.
int SelectedNumber(const QComboBox* list) {
  return list->currentIndex() >= 0 ? list->currentText().toInt() : 0;
}

} // namespace

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
  setupUi(this);
  QFont f(QStringLiteral("MS Sans Serif"));
  f.setPixelSize(11);
  setFont(f);
  // A small tool window of fixed size; without a layout it must not be resized.
  setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::CustomizeWindowHint);
  setFixedSize(353, 280);
  RefreshPorts();
}

void TForm3::RefreshPorts() {
  // Clearing an editable list also clears its text, so the typed name is kept aside.
  const QString current = cb_com->currentText();
  QStringList names;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    names << info.portName();
  }
  qCDebug(lcLinkSettings) << "serial ports" << names;
  cb_com->clear();
  cb_com->addItems(names);
  cb_com->setCurrentIndex(-1);
  cb_com->setEditText(current);
}

void TForm3::showEvent(QShowEvent* event) {
  // USB adapters come and go while the program runs.
  if (!event->spontaneous()) RefreshPorts();
  QDialog::showEvent(event);
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

void LoadLinkSettings(TForm3& form3, const QString& path) {
  const IniTextFile ini(path);
  const QString section = QString::fromLatin1(kSection);
  auto index = [&](const char* key, int def) {
    return ini.GetInt(section, QString::fromLatin1(key)).value_or(def);
  };
  form3.cb_com->setEditText(
      ini.GetString(section, QString::fromLatin1(kKeyCom), QString::fromLatin1(kDefaultPort)));
  SelectIndex(form3.cbbaudrate, index(kKeyBaud, kDefaultBaudIndex));
  SelectIndex(form3.cbDatabit, index(kKeyDataBits, kDefaultDataBitsIndex));
  SelectIndex(form3.cgStopbit, index(kKeyStopBits, kDefaultStopBitsIndex));
  SelectIndex(form3.cbParitybit, index(kKeyParity, kDefaultParityIndex));
  form3.edSwitchChr->setText(ini.GetString(section, QString::fromLatin1(kKeySwitch),
                                           QString::fromLatin1(kDefaultSwitch)));
}

bool SaveLinkSettings(const TForm3& form3, const QString& path) {
  const QString section = QString::fromLatin1(kSection);
  const std::pair<const char*, QString> entries[] = {
      {kKeyCom, form3.cb_com->currentText()},
      {kKeyBaud, QString::number(form3.cbbaudrate->currentIndex())},
      {kKeyDataBits, QString::number(form3.cbDatabit->currentIndex())},
      {kKeyStopBits, QString::number(form3.cgStopbit->currentIndex())},
      {kKeyParity, QString::number(form3.cbParitybit->currentIndex())},
      {kKeySwitch, form3.edSwitchChr->text()},
  };
  for (const auto& [key, value] : entries) {
    if (!WriteIniString(path, section, QString::fromLatin1(key), value)) {
      qCWarning(lcLinkSettings) << "cannot write key" << key << "to" << path;
      return false;
    }
  }
  return true;
}
