#include "app/signals.h"

#include <pthread.h>
#include <signal.h>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <thread>

#include "app/signal_kinds.h"
#include "base/console_out.h"

namespace zol {
namespace {

sigset_t ControlSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signo : {SIGINT, SIGQUIT, SIGTERM, SIGHUP})
    sigaddset(&set, signo);
  return set;
}

}  // namespace

SignalKind KindOfSignal(int signo) {
  switch (signo) {
    case SIGINT:
      return SignalKind::kInterrupt;
    case SIGQUIT:
      return SignalKind::kQuit;
    case SIGTERM:
      return SignalKind::kTerminate;
    case SIGHUP:
      return SignalKind::kHangUp;
    default:
      return SignalKind::kOther;
  }
}

void DropConsole() {
  static std::FILE* const nowhere = std::fopen("/dev/null", "we");
  if (nowhere != nullptr) SetConsoleStream(nowhere);
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

}  // namespace zol
