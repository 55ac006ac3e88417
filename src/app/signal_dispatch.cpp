#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "app/control.h"
#include "app/signal_kinds.h"
#include "app/signals.h"
#include "app/stop_request.h"
#include "base/console_out.h"

namespace zol {
namespace {

std::atomic<void (*)()> g_restoreTerminal{nullptr};

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
  switch (KindOfSignal(signo)) {
    case SignalKind::kInterrupt:
    case SignalKind::kQuit:
      return ControlHandlerEnabled() ? SignalAction::kControlEvent : SignalAction::kEndStartUp;
    case SignalKind::kTerminate:
      return StopRequestsAccepted() ? SignalAction::kOrderlyStop : SignalAction::kEndStartUp;
    case SignalKind::kHangUp:
      return SignalAction::kConsoleGone;
    case SignalKind::kOther:
      break;
  }
  return SignalAction::kNone;
}

void HandleSignal(int signo) {
  switch (ActionForSignal(signo)) {
    case SignalAction::kControlEvent:
      // The handler's events: 0 is CTRL+C, 1 CTRL+BREAK (CTRL+\ here).
      ConsoleCtrlHandler(KindOfSignal(signo) == SignalKind::kQuit ? 1 : 0);
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

void SetTerminalRestorer(void (*restore)()) {
  g_restoreTerminal.store(restore);
}

}  // namespace zol
