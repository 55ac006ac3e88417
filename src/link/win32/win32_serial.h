// COM ports under the shared serial port service (port_service.h): the
// PortSystem that opens them through the Win32 communications API and the
// PortDevice calls on an open one.
//
// Port index i is \\.\COM<i+1>, opened exclusively with overlapped I/O, raw,
// with no flow control. Every wait blocks on events (a received character,
// the wait's cancellation, the time limit); nothing polls. A port whose
// device was removed is reported as gone; the service reopens it.
#pragma once

#include <memory>

#include "link/system_serial.h"

namespace zol {

// A service of its own (tests).
std::unique_ptr<SerialService> NewWin32Serial();

}  // namespace zol
