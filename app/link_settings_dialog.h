#pragma once
// TForm3: the link settings dialog. Its controls are the only store of the
// PC-side link settings while the program runs.

#include <QDialog>
#include <QStringList>
#include <functional>
#include <optional>

#include "link/link_settings_file.h"
#include "link/serial_port.h"
#include "ui_link_settings_dialog.h"

class TForm3 : public QDialog, public Ui::LinkSettingsDialog {
  Q_OBJECT
public:
  explicit TForm3(QWidget* parent = nullptr);

  // Fills the port list from the system's serial ports; what the user typed stays.
  void RefreshPorts();
  // The settings the port is opened with.
  LineSettings Settings() const;
  // port,baud-data-parity-stop then "-" (start-up) or ", " (after OK), then the
  // switch command as the unit is sent it (cut to six bytes).
  QString LinkSummary(bool afterDialog) const;
  // Puts a switch command into its field whole, however long: the six-byte
  // limit binds only what the technician types.
  void SetSwitchCommand(const QString& text);

  // Why a switch command cannot be used as it stands (link/link_settings.h).
  enum class SwitchCommandFault {
    None,
    BlankAtEnd,
    Quoted,
    NotInCodePage
  };
  Q_ENUM(SwitchCommandFault)
  // The core's verdict on the command.
  static SwitchCommandFault CheckSwitchCommand(const QString& text);
  // The message key of a fault's reason; null for None.
  static const char* SwitchCommandFaultKey(SwitchCommandFault fault);

public slots:
  // OK does nothing while the switch command could not be kept in parcfg.ini
  // as it stands: the button is disabled then and the reason shows under the field.
  void accept() override;
  // Cancel: every control goes back to what it held when the dialog was shown.
  void reject() override;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void ApplyListFonts();
  // The reason under the switch command and OK's state, for the field's text.
  void CheckTypedSwitchCommand();
  // The whole port name as the field's tooltip when the field is too narrow for it.
  void ShowLongPortName();

  // What the controls held when the dialog was shown, for Cancel.
  struct Shown {
    QString port;
    int baud = 0, dataBits = 0, parity = 0, stopBits = 0;
    QString switchCommand;
  };
  std::optional<Shown> shown_; // none until the dialog is first shown
  // The command as the program last set it (parcfg.ini, Cancel), which
  // typing may shorten but not lengthen, and the text before the last edit.
  QString setSwitchCommand_, lastSwitchCommand_;
};

// The serial ports the system lists, USB adapters (ttyUSB*, ttyACM*) first,
// each group in the system's order. Never fails; empty when there are none.
QStringList SystemPorts();
// Where SystemPorts() takes the system's list from: tests answer instead. An
// empty listing brings back the system's. Returns the previous one.
using PortListing = std::function<QStringList()>;
PortListing SetPortListing(PortListing listing);
// The port used when parcfg.ini names none: COM1 on Windows; elsewhere the
// first of SystemPorts(), empty when the system lists none.
QString FirstRunPort();

// A parcfg.ini value that could not be used as it stands, and what was used instead.
struct LinkSettingsNote {
  QString key;
  QString value;       // as the file holds it
  QString usedInstead; // the list item selected instead; empty: the list is left without one
};

// parcfg.ini in the working directory.
inline constexpr const char* kLinkSettingsFile = parcfg::kFileName;

// Reads the six keys of section "serial" into the dialog's controls (a
// missing or empty port: FirstRunPort()). Returns the list positions that
// were out of range or not a number, in key order.
QList<LinkSettingsNote> LoadLinkSettings(TForm3& form3, const QString& path = kLinkSettingsFile);
// Writes the six keys; false when a key could not be written (the write stops
// there), reason then says why in the system's words.
bool SaveLinkSettings(const TForm3& form3, const QString& path = kLinkSettingsFile,
                      QString* reason = nullptr);
