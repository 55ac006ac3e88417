#include "link/posix/termios_serial.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/posix/unique_fd.h"
#include "link/port_service.h"
#include "link/posix/serial_device.h"

namespace zol {
namespace {

int ClampToInt(int64_t ms) {
  return static_cast<int>(std::clamp<int64_t>(ms, 0, INT32_MAX));
}

// A failed call's errno: a device that has gone, or the system's error.
DeviceIo Failure(int osError) {
  return IsDeviceGone(osError) ? DeviceIo::Gone()
                               : DeviceIo::Failed(static_cast<uint32_t>(osError));
}

DeviceIo Checked(int result) {
  return result < 0 ? Failure(errno) : DeviceIo::Done();
}

// An eventfd: readable once given, until a wait reads it.
class EventFdWake final : public PortWake {
 public:
  EventFdWake() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

  void Give() override {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(fd_.Get(), &one, sizeof one);
  }
  void Clear() override { Take(); }
  DeviceWait Wait(int timeoutMs) override { return PollWith(-1, timeoutMs); }

  // Polls the wake-up and `deviceFd` (-1: none) for input.
  DeviceWait PollWith(int deviceFd, int timeoutMs) {
    DeviceWait result;
    pollfd fds[2] = {{fd_.Get(), POLLIN, 0}, {deviceFd, POLLIN, 0}};
    if (::poll(fds, 2, timeoutMs) < 0) {
      if (errno != EINTR) result.osError = static_cast<uint32_t>(errno);
      return result;
    }
    result.woken = (fds[0].revents & POLLIN) != 0 && Take();
    result.gone = (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    return result;
  }

 private:
  bool Take() {
    uint64_t count = 0;
    return ::read(fd_.Get(), &count, sizeof count) == static_cast<ssize_t>(sizeof count);
  }

  UniqueFd fd_;
};

class TermiosDevice final : public PortDevice {
 public:
  explicit TermiosDevice(std::unique_ptr<SerialDevice> device) : device_(std::move(device)) {}

  DeviceIo Read(unsigned char* buf, int len) override {
    const ssize_t n = ::read(Fd(), buf, static_cast<size_t>(len));
    if (n > 0) return DeviceIo::Done(static_cast<int>(n));
    if (n == 0) return DeviceIo::Gone();  // hung up
    if (errno == EAGAIN || errno == EINTR) return DeviceIo::Done();
    return Failure(errno);
  }
  DeviceIo Received() override { return Queue(FIONREAD); }
  DeviceIo Unsent() override { return Queue(TIOCOUTQ); }

  DeviceIo Write(const char* buf, int len, int64_t limitMs) override {
    const ssize_t n = ::write(Fd(), buf, static_cast<size_t>(len));
    if (n > 0) return DeviceIo::Done(static_cast<int>(n));
    const int error = n < 0 ? errno : EAGAIN;
    if (error == EINTR) return DeviceIo::Done();
    if (error != EAGAIN) return Failure(error);
    // The kernel's queue is full: wait for room.
    pollfd room{Fd(), POLLOUT, 0};
    ::poll(&room, 1, ClampToInt(limitMs));
    return DeviceIo::Done();
  }

  DeviceIo Apply(const LineSettings& settings) override {
    int osError = 0;
    const int code = ApplyLineSettings(Fd(), settings, &osError);
    if (code == 0) return DeviceIo::Done();
    if (IsDeviceGone(osError)) return DeviceIo::Gone();
    DeviceIo failed = DeviceIo::Failed(static_cast<uint32_t>(osError));
    if (code != kSerialSystemError) failed.count = code;
    return failed;
  }
  DeviceIo ClearReceived() override { return Checked(::tcflush(Fd(), TCIFLUSH)); }
  DeviceIo SetBreak(bool on) override { return Checked(::ioctl(Fd(), on ? TIOCSBRK : TIOCCBRK)); }
  DeviceIo SetDtr(bool on) override {
    int dtr = TIOCM_DTR;
    return Checked(::ioctl(Fd(), on ? TIOCMBIS : TIOCMBIC, &dtr));
  }

  DeviceWait Await(PortWake& wake, int timeoutMs) override {
    // The service's wakes are all of this system's making.
    return static_cast<EventFdWake&>(wake).PollWith(Fd(), timeoutMs);
  }

 private:
  int Fd() const { return device_->Fd(); }
  DeviceIo Queue(unsigned long request) {
    int count = 0;
    return ::ioctl(Fd(), request, &count) == 0 ? DeviceIo::Done(count) : Failure(errno);
  }

  std::unique_ptr<SerialDevice> device_;
};

class TermiosPorts final : public PortSystem {
 public:
  std::string Path(int port) override { return SerialDevicePath(port); }

  DeviceOpen Open(const std::string& path, const LineSettings& settings, int, int) override {
    DeviceOpenResult opened = OpenSerialDevice(path, settings);
    DeviceOpen result;
    result.code = opened.code;
    result.osError = static_cast<uint32_t>(opened.osError);
    if (opened.device) result.device = std::make_unique<TermiosDevice>(std::move(opened.device));
    return result;
  }

  std::unique_ptr<PortWake> NewWake() override { return std::make_unique<EventFdWake>(); }

  void ErrorText(uint32_t osError, char* buf, int len) override {
    char text[128];
    const char* message = ::strerror_r(static_cast<int>(osError), text, sizeof text);
    std::snprintf(buf, static_cast<size_t>(len), "%s", message);
  }
};

}  // namespace

std::unique_ptr<PortSystem> NewSystemPorts() {
  return std::make_unique<TermiosPorts>();
}

std::unique_ptr<SerialService> NewTermiosSerial() {
  return NewPortService(NewSystemPorts());
}

}  // namespace zol
