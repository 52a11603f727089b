#pragma once
// The requests to stop a command-line program as a Qt signal on the thread
// that created the notifier, so it can stop its work cleanly instead of being
// killed mid-conversation: Ctrl+C (SIGINT), SIGTERM (a CI job cancelled,
// `timeout`, a service stopped) and SIGHUP (the terminal closed); on Windows
// the console's Ctrl+C, Ctrl+Break and close events.

#include <QObject>
#include <QString>
#include <memory>

class InterruptNotifier : public QObject {
  Q_OBJECT
public:
  // Takes over the stop requests for the process; only one may exist at a time.
  explicit InterruptNotifier(QObject* parent = nullptr);
  // Gives them back to the system's default handling, or ignores them from
  // then on after IgnoreLaterRequests().
  ~InterruptNotifier() override;

  // For a program whose work is done and told: a request that arrives while
  // it is ending has nothing left to stop, and must not turn a finished run
  // into one killed by a signal. Never fails.
  void IgnoreLaterRequests() { ignoreLater_ = true; }

signals:
  // Emitted once per request, from the event loop. what names it as a
  // technician knows it: "Ctrl+C", "SIGTERM", "SIGHUP", "console closed".
  void interrupted(const QString& what);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  bool ignoreLater_ = false;
};

// Lets a write to a closed pipe fail instead of ending the process (POSIX
// SIGPIPE), so `k7vconf-cli ... | head` cannot cut a unit off mid-conversation.
// Never fails; nothing to do on Windows.
void IgnoreBrokenPipe();

// True when stdout is an interactive terminal that understands the cursor
// movements of live status lines (on Windows: turned on here when possible).
bool StdoutIsLiveTerminal();
