// The serial port service of the platform the program runs on.
#pragma once

#include <string>

#include "link/serial_service.h"

namespace zol {

// The process-wide service. Its ports are released when the process ends.
SerialService& SystemSerialService();

// The device that port index `port` names on the system the program runs on.
std::string SystemPortPath(int port);

}  // namespace zol
