#pragma once
// A main window for widget and end-to-end tests: it runs in its own temporary
// working directory (parcfg.ini, caption.ini), its message boxes and file
// dialogs are answered by the test, and its controls are reached by name.

#include <QColor>
#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <utility>

#include "app/link_settings_dialog.h"
#include "app/main_window.h"

class SerialPort;

struct LogLine {
  QString text;
  QColor colour;
  double pointSize = 0;
};

// A status log line as a test expects it.
struct ExpectedLine {
  QString text;
  QColor colour;
  int size = 0;
};
inline const QColor kLogBlack(0, 0, 0);
inline const QColor kLogGreen(0, 0x80, 0);
inline const QColor kLogRed(0xFF, 0, 0);
// The message of a key (with suffix appended) in the look of its kind.
ExpectedLine Progress(const char* key, const QString& suffix = {}); // black, 9 points
ExpectedLine Success(const char* key);                              // green, 10 points
ExpectedLine
Failure(const char* key,
        const QString& suffix = {});   // a device or file operation failed: red, 10 points
ExpectedLine Refusal(const char* key); // a port or field error: red, 9 points

// The toolkit's box for a number field whose text is not a number.
QString ConversionError(const QString& text);

// The navigation buttons and their pages, in the order the column shows them.
inline constexpr std::pair<const char*, const char*> kPageButtons[] = {
    {"SpeedButton1", "pSerial"}, {"SpeedButton2", "sbDial"},    {"SpeedButton3", "pConnection"},
    {"SpeedButton4", "sbPtcl"},  {"SpeedButton5", "pWorkmode"}, {"SpeedButton6", "pRemote"},
    {"SpeedButton8", "pUpdate"}, {"SpeedButton7", "pVersion"},
};

// The window's protocol limits in tests: long enough for a loaded machine
// and for the simulator's split answers, far shorter than the real ones.
SessionTimings WindowTimings();
// The limits for a wait that is meant to run out (a unit that stays silent):
// short, so that no test sits out a protocol time-out.
SessionTimings SilentUnitTimings();

// Data rows for a test that closes the window in the middle of an operation:
// column "destroy", false to close the window, true to destroy it as well.
void AddCloseRows();

// The serial ports the tests' windows see, as a PC without an adapter lists
// them: the machine's own must not decide what a window shows, and asking the
// system costs every window's start.
QStringList TestMachinePorts();

class WindowFixture {
public:
  // Runs in the working directory before the window exists, to put files
  // there (parcfg.ini, caption.ini) that the window reads at start-up.
  using Prepare = std::function<void(const QDir& workDir)>;

  // port: null for the real serial port. withCaptions: put the shipped
  // caption.ini beside the window so message texts are there.
  explicit WindowFixture(std::unique_ptr<SerialPort> port = nullptr, bool withCaptions = true,
                         const Prepare& prepare = {});
  ~WindowFixture();

  TForm1& form() { return *form_; }
  template <typename T>
  T* get(const char* name) const {
    T* w = form_->findChild<T*>(QString::fromLatin1(name));
    if (!w) qFatal("no control named %s", name);
    return w;
  }
  QString dir() const { return dir_.path(); }

  // Message boxes shown so far (their texts); they never block.
  QStringList boxes;
  // Answers for the next file dialogs, in order; an empty text cancels.
  std::deque<QString> dialogAnswers;

  QList<LogLine> logLines() const;
  QStringList logTexts() const;
  qsizetype logSize() const { return logLines().size(); }
  // True when the log from line index from on is exactly these lines; else
  // the lines are printed as a warning.
  bool logTailIs(qsizetype from, const QList<ExpectedLine>& expected) const;
  bool lastLineIs(const ExpectedLine& expected) const;
  // The text of a message key as the shipped caption.ini has it.
  static QString caption(const char* key);

  // The text of an edit field or memo; setText sets it as the program does.
  QString text(const char* name) const;
  void setText(const char* name, const QString& text);
  // Picks a list item as the technician does: the change rule runs.
  void choose(const char* list, int index);
  // Fires a click on a button as the technician would.
  void click(const char* name);
  // Clicks a button; while its handler runs, sample runs every time bytes
  // arrive at the port and every everyMs. Returns how often it ran.
  int clickSampling(const char* name, const std::function<void()>& sample, int everyMs = 150);
  // From the moment the log's last line is the text of key (now, for null)
  // the window's operations start with SilentUnitTimings: the answers before
  // keep their limits. Limits are taken as an operation starts.
  void shortenWaitsFrom(const char* key = nullptr);
  // Runs action from the event loop once the log's last line is the text of
  // key: inside the wait that follows the line, as a click would come.
  void onLine(const char* key, const std::function<void()>& action);
  // Drops the window (as closing the program does, then destroys it).
  void closeWindow();
  // Closes the window; destroy: destroys it as well.
  void closeOrDestroy(bool destroy);

  // The link settings point at the device (and use the switch command, when given).
  void setPort(const QString& devicePath, const QString& switchCommand = {});
  // setPort, then a click on connect; true when the DTU is connected.
  bool connectTo(const QString& devicePath, const QString& switchCommand = {});
  // Which of connect, disconnect, read, write and download are enabled:
  // "10000" not connected, "01111" connected.
  QString linkButtons() const;
  bool waitCursor() const;
  // The record the pages encode to; aborts the run when they cannot.
  TAppParams encoded();

private:
  // Runs run each time the log's last line becomes the text of key; now, for null.
  void whenLine(const char* key, const std::function<void()>& run);

  QTemporaryDir dir_;
  QString oldCwd_;
  PortListing previousListing_; // a test's own listing is kept while the window lives
  std::unique_ptr<TForm1> form_;
};
