// Opening the port, entering and leaving configuration mode, and the link
// settings dialog.

#include <QLoggingCategory>

#include "app/app_texts.h"
#include "app/link_settings_dialog.h"
#include "app/main_window.h"
#include "link/link_settings.h"
#include "platform/system_error.h"

Q_LOGGING_CATEGORY(lcConnect, "k7v.connect")

void TForm1::SpeedButton30Click() {
  if (form3_->exec() == QDialog::Accepted) SetStatusPanel(1, form3_->LinkSummary(true));
}

bool TForm1::OpenSerial() {
  // A first run on a machine without serial ports leaves the port empty.
  if (form3_->Settings().portName.trimmed().isEmpty()) {
    LogStatus(GetCaption(QStringLiteral("no_port")), clRed, 9);
    return false;
  }
  LogStatus(GetCaption(QStringLiteral("open_serial")) + StatusPanel(1), clBlack, 9);
  const SessionResult result = session_->open(form3_->Settings());
  switch (result.reason) {
  case SessionReason::Ok:
    LogStatus(GetCaption(QStringLiteral("serial_opened")), clGreen, 10);
    return true;
  case SessionReason::SettingsRefused:
    LogStatus(GetCaption(QStringLiteral("open_serial_error_code")) +
                  QString::number(result.systemError),
              clRed, 9);
    return false;
  default: {
    // The system's own reason tells a busy port from a missing one or from
    // one the user may not use.
    QString line = GetCaption(QStringLiteral("open_serial_error"));
    if (!result.systemText.isEmpty()) line += QStringLiteral(": ") + result.systemText;
    const std::string group = SerialAccessGroup();
    if (IsPermissionError(result.systemError) && !group.empty())
      line += GetCaption(QStringLiteral("open_serial_group")) + QString::fromStdString(group);
    LogStatus(line, clRed, 9);
    return false;
  }
  }
}

std::optional<VersionResult> TForm1::SendSwitchCommand() {
  // In the unit's code page, cut to what the unit takes, as the core sends it.
  const std::string bytes = CheckSwitchCommand(form3_->edSwitchChr->text().toStdString()).bytes;
  const QByteArray command(bytes.data(), qsizetype(bytes.size()));
  // The line follows the command onto the wire, so the log reads as the unit sees it.
  return Await([&](DeviceSession& s) {
    return s.enterConfiguration(
        command, [this] { LogStatus(GetCaption(QStringLiteral("conneting")), clBlack, 9); });
  });
}

void TForm1::sb_com_openClick() {
  if (link().LinkConnected || session_->isOpen()) return;
  // Disabled for the whole attempt, so a second connect cannot start inside the wait.
  sb_com_open->setEnabled(false);
  if (!OpenSerial()) {
    sb_com_open->setEnabled(true);
    return;
  }
  SetWaitCursor(true);
  session_->clearCancel();
  const std::optional<VersionResult> answer = SendSwitchCommand();
  if (!answer) return; // the window closed during the wait and closed the port

  if (answer->ok()) {
    LogStatus(GetCaption(QStringLiteral("connected")), clGreen, 10);
    ed_ver->setText(answer->version);
    sb_com_open->setEnabled(false);
    sb_com_close->setEnabled(true);
    sb_getpar->setEnabled(true);
    sb_setpar->setEnabled(true);
    bStart->setEnabled(true);
    link().LinkConnected = true;
  } else {
    session_->close();
    // A device that vanished during the wait did not fail to answer.
    const char* key =
        answer->reason == SessionReason::LinkLost ? "operation_link_lost" : "connect_failed";
    LogStatus(GetCaption(QString::fromLatin1(key)), clRed, 10);
    sb_com_open->setEnabled(true);
  }
  SetWaitCursor(false);
}

void TForm1::sb_com_closeClick() {
  session_->leaveConfiguration();
  link().LinkConnected = false;
  // Disconnect stays clickable while a read or write waits: that wait ends
  // at once as cancelled instead of sitting out its time-out on a port that
  // is gone. The next operation clears the cancel before it waits.
  session_->cancel();
  session_->close();
  LogStatus(GetCaption(QStringLiteral("serial_closed")), clBlack, 9);
  SetLinkControls(false);
}

void TForm1::SetLinkControls(bool connected) {
  sb_com_open->setEnabled(!connected);
  sb_com_close->setEnabled(connected);
  sb_getpar->setEnabled(connected);
  sb_setpar->setEnabled(connected);
  bStart->setEnabled(connected);
}

void TForm1::OnDeviceLost() {
  // The port has already closed itself; a wait in progress ends as aborted and
  // its handler cleans up after itself.
  const bool wasUp = link().LinkConnected;
  link().LinkConnected = false;
  DownloadRunning = false;
  LogStatus(GetCaption(QStringLiteral("serial_lost")), clRed, 10);
  if (wasUp) SetLinkControls(false);
}
