// The console control events and the orderly stop, taken from signals.
//
// SIGINT (CTRL+C) and SIGQUIT (CTRL+\) are the console control events,
// SIGTERM asks for the orderly stop, SIGHUP says the console has gone. They
// are blocked in every thread and taken by a thread of their own, so their
// work never runs in signal context. SIGPIPE is ignored.
#pragma once

namespace zol {

enum class SignalAction {
  kNone,
  kControlEvent,  // ConsoleCtrlHandler
  kOrderlyStop,   // the keyboard command loop stops as on CTRL+Z
  kEndStartUp,    // start-up is abandoned: terminal restored, status 0
  kConsoleGone,   // sampling goes on; console output is dropped
};

// What `signo` does at this point of the program's life.
SignalAction ActionForSignal(int signo);

// Blocks the four signals in the calling thread and, through inheritance,
// in every thread it starts later; ignores SIGPIPE. Call first in main.
// Throws std::system_error when the mask cannot be set.
void BlockControlSignals();
// Starts the thread that takes the four signals. Throws std::system_error.
void StartSignalThread();
// Carries out the action for `signo` (the signal thread calls this).
void HandleSignal(int signo);

// How the terminal is put back when start-up is abandoned (main installs
// the key reader's restore). Null: nothing to restore.
void SetTerminalRestorer(void (*restore)());

}  // namespace zol
