// Entry point of zolsampler.
#include <cstdlib>
#include <system_error>

#include "app/command_line.h"
#include "app/control.h"
#include "app/service_entry.h"
#include "app/signals.h"
#include "app/startup.h"
#include "base/console_out.h"
#include "base/local_time.h"
#include "console/prompts.h"
#include "console/system_keys.h"
#include "link/serial_service.h"
#include "link/system_serial.h"

namespace {

int SignalHandlingFailed() {
  zol::ConsolePrintf("\nERROR Starting Signal Handling, exiting!\n");
  return EXIT_FAILURE;
}

int RunSampler(int argc, char** argv) {
  // First, before any thread exists: every thread inherits the mask, so only
  // the signal thread ever takes these signals.
  try {
    zol::BlockControlSignals();
  } catch (const std::system_error&) {
    return SignalHandlingFailed();
  }
  // Every local time uses the zone, even when the clock set-up is skipped.
  zol::LoadTimeZone();
  zol::InstallSerialService(&zol::SystemSerialService());
  zol::InstallStdinKeys();
  zol::SetBreakKeyHook(zol::BreakKeyAtPrompt);
  zol::SetTerminalRestorer(zol::RestoreTerminal);
  try {
    zol::StartSignalThread();
  } catch (const std::system_error&) {
    return SignalHandlingFailed();
  }
  return zol::RunCommandLine(argc, argv, zol::StartSampler);
}

}  // namespace

int main(int argc, char** argv) {
  return zol::RunAsServiceOrOnConsole(argc, argv, RunSampler);
}
