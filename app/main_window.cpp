// Start-up, shutdown, page navigation and the status bar of the main window.

#include "app/main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLoggingCategory>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QSignalBlocker>

#include "app/app_texts.h"
#include "app/fonts.h"
#include "app/jpeg_image.h"
#include "app/link_settings_dialog.h"
#include "app/message_box.h"
#include "app/style.h"
#include "k7v_build_info.h"
#include "link/qt_serial_port.h"

Q_LOGGING_CATEGORY(lcWindow, "k7v.window")

QPointer<TForm1> Form1;

namespace {
constexpr const char* kWindowTitle = "K7v Conf tool v" K7V_VERSION;
constexpr const char* kVersionPanel = "V" K7V_VERSION;
constexpr int kClientWidth = 984;
constexpr int kClientHeight = 690;
} // namespace

TForm1::TForm1(std::unique_ptr<SerialPort> port, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
  Form1 = this;
  Ui::Form1Frame::setupUi(this);
  setWindowTitle(QString::fromUtf8(kWindowTitle));
  SetStatusPanel(0, QString::fromLatin1(kVersionPanel));
  setFixedSize(kClientWidth, kClientHeight);
  ApplyFrameFonts(this);

  BuildPages();
  Image1->setPixmap(QPixmap::fromImage(LoadBanner())); // a bad picture leaves it blank
  ApplyIcons(this); // after the pages: the firmware page's button has an icon too

  if (!port) port = std::make_unique<QtSerialPortLink>();
  session_ = std::make_shared<DeviceSession>(std::move(port));
  log_ = std::make_unique<StatusLog>(RichEdit1);
  firmwareImage_ = std::make_unique<std::array<std::uint8_t, k7v::kFirmwareImageSize>>();
  firmwareImage_->fill(0);

  connect(&link().CommHandle(), &SerialPort::deviceLost, this, &TForm1::OnDeviceLost);
  ConnectHandlers();
  InstallFieldRules();
  FormCreate();
}

TForm1::~TForm1() {
  // A wait that is still on the stack ends; it holds the session itself.
  if (session_) session_->cancel();
}

void TForm1::BuildPages() {
  // Each page's controls become members of this window through its Ui base.
  pSerial = new QFrame(PageStack);
  Ui::PageSerial::setupUi(pSerial);
  sbDial = new QScrollArea(PageStack);
  Ui::PageDial::setupUi(sbDial);
  pConnection = new QFrame(PageStack);
  Ui::PageConnection::setupUi(pConnection);
  sbPtcl = new QScrollArea(PageStack);
  Ui::PagePtcl::setupUi(sbPtcl);
  pWorkmode = new QFrame(PageStack);
  Ui::PageWorkmode::setupUi(pWorkmode);
  pRemote = new QFrame(PageStack);
  Ui::PageRemote::setupUi(pRemote);
  pUpdate = new QFrame(PageStack);
  Ui::PageUpdate::setupUi(pUpdate);
  pVersion = new QFrame(PageStack);
  Ui::PageVersion::setupUi(pVersion);
  for (QWidget* page : {static_cast<QWidget*>(pSerial), static_cast<QWidget*>(sbDial),
                        static_cast<QWidget*>(pConnection), static_cast<QWidget*>(sbPtcl),
                        static_cast<QWidget*>(pWorkmode), static_cast<QWidget*>(pRemote),
                        static_cast<QWidget*>(pUpdate), static_cast<QWidget*>(pVersion)}) {
    page->setFocusPolicy(Qt::StrongFocus);
    PageStack->addWidget(page);
  }
  PageStack->setCurrentWidget(pSerial);
}

void TForm1::ConnectHandlers() {
  auto* nav = new QButtonGroup(this);
  nav->setObjectName(QStringLiteral("NavigationGroup"));
  nav->setExclusive(true);
  const std::pair<QAbstractButton*, void (TForm1::*)()> navigation[] = {
      {SpeedButton1, &TForm1::SpeedButton1Click}, {SpeedButton2, &TForm1::SpeedButton2Click},
      {SpeedButton3, &TForm1::SpeedButton3Click}, {SpeedButton4, &TForm1::SpeedButton4Click},
      {SpeedButton5, &TForm1::SpeedButton5Click}, {SpeedButton6, &TForm1::SpeedButton6Click},
      {SpeedButton8, &TForm1::SpeedButton8Click}, {SpeedButton7, &TForm1::SpeedButton7Click},
  };
  for (const auto& [button, handler] : navigation) {
    button->setCheckable(true);
    nav->addButton(button);
    connect(button, &QAbstractButton::clicked, this, handler);
  }
  SpeedButton1->setChecked(true);
  shownPageButton_ = SpeedButton1;

  const std::pair<QAbstractButton*, void (TForm1::*)()> tools[] = {
      {SpeedButton30, &TForm1::SpeedButton30Click}, {sb_com_open, &TForm1::sb_com_openClick},
      {sb_com_close, &TForm1::sb_com_closeClick},   {SpeedButton11, &TForm1::SpeedButton11Click},
      {SpeedButton12, &TForm1::SpeedButton12Click}, {SpeedButton15, &TForm1::SpeedButton15Click},
      {sb_getpar, &TForm1::sb_getparClick},         {sb_setpar, &TForm1::sb_setparClick},
      {SpeedButton35, &TForm1::SpeedButton35Click}, {bStart, &TForm1::bStartClick},
  };
  for (const auto& tool : tools) {
    // clicked(bool) would bind the checked state to nothing useful; drop it.
    // (A copy, not a structured binding: clang before 16 cannot capture one.)
    const auto handler = tool.second;
    connect(tool.first, &QAbstractButton::clicked, this, [this, handler] { (this->*handler)(); });
  }
}

// ---------------------------------------------------------------- start and end

void TForm1::FormCreate() {
  ExeDir = QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QLatin1Char('/'));
  form3_ = new TForm3(this); // fills its port list
  const QList<LinkSettingsNote> notes = LoadLinkSettings(*form3_);
  const int savedParity = form3_->cbParitybit->currentIndex();

  link().LinkConnected = false;
  DownloadRunning = false;
  ImageLoaded = false;

  LoadCaptions(*this, *form3_); // rebuilds the dialog's parity list
  {
    QSignalBlocker block(form3_->cbParitybit);
    form3_->cbParitybit->setCurrentIndex(savedParity);
  }
  SetStatusPanel(1, form3_->LinkSummary(false));
  LogMissingCaptions();
  if (!notes.isEmpty()) LogLinkSettingsNotes(notes);
}

void TForm1::LogMissingCaptions() {
  if (!ControlCaptionFile().isEmpty() || !MessageCaptionFile().isEmpty()) return;
  QStringList looked;
  for (const QString& path : CaptionFileCandidates())
    looked << QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
  looked.removeDuplicates();
  LogStatus(GetCaption(QStringLiteral("captions_missing")) + looked.join(QStringLiteral(", ")),
            clBlack, 9);
}

void TForm1::LogLinkSettingsNotes(const QList<LinkSettingsNote>& notes) {
  // One line for all of them: key=value -> what the list shows instead.
  QStringList parts;
  for (const LinkSettingsNote& n : notes) {
    const QString used =
        n.usedInstead.isEmpty() ? GetCaption(QStringLiteral("parcfg_no_selection")) : n.usedInstead;
    parts << QStringLiteral("%1=%2 → %3").arg(n.key, n.value, used);
  }
  LogStatus(GetCaption(QStringLiteral("parcfg_value_unusable")) + parts.join(QStringLiteral("; ")),
            clBlack, 9);
}

void TForm1::FormShow() {
  cbdtuserialptclClick(nullptr);
  cbPtcl_selectChange(nullptr);
  cb_workmodeChange(nullptr);
}

void TForm1::FormClose() {
  DownloadRunning = false;
  // Ends any wait; a connect still waiting for its answer has its port
  // closed here too. The DTU is not told.
  session_->cancel();
  session_->close();
  QString reason;
  if (!SaveLinkSettings(*form3_, QString::fromLatin1(kLinkSettingsFile), &reason)) {
    const QString path = QDir::toNativeSeparators(
        QFileInfo(QString::fromLatin1(kLinkSettingsFile)).absoluteFilePath());
    QString text = GetCaption(QStringLiteral("parcfg_write_failed")).arg(path);
    if (!reason.isEmpty()) text += QStringLiteral("\n\n") + reason;
    ShowErrorBox(this, text);
  }
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shownOnce_) {
    shownOnce_ = true;
    FormShow();
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (!closed_) {
    closed_ = true;
    FormClose();
  }
  event->accept();
}

// ---------------------------------------------------------------- status

void TForm1::LogStatus(const QString& text, TColor colour, int size, FontStyles style) {
  log_->Append(text, colour, size, style);
}

void TForm1::SetStatusPanel(int index, const QString& text) {
  auto* panel = findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(index));
  if (!panel) return;
  // A long device path would be cut off at the panel's edge. Its end tells
  // adapters apart (/dev/serial/by-id/usb-FTDI_..._A50285BI-if00-port0), and
  // the line settings follow it, so the start gives way; the whole text
  // stays in the tooltip.
  panel->setProperty("fullText", text);
  const int room = panel->width() - 2 * panel->margin() - 8;
  const QString shown = panel->fontMetrics().horizontalAdvance(text) > room
                            ? panel->fontMetrics().elidedText(text, Qt::ElideLeft, room)
                            : text;
  panel->setText(shown);
  panel->setToolTip(shown == text ? QString() : text);
}

QString TForm1::StatusPanel(int index) const {
  const auto* panel = findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(index));
  if (!panel) return {};
  const QVariant full = panel->property("fullText");
  return full.isValid() ? full.toString() : panel->text();
}

void TForm1::SetWaitCursor(bool on) {
  if (on)
    setCursor(Qt::WaitCursor);
  else
    unsetCursor();
}

void TForm1::SelectListIndex(QComboBox* list, int index) {
  // Change rules are bound to user activation only; the blocker also keeps
  // any other listener quiet while code moves the selection.
  QSignalBlocker block(list);
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

// ---------------------------------------------------------------- navigation

void TForm1::ShowPage(QWidget* page, QAbstractButton* button) {
  // Leaving a field by its page is leaving it: a refusal keeps the page, and
  // the button of the page shown stays pressed.
  if (!refusing_ && page != PageStack->currentWidget() && !LeaveFocusedField()) {
    if (shownPageButton_) shownPageButton_->setChecked(true);
    return;
  }
  // The field was checked just now; the page switch moves the focus
  // without leaving it a second time.
  const bool wasRefusing = refusing_;
  refusing_ = true;
  shownPageButton_ = button;
  button->setChecked(true);
  PageStack->setCurrentWidget(page);
  page->setFocus(Qt::OtherFocusReason);
  refusing_ = wasRefusing;
}

void TForm1::SpeedButton1Click() { ShowPage(pSerial, SpeedButton1); }
void TForm1::SpeedButton2Click() { ShowPage(sbDial, SpeedButton2); }
void TForm1::SpeedButton3Click() { ShowPage(pConnection, SpeedButton3); }
void TForm1::SpeedButton4Click() { ShowPage(sbPtcl, SpeedButton4); }
void TForm1::SpeedButton5Click() { ShowPage(pWorkmode, SpeedButton5); }
void TForm1::SpeedButton6Click() { ShowPage(pRemote, SpeedButton6); }
void TForm1::SpeedButton8Click() { ShowPage(pUpdate, SpeedButton8); }
void TForm1::SpeedButton7Click() { ShowPage(pVersion, SpeedButton7); }
