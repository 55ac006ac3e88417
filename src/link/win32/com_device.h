// One COM port on Windows: its name, opening it exclusively for overlapped
// I/O, and the line settings the service keeps for it. The bookkeeping
// around it (queues, waits, cancellation) is win32_serial.cpp.
#pragma once

#include <windows.h>

#include <string>

#include "base/win32/unique_handle.h"

namespace zol {

// How a port is set up; kept per port so that later changes start from it.
struct ComSettings {
  int baud = 0;      // 0: the port keeps the speed it has
  int parity = 0;    // 0 none, 1 odd, 2 even
  int stopBits = 0;  // 0 one, 2 two
  int dataBits = 8;
  bool dtr = false;
  bool rts = false;
};

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
ComOpenResult OpenComPort(const std::string& path, const ComSettings& settings, int rxQueueSize,
                          int txQueueSize);

// Speed and frame through the DCB: 0, or an error code with the system's
// error in *osError.
int ApplyComSettings(HANDLE port, const ComSettings& settings, DWORD* osError);

}  // namespace zol
