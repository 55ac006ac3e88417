// POSIX terminals under the shared serial port service (port_service.h):
// the PortSystem that opens them and the PortDevice calls on an open one.
//
// Port index i is the device named by ZOLSAMPLER_COM<i+1>, else /dev/ttyS<i>
// (serial_device.h), held exclusively, raw, with no flow control. A wait
// blocks in poll() on the device and on an eventfd the service gives to wake
// it. A device that goes away (an unplugged adapter) is reported as gone; the
// service reopens it.
#pragma once

#include <memory>

#include "link/system_serial.h"

namespace zol {

// A service of its own (tests: two owners competing for one device).
std::unique_ptr<SerialService> NewTermiosSerial();

}  // namespace zol
