#include "link/port_setup.h"

#include <cstdlib>

#include "console/console_out.h"
#include "link/clock.h"
#include "link/serial_service.h"

namespace zol {
namespace {

constexpr int kQueueSize = 1024;
constexpr int kExitPauseMs = 2500;
constexpr int kErrorTextSize = 128;

struct CodeMessage {
  int code;
  const char* text;
};

// Each text carries its own line end; "Aborted" has none.
constexpr CodeMessage kMessages[] = {
    {kSerialInvalidPort, "Invalid COM port\n"},
    {kSerialAlreadyOpen, "COM port already open\n"},
    {kSerialCannotOpen, "Cannot open COM port\n"},
    {kSerialNoMemory, "Cannot allocate memory\n"},
    {kSerialBadDefaults, "Error in default parameters\n"},
    {kSerialNoHardware, "COM port hardware not present\n"},
    {kSerialBadByteSize, "Unsupported byte size\n"},
    {kSerialBadBaud, "Unsupported baud rate\n"},
    {kSerialNotReady, "Event I/O error (virtual port not ready ?)\n"},
    {kSerialNoData, "No Data\n"},
    {kSerialOutOfRange, "Parameter out of range\n"},
    {kSerialAborted, "Aborted"},
    {kSerialNoBufferMemory, "Cannot allocate memory for buffers\n"},
    {kSerialNoThread, "Cannot start thread\n"},
    {kSerialTimedOut, "Operation timed out\n"},
};

// Only used on the way out of the program.
char g_errorText[kErrorTextSize];

}  // namespace

ServiceVersion ReadServiceVersion() {
  const int packed = SerialVersion('V');
  ServiceVersion version;
  version.build = SerialVersion('B');
  version.major = packed >> 8;
  version.minor = (packed >> 4) & 15;
  version.release = packed & 15;
  return version;
}

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

void ReportSerialError(int code, const char* heading) {
  if (heading != nullptr) ConsolePrintf("%s\n", heading);
  if (code == kSerialSystemError) {
    g_errorText[0] = '\0';
    SerialErrorText(g_errorText, kErrorTextSize);
    g_errorText[kErrorTextSize - 1] = '\0';
    ConsolePrintf("Error %s\n", g_errorText);
    return;
  }
  for (const CodeMessage& message : kMessages) {
    if (message.code == code) {
      ConsolePrintf("%s", message.text);
      return;
    }
  }
  ConsolePrintf("Unknown code %d\n", code);
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
  std::exit(status);
}

}  // namespace zol
