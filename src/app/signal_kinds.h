// What each platform's control signals stand for, so that one dispatch
// (signal_dispatch.cpp) serves both; the platform's signals.cpp names them.
#pragma once

namespace zol {

enum class SignalKind {
  kInterrupt,  // CTRL+C
  kQuit,       // CTRL+\ or CTRL+BREAK
  kTerminate,  // the orderly stop
  kHangUp,     // the console has gone
  kOther,
};

SignalKind KindOfSignal(int signo);
// Console writes go nowhere from now on, without errors or blocking.
void DropConsole();

}  // namespace zol
