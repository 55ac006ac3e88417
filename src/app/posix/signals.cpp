#include "app/signals.h"

#include <pthread.h>
#include <signal.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "app/control.h"
#include "app/stop_request.h"
#include "base/console_out.h"

namespace zol {
namespace {

std::atomic<void (*)()> g_restoreTerminal{nullptr};

sigset_t ControlSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signo : {SIGINT, SIGQUIT, SIGTERM, SIGHUP})
    sigaddset(&set, signo);
  return set;
}

// Console writes go nowhere from now on, without errors or blocking.
void DropConsole() {
  static std::FILE* const nowhere = std::fopen("/dev/null", "we");
  if (nowhere != nullptr) SetConsoleStream(nowhere);
}

// Nothing of the sampling runs yet: end at once, leaving the terminal as
// it was found. Whatever the main thread is doing is abandoned mid-way, so
// no exit handlers run; buffered file data is still written out.
[[noreturn]] void EndStartUp() {
  ConsolePrintf("\nStart-up ended by a signal\n");
  if (void (*restore)() = g_restoreTerminal.load()) restore();
  std::fflush(nullptr);
  std::_Exit(0);
}

}  // namespace

SignalAction ActionForSignal(int signo) {
  switch (signo) {
    case SIGINT:
    case SIGQUIT:
      return ControlHandlerInstalled() ? SignalAction::kControlEvent : SignalAction::kEndStartUp;
    case SIGTERM:
      return StopRequestsAccepted() ? SignalAction::kOrderlyStop : SignalAction::kEndStartUp;
    case SIGHUP:
      return SignalAction::kConsoleGone;
    default:
      return SignalAction::kNone;
  }
}

void HandleSignal(int signo) {
  switch (ActionForSignal(signo)) {
    case SignalAction::kControlEvent:
      ConsoleCtrlHandler(signo == SIGQUIT ? 1 : 0);
      break;
    case SignalAction::kOrderlyStop:
      RequestStop();
      break;
    case SignalAction::kEndStartUp:
      EndStartUp();
    case SignalAction::kConsoleGone:
      DropConsole();
      break;
    case SignalAction::kNone:
      break;
  }
}

void BlockControlSignals() {
  const sigset_t set = ControlSignals();
  if (const int failed = pthread_sigmask(SIG_BLOCK, &set, nullptr); failed != 0)
    throw std::system_error(failed, std::generic_category(), "pthread_sigmask");
  if (signal(SIGPIPE, SIG_IGN) == SIG_ERR)
    throw std::system_error(errno, std::generic_category(), "signal");
}

void StartSignalThread() {
  std::thread([] {
    const sigset_t set = ControlSignals();
    for (;;) {
      int signo = 0;
      if (sigwait(&set, &signo) == 0) HandleSignal(signo);
    }
  }).detach();
}

void SetTerminalRestorer(void (*restore)()) {
  g_restoreTerminal.store(restore);
}

}  // namespace zol
