#pragma once
// TForm3: the link settings dialog. Its controls are the only store of the
// PC-side link settings while the program runs.

#include <QDialog>

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

protected:
  void showEvent(QShowEvent* event) override;
};

// parcfg.ini in the working directory.
inline constexpr const char* kLinkSettingsFile = "parcfg.ini";

// Reads the six keys of section "serial" into the dialog's controls.
void LoadLinkSettings(TForm3& form3, const QString& path = kLinkSettingsFile);
// Writes the six keys; false when a key could not be written (the write stops there).
bool SaveLinkSettings(const TForm3& form3, const QString& path = kLinkSettingsFile);
