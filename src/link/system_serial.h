// The serial port service of the platform the program runs on.
#pragma once

#include "link/serial_service.h"

namespace zol {

// The process-wide service. Its ports are released when the process ends.
SerialService& SystemSerialService();

}  // namespace zol
