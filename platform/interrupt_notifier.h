#pragma once
// Ctrl+C (SIGINT, or the Windows console's Ctrl+C / Ctrl+Break) as a Qt
// signal on the thread that created the notifier, so a command-line program
// can stop its work cleanly instead of being killed mid-conversation.

#include <QObject>
#include <memory>

class InterruptNotifier : public QObject {
  Q_OBJECT
public:
  // Takes over the interrupt for the process; only one may exist at a time.
  explicit InterruptNotifier(QObject* parent = nullptr);
  // Gives the interrupt back to the system's default handling.
  ~InterruptNotifier() override;

signals:
  // Emitted once per interrupt, from the event loop.
  void interrupted();

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Lets a write to a closed pipe fail instead of ending the process (POSIX
// SIGPIPE), so `k7vconf-cli ... | head` cannot cut a unit off mid-conversation.
// Never fails; nothing to do on Windows.
void IgnoreBrokenPipe();

// True when stdout is an interactive terminal that understands the cursor
// movements of live status lines (on Windows: turned on here when possible).
bool StdoutIsLiveTerminal();
