// The serial port service over the Win32 communications API.
//
// Port index i is \\.\COM<i+1>, opened exclusively with overlapped I/O, raw,
// with no flow control. Every wait blocks on events (a received character,
// the wait's cancellation, the time limit); nothing polls. A port whose
// device was removed is reopened by the shared service (port_service.h).
#pragma once

#include <memory>

#include "link/system_serial.h"

namespace zol {

// A service of its own (tests).
std::unique_ptr<SerialService> NewWin32Serial();

}  // namespace zol
