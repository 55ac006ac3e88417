// What the serial port service's error codes mean to the operator, and the
// service's version. Reports only: deciding to end the program is the
// application's.
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

// Prints the heading (when given) and the message for the code.
void ReportSerialError(int code, const char* heading);

}  // namespace zol
