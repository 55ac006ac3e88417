#include "link/serial_errors.h"

#include "base/console_out.h"
#include "link/serial_service.h"

namespace zol {
namespace {

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

void ReportSerialError(int code, const char* heading) {
  if (heading != nullptr) ConsolePrintf("%s\n", heading);
  if (code == kSerialSystemError) {
    char text[kErrorTextSize] = {};
    SerialErrorText(text, kErrorTextSize);
    text[kErrorTextSize - 1] = '\0';
    ConsolePrintf("Error %s\n", text);
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

}  // namespace zol
