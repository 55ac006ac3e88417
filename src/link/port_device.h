// What the shared serial port service (port_service.h) needs from the
// operating system: opening a device by port index, and the few calls on an
// open one. The service keeps every piece of bookkeeping (ports, defaults,
// buffers, waiters, reopening a device that went away); a platform's file
// holds only what talks to its system.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zol {

// How a port is set up. The service keeps one per port so that later changes
// start from it and a device that went away is reopened exactly as it was.
struct LineSettings {
  int baud = 0;      // 0: the device keeps the speed it has
  int parity = 0;    // 0 none, 1 odd, 2 even
  int stopBits = 0;  // 0 one, 2 two
  int dataBits = 8;
  bool dtr = false;
  bool rts = false;
};

// How one device call ended.
struct DeviceIo {
  enum class Status { kDone, kGone, kFailed };
  Status status = Status::kDone;
  int count = 0;         // kDone: the bytes moved or the count asked for
  uint32_t osError = 0;  // kFailed: the system's error

  static DeviceIo Done(int count = 0) { return {Status::kDone, count, 0}; }
  static DeviceIo Gone() { return {Status::kGone, 0, 0}; }
  static DeviceIo Failed(uint32_t osError) { return {Status::kFailed, 0, osError}; }
};

// How a blocking wait for received bytes ended.
struct DeviceWait {
  bool woken = false;    // the port's wake-up was given
  bool gone = false;     // the device hung up
  uint32_t osError = 0;  // not 0: the wait itself failed
  // A byte the wait took off the line while waiting; the service keeps it.
  unsigned char taken = 0;
  bool tookByte = false;
};

// Wakes a blocked wait of one port (CancelWait, Close). Lives as long as the
// port's record, across reopenings of its device.
class PortWake {
 public:
  virtual ~PortWake() = default;
  virtual void Give() = 0;
  // Forgets a wake-up that no wait took.
  virtual void Clear() = 0;
  // Blocks until the wake-up is given or `timeoutMs` passes (the device is
  // gone meanwhile).
  virtual DeviceWait Wait(int timeoutMs) = 0;
};

// One open device, held by this process alone until it is dropped.
class PortDevice {
 public:
  virtual ~PortDevice() = default;
  // Up to `len` bytes that have arrived; never waits (count 0: none).
  virtual DeviceIo Read(unsigned char* buf, int len) = 0;
  // Bytes the driver holds received, and not yet sent.
  virtual DeviceIo Received() = 0;
  virtual DeviceIo Unsent() = 0;
  // Writes what it can of `buf`, waiting at most `limitMs` for room.
  virtual DeviceIo Write(const char* buf, int len, int64_t limitMs) = 0;
  virtual DeviceIo Apply(const LineSettings& settings) = 0;
  virtual DeviceIo ClearReceived() = 0;
  virtual DeviceIo SetBreak(bool on) = 0;
  virtual DeviceIo SetDtr(bool on) = 0;
  // Blocks until bytes arrive, `wake` is given or `timeoutMs` passes.
  virtual DeviceWait Await(PortWake& wake, int timeoutMs) = 0;
};

struct DeviceOpen {
  std::unique_ptr<PortDevice> device;  // null on failure
  int code = 0;                        // the serial error code on failure
  uint32_t osError = 0;                // the system's error behind it
};

// The operating system's side of the service.
class PortSystem {
 public:
  virtual ~PortSystem() = default;
  // Where port index `port` (0 is COM1) lives, read when the port is opened.
  virtual std::string Path(int port) = 0;
  // Opens `path` exclusively and applies `settings` (the two sizes are the
  // driver's queues where it has them).
  virtual DeviceOpen Open(const std::string& path, const LineSettings& settings, int rxQueueSize,
                          int txQueueSize) = 0;
  virtual std::unique_ptr<PortWake> NewWake() = 0;
  // The system's text for `osError`, bounded by `len`.
  virtual void ErrorText(uint32_t osError, char* buf, int len) = 0;
};

// The system the program runs on (posix/ or win32/).
std::unique_ptr<PortSystem> NewSystemPorts();

}  // namespace zol
