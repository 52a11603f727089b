// The firmware download: the DTU pulls the image piece by piece until it says
// it has all of it (0xE3) or refuses it (0xE4). The session runs the
// exchange; the window locks what could start another operation, shows the
// progress and says how the download ended. bStart stays usable as the stop
// button.

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cmath>

#include "app/app_texts.h"
#include "app/main_window.h"
#include "app/device_text.h"

namespace {
// The bar's text: bytes sent out of the total, the rate and the time left,
// e.g. "48.0 / 100.0 KiB · 11.2 KiB/s · 4 s left". Never fails.
QString ProgressText(std::uint64_t reached, std::int32_t total, double seconds) {
  const double kib = double(reached) / 1024.0;
  const double totalKib = double(std::max(total, 0)) / 1024.0;
  QString text = QStringLiteral("%1 / %2 KiB").arg(kib, 0, 'f', 1).arg(totalKib, 0, 'f', 1);
  if (seconds <= 0 || reached == 0) return text;
  const double rate = kib / seconds;
  const double left = std::max(0.0, (totalKib - kib) / rate);
  return text + QStringLiteral(" · %1 KiB/s · %2 s left")
                    .arg(rate, 0, 'f', 1)
                    .arg(qRound64(std::ceil(left)));
}

// Everything on the firmware page but the stop button and the bar, and the
// other panels whole: disabled with the hourglass while a download runs.
void LockForDownload(QWidget* firmwarePanel, QWidget* stopButton, QWidget* bar,
                     std::initializer_list<QWidget*> panels,
                     std::initializer_list<QWidget*> cursorWidgets, bool locked) {
  for (QWidget* w : firmwarePanel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (w != stopButton && w != bar) w->setEnabled(!locked);
  for (QWidget* w : panels) w->setEnabled(!locked);
  for (QWidget* w : cursorWidgets) {
    if (locked)
      w->setCursor(Qt::WaitCursor);
    else
      w->unsetCursor();
  }
  // The stop button keeps a pointing arrow inside the hourglass panel.
  if (locked)
    stopButton->setCursor(Qt::ArrowCursor);
  else
    stopButton->unsetCursor();
}
} // namespace

void TForm1::ShowDownloadProgress(const DownloadProgress& progress, double seconds) {
  const std::int64_t percent =
      progress.total > 0 ? std::int64_t(progress.offset) * 100 / progress.total : 0;
  ProgressBar1->setValue(int(std::clamp<std::int64_t>(percent, 0, 100)));
  ProgressBar1->setFormat(ProgressText(progress.reached, progress.total, seconds));
  LogStatus(QStringLiteral("pos:") + QString::number(progress.offset), clGreen, 10);
}

void TForm1::LogDownloadEnding(SessionReason reason) {
  const char* key = "download_link_lost";
  switch (reason) {
  case SessionReason::Refused:
    key = "download_failed";
    break;
  case SessionReason::Cancelled:
    key = "download_stopped";
    break;
  case SessionReason::StoppedAsking:
    key = "download_stalled";
    break;
  case SessionReason::RepeatedPiece:
    key = "download_repeated";
    break;
  default:
    break; // the link is gone or would not take a frame
  }
  LogStatus(GetCaption(QString::fromLatin1(key)), clRed, 10);
}

void TForm1::bStartClick() {
  if (DownloadRunning) { // the button reads 停止升级: stop here, send nothing more
    session_->cancel();
    return;
  }
  if (!ImageLoaded) {
    LogStatus(GetCaption(QStringLiteral("select_bin")), clRed, 10);
    return;
  }
  SetWaitCursor(true);
  LockForDownload(Panel25, bStart, ProgressBar1, {Panel2, Panel4},
                  {pUpdate, Panel25, Panel2, Panel4}, true);
  const QString startCaption = bStart->text();
  bStart->setText(GetCaption(QStringLiteral("stop_download")));

  const DownloadImage image = DownloadDescriptor();
  ProgressBar1->setValue(0);
  ProgressBar1->setFormat(ProgressText(0, image.length, 0));
  LogStatus(GetCaption(QStringLiteral("start_download")) + edSelectfile->text(), clBlack, 9);
  if (TextToDeviceBytes(edDlFilename->text(), std::size_t(edDlFilename->text().size()) * 2).size() >
      image.name.size())
    LogStatus(GetCaption(QStringLiteral("download_name_cut")) + DeviceBytesToText(image.name),
              clBlack, 9);

  session_->clearCancel();
  QElapsedTimer clock;
  clock.start();
  DownloadRunning = true;
  const std::optional<SessionResult> result = Await([&](DeviceSession& s) {
    return s.download(image, [&](const DownloadProgress& p) {
      ShowDownloadProgress(p, clock.elapsed() / 1000.0);
    });
  });
  if (!result) return; // the window is going away with the program
  DownloadRunning = false;

  if (result->ok()) {
    ProgressBar1->setValue(100);
    LogStatus(GetCaption(QStringLiteral("download_completed")), clGreen, 10);
  } else {
    LogDownloadEnding(result->reason);
  }
  SetWaitCursor(false);
  bStart->setText(startCaption);
  LockForDownload(Panel25, bStart, ProgressBar1, {Panel2, Panel4},
                  {pUpdate, Panel25, Panel2, Panel4}, false);
  bStart->setEnabled(link().LinkConnected);
}
