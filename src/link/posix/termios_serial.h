// The serial port service over POSIX terminals.
//
// Port index i is the device named by ZOLSAMPLER_COM<i+1>, else /dev/ttyS<i>
// (serial_device.h). Ports are held exclusively, raw, with no flow control.
// Every operation may be called from several threads for the same port; the
// waits block in poll() and never hold up the other operations.
//
// A device that goes away while open (an unplugged adapter) is noticed here
// and reopened by the shared service (port_service.h).
#pragma once

#include <memory>

#include "link/system_serial.h"

namespace zol {

// A service of its own (tests: two owners competing for one device).
std::unique_ptr<SerialService> NewTermiosSerial();

}  // namespace zol
