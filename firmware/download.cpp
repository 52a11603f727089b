// The firmware download: the DTU pulls the image piece by piece until it says
// it has all of it (0xE3) or refuses it (0xE4).

#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>

#include "app/app_texts.h"
#include "app/main_window.h"
#include "firmware/download_frames.h"
#include "params/number_text.h"

namespace {
std::int32_t BodyLength(const QLineEdit* field) { return ParseInt32(field->text()).value_or(0); }

// While a download runs, the panels that could start another operation are
// disabled and show the hourglass; afterwards both are undone.
void LockForDownload(std::initializer_list<QWidget*> panels, std::initializer_list<QWidget*> cursorWidgets,
                     bool locked) {
  for (QWidget* w : panels) w->setEnabled(!locked);
  for (QWidget* w : cursorWidgets) {
    if (locked)
      w->setCursor(Qt::WaitCursor);
    else
      w->unsetCursor();
  }
}
} // namespace

void TForm1::SendImageChunk(const TDeviceFrame& request) {
  ChunkRequest req;
  if (!ParseChunkRequest(request, req)) return;
  ChunkAnswerBuffer answer;
  const std::size_t n = BuildChunkAnswer(req, BodyLength(edDllength), *firmwareImage_, answer);
  link_->Write(std::span(answer.data(), n));
}

void TForm1::bStartClick() {
  if (!ImageLoaded) {
    LogStatus(GetCaption(QStringLiteral("select_bin")), clRed, 10);
    return;
  }
  QPointer<TForm1> self(this);
  SetWaitCursor(true);
  LockForDownload({Panel25, Panel2, Panel4}, {pUpdate, Panel25, Panel2, Panel4}, true);
  bStart->setEnabled(false);

  link_->ClearAbort();
  link_->ResetRx();
  SendDownloadStart();
  ProgressBar1->setValue(0);
  LogStatus(GetCaption(QStringLiteral("start_download")) + edSelectfile->text(), clBlack, 9);

  bool completed = false;
  DownloadRunning = true;
  while (DownloadRunning) {
    const std::optional<TDeviceFrame> frame = link_->ReadFrame();
    if (!frame) {
      // Sleep in the event loop until more bytes arrive; closing the window
      // or losing the device ends the download.
      const bool more = link_->WaitForBytes();
      // The window may have been destroyed inside the wait: nothing of it,
      // not even its flags, may be touched after that.
      if (!self) return;
      if (!more) break;
      continue;
    }
    switch (frame->command()) {
    case k7v::kCmdChunk: {
      ChunkRequest req;
      if (!ParseChunkRequest(*frame, req)) break;
      SendImageChunk(*frame);
      const std::int64_t length = BodyLength(edDllength);
      const std::int64_t percent = length > 0 ? std::int64_t(req.offset) * 100 / length : 0;
      ProgressBar1->setValue(int(std::clamp<std::int64_t>(percent, 0, 100)));
      LogStatus(QStringLiteral("pos:") + QString::number(req.offset), clGreen, 10);
      break;
    }
    case k7v::kCmdDownloadDone:
      ProgressBar1->setValue(100);
      completed = true;
      DownloadRunning = false;
      break;
    case k7v::kCmdDownloadFailed:
      DownloadRunning = false;
      break;
    default:
      break; // not part of the download
    }
  }
  DownloadRunning = false;
  if (closed_) return; // the window is going away with the program

  // A refused image, or a device that vanished, must never read as success.
  if (completed)
    LogStatus(GetCaption(QStringLiteral("download_completed")), clGreen, 10);
  else
    LogStatus(GetCaption(QStringLiteral("download_failed")), clRed, 10);
  SetWaitCursor(false);
  LockForDownload({Panel25, Panel2, Panel4}, {pUpdate, Panel25, Panel2, Panel4}, false);
  bStart->setEnabled(link_->LinkConnected);
}
