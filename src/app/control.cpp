#include "app/control.h"

#include <atomic>

#include "app/cycle_lock.h"
#include "app/sampler_state.h"
#include "link/serial_service.h"

namespace zol {
namespace {

constexpr int kCtrlC = 3;
constexpr unsigned long kCtrlBreakEvent = 1;

std::atomic<bool> g_enabled{false};

void PassCtrlCToZol() {
  const int port = Settings().zolPort;
  SerialPutc(port, kCtrlC);
  SerialRxClear(port);
}

}  // namespace

void EnableControlHandler() {
  g_enabled.store(true);
}

bool ControlHandlerEnabled() {
  return g_enabled.load();
}

void DisableControlHandler() {
  g_enabled.store(false);
}

int ConsoleCtrlHandler(unsigned long /*eventType*/) {
  TheCycleLock().RunWhenFree(PassCtrlCToZol);
  return 1;
}

void BreakKeyAtPrompt() {
  if (ControlHandlerEnabled()) ConsoleCtrlHandler(kCtrlBreakEvent);
}

}  // namespace zol
