// The console control events on Windows, through SetConsoleCtrlHandler.
//
// The system runs the handler on a thread of its own, so its work never
// runs in an interrupted context. The events are named here by the C
// runtime's signal numbers: CTRL+C is SIGINT, CTRL+BREAK is SIGBREAK, and
// closing the console, logging off or shutting down is SIGTERM, the orderly
// stop.
#include "app/signals.h"

#include <windows.h>

#include <csignal>
#include <cstdio>
#include <system_error>

#include "app/service_entry.h"
#include "app/signal_kinds.h"
#include "base/console_out.h"

namespace zol {
namespace {

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

// A closed console is SIGTERM here, so nothing is a hang-up.
SignalKind KindOfSignal(int signo) {
  switch (signo) {
    case SIGINT:
      return SignalKind::kInterrupt;
    case SIGBREAK:
      return SignalKind::kQuit;
    case SIGTERM:
      return SignalKind::kTerminate;
    default:
      return SignalKind::kOther;
  }
}

void DropConsole() {
  static std::FILE* const nowhere = std::fopen("NUL", "w");
  if (nowhere != nullptr) SetConsoleStream(nowhere);
}

// Nothing to block: control events never interrupt a thread.
void BlockControlSignals() {}

void StartSignalThread() {
  if (!::SetConsoleCtrlHandler(OnControlEvent, TRUE))
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category());
}

}  // namespace zol
