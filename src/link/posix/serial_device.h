// One serial device on the operating system: where a port index lives, and
// opening it exclusively with the line settings the service keeps for it.
// The bookkeeping around it (queues, waits, reopening) is port_service.cpp.
#pragma once

#include <memory>
#include <string>

#include "base/posix/unique_fd.h"
#include "link/port_device.h"

namespace zol {

// Device path of port index `port` (0 is COM1): the environment variable
// ZOLSAMPLER_COM<port+1> when it is set and not empty, else /dev/ttyS<port>.
std::string SerialDevicePath(int port);

// An open device held by this process alone through an advisory lock that
// ends with the descriptor (or with the process, however it dies).
class SerialDevice {
 public:
  explicit SerialDevice(UniqueFd fd) : fd_(std::move(fd)) {}
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;

  int Fd() const { return fd_.Get(); }

 private:
  UniqueFd fd_;
};

struct DeviceOpenResult {
  std::unique_ptr<SerialDevice> device;  // null on failure
  int code = 0;                          // the serial error code on failure
  int osError = 0;                       // errno behind kSerialSystemError
};

// Opens `path` without blocking and without becoming its controlling
// terminal, takes its advisory lock (a device another sampler holds is left
// untouched and reported as already open) and applies `settings`.
DeviceOpenResult OpenSerialDevice(const std::string& path, const LineSettings& settings);

// Raw mode, the frame and (when set) the speed: 0, or an error code with
// errno in *osError.
int ApplyLineSettings(int fd, const LineSettings& settings, int* osError);
// DTR and RTS as the settings say. A device without modem lines (a
// pseudo-terminal) refuses; that is not an error for anyone.
void ApplyModemLines(int fd, const LineSettings& settings);

// True for the errors a device gives once it has gone (unplugged, hung up).
bool IsDeviceGone(int osError);

}  // namespace zol
