#include "app/keyboard.h"

#include <cstdlib>
#include <mutex>

#include "app/control.h"
#include "app/control_server.h"
#include "app/cycle_lock.h"
#include "app/interactive.h"
#include "app/port_setup.h"
#include "app/sample_cycle.h"
#include "app/sampler_state.h"
#include "app/sampler_status.h"
#include "app/sampling_thread.h"
#include "app/service_watch.h"
#include "app/shore_setup.h"
#include "app/stop_event.h"
#include "app/stop_request.h"
#include "base/clock.h"
#include "base/console_out.h"
#include "console/keys.h"
#include "link/serial_service.h"

namespace zol {
namespace {

constexpr const char* kCtrlZHeading = "\nGot CTRL+Z - Terminating Sampling Thread";
constexpr const char* kTerminateHeading = "\nGot SIGTERM - Terminating Sampling Thread";
// The control event types the two keys stand for.
constexpr unsigned long kCtrlCEvent = 0;
constexpr unsigned long kCtrlBreakEvent = 1;

// Acts on one command key; false for CTRL+Z.
bool RunCommandKey(int code) {
  switch (code) {
    case kKeyForceSample:
      ConsolePrintf("\nGot CTRL+F - Force Sample\n");
      // A control client's terminal may hold the ZOL for minutes.
      if (!BeginConsoleSample()) {
        ShowTerminalInUse();
      } else {
        ForceSample();
        EndConsoleSample();
      }
      return true;
    case kKeyHelp:
      ConsolePrintf(
          "\nCommands: CTRL+F (Force Sample), CTRL+I (Interactive Mode), CTRL+Z (Exit)\n");
      return true;
    case kKeyInteractive:
      ConsolePrintf("\nGot CTRL+I - Entering Interactive Mode\n");
      InteractiveMode();
      return true;
    case kKeyExit:
      return false;
    case kKeyCtrlC:
      ConsoleCtrlHandler(kCtrlCEvent);
      return true;
    case kKeyCtrlBackslash:
      ConsoleCtrlHandler(kCtrlBreakEvent);
      return true;
    default:
      ConsolePrintf("Unrecognized Charater\n");
      return true;
  }
}

}  // namespace

CycleOutcome RunForcedCycle() {
  State().nowTime = WallNow();
  CycleOutcome outcome = SampleCycle();
  NoteCycleEnded();
  return outcome;
}

void ForceSample() {
  std::lock_guard lock(TheCycleLock());
  RunForcedCycle();
}

int RunStopSequence(const char* heading) {
  SamplerState& s = State();
  ConsolePrintf("%s\n", heading);
  ServiceStopping();
  // Its terminal and its sample give the cycle lock back first.
  StopControl();
  if (s.stopEvent) s.stopEvent->Set();
  const unsigned long exitCode = JoinSamplingThread();
  ConsolePrintf("Thread Exit Code = %lu\n", exitCode);
  StopShoreLink();
  PauseMs(1000);
  s.stopEvent.reset();
  // A control event must not reach a port while it is being closed.
  std::lock_guard lock(TheCycleLock());
  CloseSamplerPorts();
  return 0;
}

int RunKeyboardLoop() {
  AcceptStopRequests();
  for (;;) {
    if (StopRequested()) {
      const char* heading = StopHeading();
      return RunStopSequence(heading != nullptr ? heading : kTerminateHeading);
    }
    const int key = GetKey();
    if (key == kKeyInterrupted) continue;
    if (key == kNoKey) {
      // Sampling goes on without a keyboard; only a stop request ends it.
      ConsolePrintf("\nNo keyboard input: sampling goes on until the program is terminated\n");
      WaitForStopRequest();
      continue;
    }
    if (!RunCommandKey(key & 0xFF)) return RunStopSequence(kCtrlZHeading);
  }
}

void KeyboardLoop() {
  // NOLINTNEXTLINE(concurrency-mt-unsafe): what other threads use is never destroyed
  std::exit(RunKeyboardLoop());
}

}  // namespace zol
