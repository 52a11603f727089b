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

#include "app/main_window.h"

class SerialPort;

struct LogLine {
  QString text;
  QColor colour;
  double pointSize = 0;
};

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
  template <typename T> T* get(const char* name) const {
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
  // The text of a message key as the shipped caption.ini has it.
  static QString caption(const char* key);

  // Fires a click on a button as the technician would.
  void click(const char* name);
  // Drops the window (as closing the program does, then destroys it).
  void closeWindow();

private:
  QTemporaryDir dir_;
  QString oldCwd_;
  std::unique_ptr<TForm1> form_;
};
