// The console control events on Windows, through SetConsoleCtrlHandler.
//
// The system runs the handler on a thread of its own, so its work never
// runs in an interrupted context. The events are named here by the C
// runtime's signal numbers: CTRL+C is SIGINT, CTRL+BREAK is SIGBREAK, and
// closing the console, logging off or shutting down is SIGTERM, the orderly
// stop.
#include "app/signals.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "app/control.h"
#include "app/service_entry.h"
#include "app/stop_request.h"
#include "base/console_out.h"

namespace zol {
namespace {

std::atomic<void (*)()> g_restoreTerminal{nullptr};

// Nothing of the sampling runs yet: end at once. Whatever the main thread
// is doing is abandoned mid-way; buffered file data is still written out.
[[noreturn]] void EndStartUp() {
  ConsolePrintf("\nStart-up ended by a signal\n");
  if (void (*restore)() = g_restoreTerminal.load()) restore();
  std::fflush(nullptr);
  std::_Exit(0);
}

int SignalForEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      return SIGINT;
    case CTRL_BREAK_EVENT:
      return SIGBREAK;
    default:  // close, logoff, shutdown
      return SIGTERM;
  }
}

BOOL WINAPI OnControlEvent(DWORD event) {
  // A service outlives the sessions of those who log on and off.
  if (event == CTRL_LOGOFF_EVENT && RunningAsService()) return FALSE;
  const int signo = SignalForEvent(event);
  HandleSignal(signo);
  if (signo == SIGTERM) {
    // The process ends when this returns: hold it until the orderly stop
    // has closed the files and ended the program (the system allows a few
    // seconds).
    ::Sleep(INFINITE);
  }
  return TRUE;
}

}  // namespace

SignalAction ActionForSignal(int signo) {
  switch (signo) {
    case SIGINT:
    case SIGBREAK:
      return ControlHandlerInstalled() ? SignalAction::kControlEvent : SignalAction::kEndStartUp;
    case SIGTERM:
      return StopRequestsAccepted() ? SignalAction::kOrderlyStop : SignalAction::kEndStartUp;
    default:
      return SignalAction::kNone;
  }
}

void HandleSignal(int signo) {
  switch (ActionForSignal(signo)) {
    case SignalAction::kControlEvent:
      ConsoleCtrlHandler(signo == SIGBREAK ? CTRL_BREAK_EVENT : CTRL_C_EVENT);
      break;
    case SignalAction::kOrderlyStop:
      RequestStop();
      break;
    case SignalAction::kEndStartUp:
      EndStartUp();
    case SignalAction::kConsoleGone:
    case SignalAction::kNone:
      break;
  }
}

// Nothing to block: control events never interrupt a thread.
void BlockControlSignals() {}

void StartSignalThread() {
  if (!::SetConsoleCtrlHandler(OnControlEvent, TRUE))
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
}

void SetTerminalRestorer(void (*restore)()) {
  g_restoreTerminal.store(restore);
}

}  // namespace zol
