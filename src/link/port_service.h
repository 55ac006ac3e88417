// The serial port service over a platform's devices (port_device.h).
//
// Every operation may be called from several threads for the same port; the
// waits block on the device or on the port's wake-up and never hold up the
// other operations.
//
// A device that goes away while open (an unplugged adapter) is noticed; the
// port then stays quiet (nothing received, writes dropped) and is looked for
// about once a second, to be reopened with the same speed, frame and modem
// lines as soon as it is back.
#pragma once

#include <memory>

#include "link/port_device.h"
#include "link/serial_service.h"

namespace zol {

// A service of its own over `system` (tests: two owners of one device).
std::unique_ptr<SerialService> NewPortService(std::unique_ptr<PortSystem> system);

}  // namespace zol
