// One COM port on Windows: its name, opening it exclusively for overlapped
// I/O, and applying the line settings the service keeps for it. The bookkeeping
// around it (queues, waits, reopening) is port_service.cpp.
#pragma once

#include <windows.h>

#include <string>

#include "base/win32/unique_handle.h"
#include "link/port_device.h"

namespace zol {

// "\\.\COM<n>" for port index `port` (0 is COM1); the prefix reaches
// COM10 and above too.
std::string ComPortPath(int port);

struct ComOpenResult {
  UniqueHandle handle;  // invalid on failure
  int code = 0;         // the serial error code on failure
  DWORD osError = 0;    // GetLastError() behind kSerialSystemError
};

// Opens the port exclusively with overlapped I/O, sets its queues, frame,
// speed (when set), modem lines, no flow control, no time limits, and
// empties both queues.
ComOpenResult OpenComPort(const std::string& path, const LineSettings& settings, int rxQueueSize,
                          int txQueueSize);

// Speed and frame through the DCB: 0, or an error code with the system's
// error in *osError.
int ApplyComSettings(HANDLE port, const LineSettings& settings, DWORD* osError);

// True for the errors a port gives once its device has gone (an adapter
// pulled from the bus, a driver that stopped).
bool IsComPortGone(DWORD osError);

}  // namespace zol
