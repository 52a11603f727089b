#pragma once
// TForm1: the main window. Its controls carry the names the rest of the code
// uses (cb_workmode, ed_apn, ...): they come from the .ui forms, one per page,
// whose generated classes are private bases, so each control is a member here.
//
// The handlers are implemented next to the concern they belong to:
//   app/main_window.cpp         start-up, shutdown, navigation, status bar
//   app/connect_handlers.cpp    OpenSerial, SendSwitchCommand, connect, disconnect
//   app/field_rules.cpp         key filters, exit rules, dependent controls, wheel
//   app/form_mapping.cpp        DecodeParams, EncodeParams
//   app/param_exchange.cpp      read and write with the DTU, ShowSysInfo
//   app/factory_defaults.cpp    SpeedButton15Click
//   app/param_files.cpp         import and export
//   app/firmware_page.cpp       SpeedButton35Click, DownloadDescriptor
//   app/firmware_download.cpp   bStartClick, the progress text
//
// Every conversation with the unit goes through DeviceSession (link/); the
// handlers here call it and show the result.

#include <QHash>
#include <QPointer>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "app/link_settings_dialog.h"
#include "app/status_log.h"
#include "link/device_session.h"
#include "link/link_constants.h"
#include "params/app_params.h"
#include "params/edited_config.h"

#include "ui_main_window.h"
#include "ui_page_connection.h"
#include "ui_page_dial.h"
#include "ui_page_ptcl.h"
#include "ui_page_remote.h"
#include "ui_page_serial.h"
#include "ui_page_update.h"
#include "ui_page_version.h"
#include "ui_page_workmode.h"

class QAbstractButton;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QScrollArea;
class SerialPort;

class TForm1 : public QWidget,
               private Ui::Form1Frame,
               private Ui::PageSerial,
               private Ui::PageDial,
               private Ui::PageConnection,
               private Ui::PagePtcl,
               private Ui::PageWorkmode,
               private Ui::PageRemote,
               private Ui::PageUpdate,
               private Ui::PageVersion {
  Q_OBJECT
  friend class TForm1Access; // tests reach the controls through this

public:
  // port: the serial port to use; null means the system's real port.
  explicit TForm1(std::unique_ptr<SerialPort> port = nullptr, QWidget* parent = nullptr);
  ~TForm1() override;

  // The protocol time limits of the session (tests use short ones).
  void SetSessionTimings(const SessionTimings& timings) { session_->setTimings(timings); }

  // ---- status log
  void LogStatus(const QString& text, TColor colour, int size, FontStyles style = {});

  // ---- window events
  void FormCreate();
  void FormShow();
  void FormClose();

  // ---- navigation
  void SpeedButton1Click();
  void SpeedButton2Click();
  void SpeedButton3Click();
  void SpeedButton4Click();
  void SpeedButton5Click();
  void SpeedButton6Click();
  void SpeedButton7Click();
  void SpeedButton8Click();

  // ---- link (app/connect_handlers.cpp)
  void SpeedButton30Click();
  bool OpenSerial();
  // Logs "conneting", sends the switch command and waits for the unit;
  // nullopt when the window closed during the wait.
  std::optional<VersionResult> SendSwitchCommand();
  void sb_com_openClick();
  void sb_com_closeClick();
  // Connect, disconnect, download and read/write buttons for the link state.
  void SetLinkControls(bool connected);
  // The port reported that the device is gone: back to Not connected.
  void OnDeviceLost();

  // ---- field rules (app/field_rules.cpp)
  // Key filters: set key to 0 to discard the typed character.
  void ed_packet_lengthKeyPress(QObject* sender, char16_t& key);
  void ed_ip1KeyPress(QObject* sender, char16_t& key);
  void ed_phoneKeyPress(QObject* sender, char16_t& key);
  void m_heartKeyPress(QObject* sender, char16_t& key);
  // The exit rule of a field (params/field_model.h), run when the focus
  // leaves it for another control: false when it refused the text, which
  // then stays, selected, with the focus back in the field.
  bool ApplyExitRule(QObject* sender);
  // Dependent controls: each runs the field model's rules of its selector.
  void cb_workmodeChange(QObject* sender = nullptr);
  void cbPconlinemodeChange(QObject* sender = nullptr);
  void cbdtuserialptclClick(QObject* sender = nullptr);
  void cbPtcl_selectChange(QObject* sender = nullptr);
  void ck_enable_heartClick(QObject* sender = nullptr);
  void ck_enable_heart_ackClick(QObject* sender = nullptr);
  void cb_insert_enableClick(QObject* sender = nullptr);
  // Mouse wheel on the scroll-box pages.
  void sbDialMouseWheel(QObject* sender, int wheelDelta);
  void sbPtclMouseWheel(QObject* sender, int wheelDelta);

  // ---- record and pages (app/form_mapping.cpp)
  void DecodeParams(const TAppParams& params);
  // nullopt after the conversion error box has been shown.
  std::optional<TAppParams> EncodeParams();
  // Run before EncodeParams for a write or an export: false when a field
  // holds what the record cannot store as shown, or a value the technician
  // changed that breaks its exit rule. The first such field (page order) is
  // shown, focused and selected, with "par_error" and a line naming it.
  bool CheckPagesBeforeEncode();

  // ---- reading and writing (app/param_exchange.cpp)
  void sb_getparClick();
  void sb_setparClick();
  // Checks and encodes the pages and writes them to the unit, waiting for
  // its result. False when a field was refused or not a number: nothing was
  // sent. outcome stays nullopt when the window closed during the wait.
  bool WriteAppParams(std::optional<SessionResult>& outcome);
  void ShowSysInfo(const TSysInfo& info);

  // ---- defaults and files
  void SpeedButton15Click();
  void SpeedButton11Click();
  void SpeedButton12Click();

  // ---- firmware (app/firmware_page.cpp, app/firmware_download.cpp)
  void SpeedButton35Click();
  // The loaded image as the download announces and serves it.
  DownloadImage DownloadDescriptor() const;
  void bStartClick();

  // ---- state
  DeviceLink& link() { return session_->link(); }
  DeviceSession& session() { return *session_; }
  TForm3* Form3() const { return form3_; }
  void SetStatusPanel(int index, const QString& text);
  QString StatusPanel(int index) const;

  bool ImageLoaded = false;
  bool DownloadRunning = false;

protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void BuildPages();
  void ConnectHandlers();
  void InstallFieldRules(); // app/field_rules.cpp: filters, exit rules, wheel
  // Shows the page; not while the focused field refuses to be left.
  void ShowPage(QWidget* page, QAbstractButton* button);
  void SetWaitCursor(bool on);
  // Runs one session step. nullopt when the window was closed or destroyed
  // while the step waited: the handler then returns without touching
  // anything of the window. The session outlives the step either way.
  template <typename Step>
  auto Await(Step step) -> std::optional<decltype(step(std::declval<DeviceSession&>()))> {
    const QPointer<TForm1> self(this);
    const std::shared_ptr<DeviceSession> keep = session_;
    auto result = step(*keep);
    if (!self || closed_) return std::nullopt;
    return result;
  }
  // Download progress: the bar, its text and the "pos:" line.
  void ShowDownloadProgress(const DownloadProgress& progress, double seconds);
  // The red line of a download that did not complete.
  void LogDownloadEnding(SessionReason reason);
  // A list's index set from code, with its change rule not run.
  static void SelectListIndex(QComboBox* list, int index);
  void RefuseField(QWidget* field); // "par_error", focus back, whole text selected
  bool ExitRuleFor(QObject* field, QEvent* event);
  // Runs the exit rule of the focused field before its page is left; false
  // when the field refused (the technician stays with it).
  bool LeaveFocusedField();
  // Runs the field model's rules of a selector (a list or a check box): the
  // boxes it sets, then the rows and groups it shows or enables.
  void ApplySelectorRules(AppField selector);

  // A record field's control on the pages and the labels of its row, as the
  // field model names them; control null for a field stored from another.
  struct FieldWidgets {
    QWidget* control = nullptr;
    QLabel* label = nullptr; // the name left of it; null for a check box
    QList<QWidget*> row;     // the control and its labels
    QWidget* page = nullptr;
  };
  void FindFieldWidgets();
  const FieldWidgets& WidgetsOf(AppField field) const { return fieldWidgets_[std::size_t(field)]; }
  // A field's value as its control holds it (params/edited_config.h).
  std::string ControlValue(AppField field) const;
  // Every control's value into the configuration, and back: the lists'
  // rules run, the boxes are set last, each from its own value.
  void PagesToConfig();
  void ConfigToPages();
  // The field's label as a log line names it.
  QString FieldLabel(AppField field) const;
  // The configuration just loaded onto the pages, with a line for each
  // value they cannot show and each text from a file that fills its field.
  void ShowLoaded(const EditedConfig::Loaded& loaded);
  // One black start-up line for parcfg.ini values that could not be used.
  void LogLinkSettingsNotes(const QList<LinkSettingsNote>& notes);
  // One black start-up line when no caption file was found, naming where it was looked for.
  void LogMissingCaptions();
  // "bin_error" for path with its reason, and which image stays loaded.
  void RefuseImage(const QString& path, const QString& reason);

  // The eight pages, in navigation order.
  QFrame* pSerial = nullptr;
  QScrollArea* sbDial = nullptr;
  QFrame* pConnection = nullptr;
  QScrollArea* sbPtcl = nullptr;
  QFrame* pWorkmode = nullptr;
  QFrame* pRemote = nullptr;
  QFrame* pUpdate = nullptr;
  QFrame* pVersion = nullptr;

  std::unique_ptr<StatusLog> log_;
  std::shared_ptr<DeviceSession> session_;
  TForm3* form3_ = nullptr;
  bool shownOnce_ = false;
  bool closed_ = false;
  bool refusing_ = false;                      // an exit rule is putting the focus back
  QAbstractButton* shownPageButton_ = nullptr; // the navigation button of the page shown
  std::array<FieldWidgets, std::size_t(AppField::Count)> fieldWidgets_;

  EditedConfig config_; // what the pages stand for
  std::unique_ptr<std::array<std::uint8_t, k7v::kFirmwareImageSize>> firmwareImage_;
};

// The one main window, set while it exists.
extern QPointer<TForm1> Form1;
