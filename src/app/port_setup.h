// Starting the serial port service, opening and closing the two ports, and
// the one place where a failure of the service ends the program.
#pragma once

#include "link/serial_errors.h"

namespace zol {

void InitSerialLibrary();
void OpenPort(int port, int baud);
// The sampler's ports closed in their documented order: the CTD port (when
// there is one), then the ZOL port.
void CloseSamplerPorts();
[[noreturn]] void FatalSerialError(int port, int code);
// The result itself when >= 0; otherwise FatalSerialError(port, result).
int CheckSerialResult(int port, int result);
// "(exiting)...", a beep, 2.5 s, a beep, exit(status).
[[noreturn]] void FatalExit(int status);

}  // namespace zol
