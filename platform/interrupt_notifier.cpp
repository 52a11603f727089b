#include "platform/interrupt_notifier.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <atomic>
#include <iterator>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
#else
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcInterrupt, "k7v.platform.interrupt")

namespace {
std::atomic<InterruptNotifier*> gNotifier{nullptr};
#ifdef _WIN32
constexpr DWORD kCloseGraceMs = 4000; // Windows allows a closing console about 5 s
#else
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
#endif
} // namespace

#ifdef _WIN32

struct InterruptNotifier::Impl {};

namespace {
// The request's name; nullptr for events that are not a request to stop.
const char* ConsoleEventName(DWORD type) {
  switch (type) {
  case CTRL_C_EVENT:
    return "Ctrl+C";
  case CTRL_BREAK_EVENT:
    return "Ctrl+Break";
  case CTRL_CLOSE_EVENT:
    return "console closed";
  default:
    return nullptr;
  }
}

// Runs on a thread of its own that the console creates; hands over to the loop.
BOOL WINAPI ConsoleHandler(DWORD type) {
  const char* what = ConsoleEventName(type);
  if (!what) return FALSE;
  if (InterruptNotifier* n = gNotifier.load()) {
    const QString name = QString::fromLatin1(what);
    QMetaObject::invokeMethod(
        n, [n, name] { emit n->interrupted(name); }, Qt::QueuedConnection);
    // After a close event Windows ends the process once this returns; the
    // grace it allows is spent here so the loop can tell every unit.
    if (type == CTRL_CLOSE_EVENT) Sleep(kCloseGraceMs);
    return TRUE;
  }
  return FALSE;
}
} // namespace

// Without a pipe or handler the interrupt keeps its default effect; logged, never fatal.
InterruptNotifier::InterruptNotifier(QObject* parent)
    : QObject(parent), impl_(std::make_unique<Impl>()) {
  gNotifier.store(this);
  if (!SetConsoleCtrlHandler(ConsoleHandler, TRUE))
    qCWarning(lcInterrupt) << "cannot install the console handler" << GetLastError();
}

// Never fails.
InterruptNotifier::~InterruptNotifier() {
  if (ignoreLater_) SetConsoleCtrlHandler(nullptr, TRUE); // before ours goes: no gap
  SetConsoleCtrlHandler(ConsoleHandler, FALSE);
  gNotifier.store(nullptr);
}

// False for pipes, files and dumb terminals.
void IgnoreBrokenPipe() {}

bool StdoutIsLiveTerminal() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == INVALID_HANDLE_VALUE || !GetConsoleMode(out, &mode)) return false;
  return SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

#else

// The handler only writes one byte into a pipe (async-signal-safe); the loop
// reads it and emits the signal.
struct InterruptNotifier::Impl {
  int fds[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier;
  struct sigaction previous[std::size(kStopSignals)]{};
};

namespace {
std::atomic<int> gWriteFd{-1};

// Async-signal-safe; the byte is the signal's number. A full pipe drops it
// (a request is already pending).
void OnSignal(int sig) {
  const int saved = errno;
  const int fd = gWriteFd.load();
  if (fd >= 0) {
    const char byte = char(sig);
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved;
}

// Never fails.
QString SignalName(int sig) {
  switch (sig) {
  case SIGINT:
    return QStringLiteral("Ctrl+C");
  case SIGTERM:
    return QStringLiteral("SIGTERM");
  case SIGHUP:
    return QStringLiteral("SIGHUP");
  default:
    return QStringLiteral("signal %1").arg(sig);
  }
}
} // namespace

// Without a pipe or handler the interrupt keeps its default effect; logged, never fatal.
InterruptNotifier::InterruptNotifier(QObject* parent)
    : QObject(parent), impl_(std::make_unique<Impl>()) {
  if (::pipe(impl_->fds) != 0) {
    qCWarning(lcInterrupt) << "no pipe for the interrupt" << errno;
    return;
  }
  for (int fd : impl_->fds) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  ::fcntl(impl_->fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(impl_->fds[1], F_SETFD, FD_CLOEXEC);
  impl_->notifier = std::make_unique<QSocketNotifier>(impl_->fds[0], QSocketNotifier::Read);
  connect(impl_->notifier.get(), &QSocketNotifier::activated, this, [this] {
    char buf[16];
    for (ssize_t n; (n = ::read(impl_->fds[0], buf, sizeof buf)) > 0;)
      for (ssize_t i = 0; i < n; ++i) emit interrupted(SignalName(buf[i]));
  });
  gWriteFd.store(impl_->fds[1]);
  gNotifier.store(this);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
    ::sigaction(kStopSignals[i], &sa, &impl_->previous[i]);
}

// Never fails.
InterruptNotifier::~InterruptNotifier() {
  if (impl_->fds[0] < 0) return;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
    ::sigaction(kStopSignals[i], ignoreLater_ ? &ignore : &impl_->previous[i], nullptr);
  gWriteFd.store(-1);
  gNotifier.store(nullptr);
  impl_->notifier.reset();
  ::close(impl_->fds[0]);
  ::close(impl_->fds[1]);
}

void IgnoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

// False for pipes, files and dumb terminals.
bool StdoutIsLiveTerminal() {
  if (!::isatty(STDOUT_FILENO)) return false;
  const char* term = ::getenv("TERM");
  return term && std::string_view(term) != "dumb";
}

#endif
