#pragma once
// TForm3: the link settings dialog. Its controls are the only store of the
// PC-side link settings while the program runs.

#include <QDialog>

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
  // port,baud-data-parity-stop then "-" (start-up) or ", " (after OK), then the switch command.
  QString LinkSummary(bool afterDialog) const;
  // Puts a switch command into its field whole, however long: the six-character
  // limit binds only what the technician types.
  void SetSwitchCommand(const QString& text);

  // Why parcfg.ini could not give a switch command back as it stands.
  enum class SwitchCommandFault {
    None,
    BlankAtEnd,
    Quoted
  };
  Q_ENUM(SwitchCommandFault)
  // The profile rules drop blanks around a value and one pair of quotes.
  static SwitchCommandFault CheckSwitchCommand(const QString& text);

public slots:
  // OK: refused, with switchCommandRefused, while the switch command could not
  // be kept in parcfg.ini as typed; the dialog then stays open on that field.
  void accept() override;

signals:
  void switchCommandRefused(TForm3::SwitchCommandFault fault);

protected:
  void showEvent(QShowEvent* event) override;

private:
  void ApplyListFonts();

  static constexpr int kSwitchCommandTypingLimit = 6;
};

// A parcfg.ini value that could not be used as it stands, and what was used instead.
struct LinkSettingsNote {
  QString key;
  QString value;       // as the file holds it
  QString usedInstead; // the list item selected instead; empty: the list is left without one
};

// parcfg.ini in the working directory.
inline constexpr const char* kLinkSettingsFile = parcfg::kFileName;

// Reads the six keys of section "serial" into the dialog's controls. Returns
// the list positions that were out of range or not a number, in key order.
QList<LinkSettingsNote> LoadLinkSettings(TForm3& form3, const QString& path = kLinkSettingsFile);
// Writes the six keys; false when a key could not be written (the write stops
// there), reason then says why in the system's words.
bool SaveLinkSettings(const TForm3& form3, const QString& path = kLinkSettingsFile,
                      QString* reason = nullptr);
