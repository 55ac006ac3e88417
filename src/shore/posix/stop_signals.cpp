#include "shore/stop_signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <ctime>

namespace zol::shore {
namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

void BlockStopSignals() {
  const sigset_t set = StopSet();
  (void)pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // A broker that goes away mid-write must not end the program.
  (void)signal(SIGPIPE, SIG_IGN);
}

bool WaitForStopSignal(int timeoutMs) {
  const sigset_t set = StopSet();
  const timespec timeout{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
  return sigtimedwait(&set, nullptr, &timeout) > 0;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

}  // namespace zol::shore
