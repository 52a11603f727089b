// Reading the parameters and product information from the DTU, and writing
// the parameters back.

#include <QLineEdit>
#include <QPointer>

#include "app/app_texts.h"
#include "app/main_window.h"
#include "params/device_text.h"
#include "params/sys_info.h"

namespace {
constexpr std::uint8_t kReadParamsRequest[] = {0xAA, 0x03, 0x06, 0x00, 0xB3, 0xBB};
constexpr std::uint8_t kSysInfoRequest[] = {0xAA, 0x07, 0x06, 0x00, 0xB7, 0xBB};
constexpr int kParamWaitSeconds = int(std::chrono::seconds(k7v::kParamTimeout).count());
} // namespace

void TForm1::RequestAppParams() { link_->Write(kReadParamsRequest); }

void TForm1::RequestSysInfo() { link_->Write(kSysInfoRequest); }

bool TForm1::WriteAppParams() {
  if (!CheckPagesBeforeEncode()) return false;
  const std::optional<TAppParams> record = EncodeParams();
  if (!record) return false;
  std::array<std::uint8_t, k7v::kAppParamsFrameLength> frame{};
  BuildFrame(k7v::kCmdWriteParams, record->bytes(), frame);
  link_->Write(frame);
  return true;
}

void TForm1::ShowSysInfo(std::span<const std::uint8_t> payload) {
  const TSysInfo info = ParseSysInfo(payload);
  edsn->setText(DeviceBytesToText(info.sn));
  edProductModel->setText(DeviceBytesToText(info.product_model));
  edSerialType->setText(DeviceBytesToText(info.serial_type));
  edProductType->setText(DeviceBytesToText(info.product_type));
}

void TForm1::sb_getparClick() {
  QPointer<TForm1> self(this);
  SetWaitCursor(true);
  link_->ResetRx();
  RequestAppParams();
  LogStatus(GetCaption(QStringLiteral("app_par_reading")), clBlack, 9);
  DeviceLink::Reply reply = link_->WaitReply(k7v::kCmdReadParams, kParamWaitSeconds);
  // A wait aborted by the window closing ends the read where it is; one
  // aborted by the device vanishing is a failed read like a silent DTU.
  if (!self || closed_) return;

  // An answer too short to hold the whole record is no answer: decoding it
  // would show bytes from outside the frame.
  if (reply.result != DeviceLink::WaitResult::Reply || reply.frame.payload().size() < k7v::kAppParamsSize) {
    LogStatus(GetCaption(QStringLiteral("app_par_read_failed")), clRed, 10);
    SetWaitCursor(false);
    return;
  }
  DecodeParams(TAppParams::FromBytes(reply.frame.payload()));
  LogStatus(GetCaption(QStringLiteral("app_par_read_completed")), clGreen, 10);

  RequestSysInfo(); // the receive buffer is deliberately not emptied again
  reply = link_->WaitReply(k7v::kCmdSysInfo, kParamWaitSeconds);
  if (!self || closed_) return;
  if (reply.result == DeviceLink::WaitResult::Reply) {
    ShowSysInfo(reply.frame.payload());
    LogStatus(GetCaption(QStringLiteral("sys_par_read_completed")), clGreen, 10);
  } else {
    LogStatus(GetCaption(QStringLiteral("sys_par_read_failed")), clRed, 10);
  }
  SetWaitCursor(false);
}

void TForm1::sb_setparClick() {
  QPointer<TForm1> self(this);
  SetWaitCursor(true);
  link_->ResetRx();
  if (!WriteAppParams()) { // the conversion box has told the technician why
    SetWaitCursor(false);
    return;
  }
  LogStatus(GetCaption(QStringLiteral("app_par_saving")), clBlack, 9);
  const DeviceLink::Reply reply = link_->WaitReply(k7v::kCmdWriteParams, kParamWaitSeconds);
  if (!self || closed_) return;
  if (reply.result != DeviceLink::WaitResult::Reply)
    LogStatus(GetCaption(QStringLiteral("app_par_save_failed_with_timeout")), clRed, 10);
  else if (!reply.frame.payload().empty() && reply.frame.payload()[0] == 1)
    LogStatus(GetCaption(QStringLiteral("app_par_save_completed")), clGreen, 10);
  else
    LogStatus(GetCaption(QStringLiteral("app_par_save_failed_with_checksum_error")), clRed, 10);
  SetWaitCursor(false);
}
