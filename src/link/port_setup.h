// Starting the serial port service, opening the two ports, and the one place
// where a failure of the service is reported and the program ends.
#pragma once

namespace zol {

// The serial service's version, unpacked, and its build number.
struct ServiceVersion {
  int major = 0;
  int minor = 0;
  int release = 0;
  int build = 0;
};
// Asks the service for its version, then for its build number.
ServiceVersion ReadServiceVersion();

void InitSerialLibrary();
void OpenPort(int port, int baud);
// Prints the heading (when given) and the message for the code.
void ReportSerialError(int code, const char* heading);
[[noreturn]] void FatalSerialError(int port, int code);
// The result itself when >= 0; otherwise FatalSerialError(port, result).
int CheckSerialResult(int port, int result);
// "(exiting)...", a beep, 2.5 s, a beep, exit(status).
[[noreturn]] void FatalExit(int status);

}  // namespace zol
