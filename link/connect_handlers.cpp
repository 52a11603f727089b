// Opening the port, entering and leaving configuration mode, and the link
// settings dialog.

#include <QLoggingCategory>
#include <QPointer>

#include "app/app_texts.h"
#include "app/main_window.h"
#include "link/link_settings_dialog.h"

Q_LOGGING_CATEGORY(lcConnect, "k7v.connect")

namespace {
// Leave configuration mode: command 2 without payload.
constexpr std::uint8_t kLeaveConfigFrame[] = {0xAA, 0x02, 0x06, 0x00, 0xB2, 0xBB};
} // namespace

void TForm1::SpeedButton30Click() {
  if (form3_->exec() == QDialog::Accepted) SetStatusPanel(1, form3_->LinkSummary(true));
}

bool TForm1::OpenSerial() {
  LogStatus(GetCaption(QStringLiteral("open_serial")) + StatusPanel(1), clBlack, 9);
  const OpenResult result = link_->CommHandle().Open(form3_->Settings());
  switch (result.kind) {
  case OpenResult::Kind::Ok:
    LogStatus(GetCaption(QStringLiteral("serial_opened")), clGreen, 10);
    return true;
  case OpenResult::Kind::OpenFailed:
    LogStatus(GetCaption(QStringLiteral("open_serial_error")), clRed, 9);
    return false;
  case OpenResult::Kind::SettingsRefused:
    LogStatus(GetCaption(QStringLiteral("open_serial_error_code")) + QString::number(result.systemError),
              clRed, 9);
    return false;
  }
  return false;
}

void TForm1::SendSwitchCommand() {
  // Always six bytes: a shorter command is padded with zero bytes, which no
  // DTU switch command contains, so a short text can never switch by accident.
  std::array<std::uint8_t, k7v::kSwitchCommandLength> bytes{};
  const QByteArray text = form3_->edSwitchChr->text().left(int(k7v::kSwitchCommandLength)).toLatin1();
  std::copy(text.begin(), text.end(), bytes.begin());
  link_->Write(bytes);
}

void TForm1::sb_com_openClick() {
  if (link_->LinkConnected || link_->CommHandle().IsOpen()) return;
  // Disabled for the whole attempt, so a second connect cannot start inside the wait.
  sb_com_open->setEnabled(false);
  if (!OpenSerial()) {
    sb_com_open->setEnabled(true);
    return;
  }
  QPointer<TForm1> self(this);
  SetWaitCursor(true);
  link_->ClearAbort();
  link_->ResetRx();
  SendSwitchCommand();
  LogStatus(GetCaption(QStringLiteral("conneting")), clBlack, 9);
  const DeviceLink::Reply reply = link_->WaitReply(k7v::kCmdSwitchAnswer, 2);
  if (!self) return; // the window went away during the wait
  if (closed_) { // the window closed during the wait: nothing is up, close quietly
    link_->CommHandle().Close();
    return;
  }
  if (reply.result == DeviceLink::WaitResult::Reply) {
    LogStatus(GetCaption(QStringLiteral("connected")), clGreen, 10);
    // The version is the payload's first 8 bytes up to the first zero; a short
    // answer gives only the bytes it really holds.
    const auto payload = reply.frame.payload();
    QByteArray version;
    for (std::size_t i = 0; i < payload.size() && i < k7v::kImageVersionSize && payload[i] != 0; ++i)
      version.append(char(payload[i]));
    ed_ver->setText(QString::fromLatin1(version));
    sb_com_open->setEnabled(false);
    sb_com_close->setEnabled(true);
    sb_getpar->setEnabled(true);
    sb_setpar->setEnabled(true);
    bStart->setEnabled(true);
    link_->LinkConnected = true;
  } else {
    link_->CommHandle().Close();
    LogStatus(GetCaption(QStringLiteral("connect_failed")), clRed, 10);
    sb_com_open->setEnabled(true);
  }
  SetWaitCursor(false);
}

void TForm1::sb_com_closeClick() {
  link_->Write(kLeaveConfigFrame);
  link_->LinkConnected = false;
  link_->CommHandle().Close();
  // Disconnect stays clickable while a read or write waits. Closing the port
  // wakes nothing by itself, so without this that wait would sit out its
  // time-out (and a wait with none would never end) on a port that is gone.
  // The next connect clears the abort before it waits.
  link_->AbortWaits();
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
  const bool wasUp = link_->LinkConnected;
  link_->LinkConnected = false;
  DownloadRunning = false;
  LogStatus(GetCaption(QStringLiteral("serial_lost")), clRed, 10);
  if (wasUp) SetLinkControls(false);
}
