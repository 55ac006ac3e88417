#include "app/port_setup.h"

#include <cstdlib>

#include "app/sampler_state.h"
#include "base/clock.h"
#include "base/console_out.h"
#include "link/serial_errors.h"
#include "link/serial_service.h"

namespace zol {
namespace {

constexpr int kQueueSize = 1024;
constexpr int kExitPauseMs = 2500;

}  // namespace

void InitSerialLibrary() {
  const ServiceVersion version = ReadServiceVersion();
  ConsolePrintf("Win64 WSC Version %d.%d.%d (Build %d)\n", version.major, version.minor,
                version.release, version.build);
  ConsolePrintf("Overlapped I/O is disabled\n");
  ConsolePrintf("Setting DTR & RTS on\n");
  CheckSerialResult(kSerialDefaultsPort, SerialOpen(kSerialDefaultsPort, 1, 1));
  ConsolePrintf("Setting no parity, 8 data bits, & one stop bit (8N1)\n");
  CheckSerialResult(kSerialDefaultsPort, SerialSetParams(kSerialDefaultsPort, 0, 0, 8));
}

void OpenPort(int port, int baud) {
  CheckSerialResult(port, SerialOpen(port, kQueueSize, kQueueSize));
  CheckSerialResult(port, SerialSetBaud(port, baud));
  ConsolePrintf("Port %d Flow control not set\n", port + 1);
}

void CloseSamplerPorts() {
  const SamplerState& s = Settings();
  if (s.HasCtd()) SerialClose(s.ctdPort);
  SerialClose(s.zolPort);
}

void FatalSerialError(int port, int code) {
  ReportSerialError(code, nullptr);
  // Only the port that failed; the defaults (-1) are no port at all.
  if (port >= 0) SerialClose(port);
  FatalExit(1);
}

int CheckSerialResult(int port, int result) {
  if (result < 0) FatalSerialError(port, result);
  return result;
}

void FatalExit(int status) {
  ConsolePrintf("(exiting)...\n");
  ConsoleBeep();
  PauseMs(kExitPauseMs);
  ConsoleBeep();
  // NOLINTNEXTLINE(concurrency-mt-unsafe): what other threads use is never destroyed
  std::exit(status);
}

}  // namespace zol
