// Reading the parameters and product information from the DTU, and writing
// the parameters back.

#include <QLineEdit>
#include <QPointer>
#include <algorithm>

#include "app/app_texts.h"
#include "app/device_text.h"
#include "app/main_window.h"
#include "params/sys_info.h"

// How a wait for the unit ended, as the technician reads it: a disconnect
// is a cancel and a vanished device a lost link, never "no answer"; anything
// else that is not an answer keeps the operation's own failure line.
namespace {
bool LogCancelled(TForm1& form, SessionReason reason) {
  if (reason == SessionReason::Cancelled)
    form.LogStatus(GetCaption(QStringLiteral("operation_cancelled")), clRed, 10);
  else if (reason == SessionReason::LinkLost)
    form.LogStatus(GetCaption(QStringLiteral("operation_link_lost")), clRed, 10);
  else
    return false;
  return true;
}
} // namespace

bool TForm1::WriteAppParams(std::optional<SessionResult>& outcome) {
  if (!CheckPagesBeforeEncode()) return false;
  const std::optional<TAppParams> record = EncodeParams();
  if (!record) return false;
  outcome = Await([&](DeviceSession& s) {
    return s.writeParams(
        *record, [this] { LogStatus(GetCaption(QStringLiteral("app_par_saving")), clBlack, 9); });
  });
  return true;
}

void TForm1::ShowSysInfo(const TSysInfo& info) {
  edsn->setText(DeviceBytesToText(info.sn));
  edProductModel->setText(DeviceBytesToText(info.product_model));
  // Units name their serial standard by its number alone (232, 485), which
  // reads like a port number; technicians call it RS-232.
  const QString serialType = DeviceBytesToText(info.serial_type);
  const bool number =
      !serialType.isEmpty() && std::all_of(serialType.begin(), serialType.end(),
                                           [](QChar c) { return c >= u'0' && c <= u'9'; });
  edSerialType->setText(number ? QStringLiteral("RS-") + serialType : serialType);
  edProductType->setText(DeviceBytesToText(info.product_type));
}

void TForm1::sb_getparClick() {
  SetWaitCursor(true);
  session_->clearCancel();
  // Each progress line follows its request onto the wire.
  const std::optional<ParamsResult> params = Await([this](DeviceSession& s) {
    return s.readParams(
        [this] { LogStatus(GetCaption(QStringLiteral("app_par_reading")), clBlack, 9); });
  });
  if (!params) return; // the window closed: the read ends where it is
  if (!params->ok()) {
    if (params->reason == SessionReason::IncompleteAnswer)
      LogStatus(GetCaption(QStringLiteral("app_par_read_incomplete")), clRed, 10);
    else if (!LogCancelled(*this, params->reason))
      LogStatus(GetCaption(QStringLiteral("app_par_read_failed")), clRed, 10);
    SetWaitCursor(false);
    return;
  }
  DecodeParams(params->params);
  LogStatus(GetCaption(QStringLiteral("app_par_read_completed")), clGreen, 10);

  const std::optional<SysInfoResult> info = Await([](DeviceSession& s) { return s.readSysInfo(); });
  if (!info) return;
  if (info->ok()) {
    ShowSysInfo(info->info);
    LogStatus(GetCaption(QStringLiteral("sys_par_read_completed")), clGreen, 10);
  } else if (!LogCancelled(*this, info->reason)) {
    LogStatus(GetCaption(QStringLiteral("sys_par_read_failed")), clRed, 10);
  }
  SetWaitCursor(false);
}

void TForm1::sb_setparClick() {
  SetWaitCursor(true);
  session_->clearCancel();
  std::optional<SessionResult> written;
  if (!WriteAppParams(written)) { // the conversion box has told the technician why
    SetWaitCursor(false);
    return;
  }
  if (!written) return; // the window closed during the wait
  switch (written->reason) {
  case SessionReason::Ok:
    LogStatus(GetCaption(QStringLiteral("app_par_save_completed")), clGreen, 10);
    break;
  case SessionReason::Refused:
  case SessionReason::IncompleteAnswer:
    LogStatus(GetCaption(QStringLiteral("app_par_save_failed_with_checksum_error")), clRed, 10);
    break;
  default:
    if (!LogCancelled(*this, written->reason))
      LogStatus(GetCaption(QStringLiteral("app_par_save_failed_with_timeout")), clRed, 10);
    break;
  }
  SetWaitCursor(false);
}
