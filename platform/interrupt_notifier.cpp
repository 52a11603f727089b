#include "platform/interrupt_notifier.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <atomic>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
#else
#include <QSocketNotifier>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcInterrupt, "k7v.platform.interrupt")

namespace {
std::atomic<InterruptNotifier*> gNotifier{nullptr};
} // namespace

#ifdef _WIN32

struct InterruptNotifier::Impl {};

namespace {
// Runs on a thread of its own that the console creates; hands over to the loop.
BOOL WINAPI ConsoleHandler(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (InterruptNotifier* n = gNotifier.load()) {
    QMetaObject::invokeMethod(n, &InterruptNotifier::interrupted, Qt::QueuedConnection);
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
  struct sigaction previous {};
};

namespace {
std::atomic<int> gWriteFd{-1};

// Async-signal-safe; a full pipe drops the byte (an interrupt is already pending).
void OnSignal(int) {
  const int fd = gWriteFd.load();
  if (fd >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
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
    bool any = false;
    while (::read(impl_->fds[0], buf, sizeof buf) > 0) any = true;
    if (any) emit interrupted();
  });
  gWriteFd.store(impl_->fds[1]);
  gNotifier.store(this);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &sa, &impl_->previous);
}

// Never fails.
InterruptNotifier::~InterruptNotifier() {
  if (impl_->fds[0] < 0) return;
  ::sigaction(SIGINT, &impl_->previous, nullptr);
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
