#include "link/posix/termios_serial.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "base/posix/unique_fd.h"
#include "link/posix/serial_device.h"
#include "link/serial_rules.h"

namespace zol {
namespace {

constexpr int kRxChunk = 256;
// A device that went away is looked for again at most this often.
constexpr int64_t kReopenIntervalMs = 1000;
// How long a write waits for room beyond the time its bytes need on the line.
constexpr int64_t kWriteSlackMs = 1000;

// The service measures its own waits; the process clock may be a test's.
int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

int ClampToInt(int64_t ms) {
  return static_cast<int>(std::clamp<int64_t>(ms, 0, INT32_MAX));
}

struct PortRecord {
  std::mutex mutex;
  bool open = false;
  // Raised by Close, so that a wait that began before it can tell.
  unsigned generation = 0;
  std::string path;
  LineSettings settings;
  // Null while the device is gone. Shared, so that a wait or a write that
  // runs outside the lock keeps its descriptor valid across a Close.
  std::shared_ptr<SerialDevice> device;
  int64_t nextReopenMs = 0;
  unsigned char rx[kRxChunk] = {};
  int rxStart = 0;
  int rxEnd = 0;
  // An eventfd that CancelWait and Close signal to wake a blocked WaitRx.
  UniqueFd wake;
  int waiters = 0;
};

class TermiosSerial final : public SerialService {
 public:
  TermiosSerial() = default;
  ~TermiosSerial() override { CloseAll(); }
  TermiosSerial(const TermiosSerial&) = delete;
  TermiosSerial& operator=(const TermiosSerial&) = delete;

  void CloseAll();

  int Open(int port, int rxQueueSize, int txQueueSize) override;
  int Close(int port) override;
  int SetBaud(int port, int baud) override;
  int SetParams(int port, int parity, int stopBits, int dataBits) override;
  int Putc(int port, int ch) override;
  int Write(int port, const char* buf, int len) override;
  int Getc(int port) override;
  int RxCount(int port) override;
  int TxCount(int port) override;
  int RxClear(int port) override;
  int Break(int port, int cmd) override;
  int Line(int port, int cmd) override;
  int Version(int selector) override;
  int ErrorText(char* buf, int len) override;
  int WaitRx(int port, int timeoutMs) override;
  int WaitTxEmpty(int port, int timeoutMs) override;
  void CancelWait(int port) override;

 private:
  PortRecord* Record(int port) {
    return port >= 0 && port < kSerialMaxPorts ? &ports_[static_cast<size_t>(port)] : nullptr;
  }
  LineSettings Defaults() {
    std::lock_guard lock(defaultsMutex_);
    return defaults_;
  }
  int SystemError(int osError) {
    lastError_.store(osError);
    return kSerialSystemError;
  }

  // The port's device, reopened first when it had gone and a retry is due.
  // Null while it stays gone. The caller holds the record's lock.
  std::shared_ptr<SerialDevice> DeviceLocked(PortRecord& r);
  void MarkGoneLocked(PortRecord& r, const std::shared_ptr<SerialDevice>& device);
  // A failed device call: a device that went away is noted and the call
  // counts as done quietly (0); anything else is an operating-system error.
  int DeviceFailureLocked(PortRecord& r, const std::shared_ptr<SerialDevice>& device, int osError);
  // Reads into the receive buffer when it is empty. Bytes buffered, or an
  // error code.
  int FillLocked(PortRecord& r);
  int CountWaitingLocked(PortRecord& r);
  static void EnsureWakeLocked(PortRecord& r);
  static void Wake(PortRecord& r);
  // Runs `body` on the record of an open port, under its lock.
  template <typename Body>
  int WithOpenPort(int port, Body body);
  // Applies `change` to the port's settings; kept for a reopen even while
  // the device is gone.
  template <typename Change>
  int Reconfigure(int port, Change change);
  // Runs `call` on the open device; 0 when the device is gone.
  template <typename Call>
  int WithDevice(int port, Call call);

  std::mutex defaultsMutex_;
  LineSettings defaults_;
  std::array<PortRecord, kSerialMaxPorts> ports_;
  std::atomic<int> lastError_{0};
};

std::shared_ptr<SerialDevice> TermiosSerial::DeviceLocked(PortRecord& r) {
  if (r.device || !r.open) return r.device;
  const int64_t now = NowMs();
  if (now < r.nextReopenMs) return nullptr;
  r.nextReopenMs = now + kReopenIntervalMs;
  DeviceOpenResult reopened = OpenSerialDevice(r.path, r.settings);
  if (reopened.device) r.device = std::move(reopened.device);
  return r.device;
}

void TermiosSerial::MarkGoneLocked(PortRecord& r, const std::shared_ptr<SerialDevice>& device) {
  if (!device || r.device != device) return;
  r.device.reset();
  r.nextReopenMs = NowMs() + kReopenIntervalMs;
}

int TermiosSerial::DeviceFailureLocked(PortRecord& r, const std::shared_ptr<SerialDevice>& device,
                                       int osError) {
  if (!IsDeviceGone(osError)) return SystemError(osError);
  MarkGoneLocked(r, device);
  return 0;
}

int TermiosSerial::FillLocked(PortRecord& r) {
  if (r.rxEnd > r.rxStart) return r.rxEnd - r.rxStart;
  r.rxStart = r.rxEnd = 0;
  std::shared_ptr<SerialDevice> device = DeviceLocked(r);
  if (!device) return 0;
  const ssize_t n = ::read(device->Fd(), r.rx, sizeof r.rx);
  if (n > 0) {
    r.rxEnd = static_cast<int>(n);
    return r.rxEnd;
  }
  if (n == 0) {  // hung up
    MarkGoneLocked(r, device);
    return 0;
  }
  if (errno == EAGAIN || errno == EINTR) return 0;
  return DeviceFailureLocked(r, device, errno);
}

int TermiosSerial::CountWaitingLocked(PortRecord& r) {
  const int buffered = r.rxEnd - r.rxStart;
  std::shared_ptr<SerialDevice> device = DeviceLocked(r);
  if (!device) return buffered;
  int queued = 0;
  if (::ioctl(device->Fd(), FIONREAD, &queued) != 0) {
    if (IsDeviceGone(errno)) MarkGoneLocked(r, device);
    return buffered;
  }
  return buffered + queued;
}

void TermiosSerial::EnsureWakeLocked(PortRecord& r) {
  if (!r.wake.Valid()) r.wake.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
}

void TermiosSerial::Wake(PortRecord& r) {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(r.wake.Get(), &one, sizeof one);
}

template <typename Body>
int TermiosSerial::WithOpenPort(int port, Body body) {
  PortRecord* r = Record(port);
  if (r == nullptr) return kSerialInvalidPort;
  std::lock_guard lock(r->mutex);
  if (!r->open) return kSerialInvalidPort;
  return body(*r);
}

template <typename Change>
int TermiosSerial::Reconfigure(int port, Change change) {
  return WithOpenPort(port, [&](PortRecord& r) {
    LineSettings next = r.settings;
    change(next);
    if (std::shared_ptr<SerialDevice> device = DeviceLocked(r)) {
      int osError = 0;
      const int code = ApplyLineSettings(device->Fd(), next, &osError);
      if (code < 0 && IsDeviceGone(osError)) {
        MarkGoneLocked(r, device);
      } else if (code < 0) {
        if (code == kSerialSystemError) lastError_.store(osError);
        return code;
      }
    }
    r.settings = next;
    return 0;
  });
}

template <typename Call>
int TermiosSerial::WithDevice(int port, Call call) {
  return WithOpenPort(port, [&](PortRecord& r) {
    std::shared_ptr<SerialDevice> device = DeviceLocked(r);
    if (!device) return 0;
    const int result = call(r, device->Fd());
    return result < 0 ? DeviceFailureLocked(r, device, errno) : result;
  });
}

void TermiosSerial::CloseAll() {
  for (int port = 0; port < kSerialMaxPorts; ++port)
    Close(port);
}

int TermiosSerial::Open(int port, int rxQueueSize, int txQueueSize) {
  if (port == kSerialDefaultsPort) {
    // For the defaults the two sizes are the DTR and RTS flags.
    std::lock_guard lock(defaultsMutex_);
    defaults_.dtr = rxQueueSize != 0;
    defaults_.rts = txQueueSize != 0;
    return 0;
  }
  PortRecord* r = Record(port);
  if (r == nullptr) return kSerialInvalidPort;
  const LineSettings settings = Defaults();
  std::lock_guard lock(r->mutex);
  if (r->open) return kSerialAlreadyOpen;
  std::string path = SerialDevicePath(port);
  DeviceOpenResult opened = OpenSerialDevice(path, settings);
  if (!opened.device) {
    if (opened.osError != 0) lastError_.store(opened.osError);
    return opened.code;
  }
  r->open = true;
  r->path = std::move(path);
  r->settings = settings;
  r->device = std::move(opened.device);
  r->nextReopenMs = 0;
  r->rxStart = r->rxEnd = 0;
  return 0;
}

int TermiosSerial::Close(int port) {
  return WithOpenPort(port, [](PortRecord& r) {
    r.open = false;
    ++r.generation;
    r.device.reset();
    r.rxStart = r.rxEnd = 0;
    if (r.waiters > 0) Wake(r);
    return 0;
  });
}

int TermiosSerial::SetBaud(int port, int baud) {
  if (port != kSerialDefaultsPort && Record(port) == nullptr) return kSerialInvalidPort;
  if (!IsSupportedBaud(baud)) return kSerialBadBaud;
  if (port == kSerialDefaultsPort) {
    std::lock_guard lock(defaultsMutex_);
    defaults_.baud = baud;
    return 0;
  }
  return Reconfigure(port, [baud](LineSettings& s) { s.baud = baud; });
}

int TermiosSerial::SetParams(int port, int parity, int stopBits, int dataBits) {
  if (port != kSerialDefaultsPort && Record(port) == nullptr) return kSerialInvalidPort;
  if (const int code = CheckFrame(parity, stopBits, dataBits); code < 0) return code;
  const auto change = [=](LineSettings& s) {
    s.parity = parity;
    s.stopBits = stopBits;
    s.dataBits = dataBits;
  };
  if (port == kSerialDefaultsPort) {
    std::lock_guard lock(defaultsMutex_);
    change(defaults_);
    return 0;
  }
  return Reconfigure(port, change);
}

int TermiosSerial::Putc(int port, int ch) {
  const char byte = static_cast<char>(ch);
  const int sent = Write(port, &byte, 1);
  return sent < 0 ? sent : 0;
}

int TermiosSerial::Write(int port, const char* buf, int len) {
  PortRecord* r = Record(port);
  if (r == nullptr) return kSerialInvalidPort;
  if (len < 0 || (buf == nullptr && len > 0)) return kSerialOutOfRange;
  int written = 0;
  int64_t deadline = -1;
  while (written < len) {
    std::shared_ptr<SerialDevice> device;
    int baud = 0;
    {
      std::lock_guard lock(r->mutex);
      if (!r->open) return written > 0 ? written : kSerialInvalidPort;
      device = DeviceLocked(*r);
      baud = r->settings.baud;
    }
    if (!device) return written;  // dropped while the device is gone
    const ssize_t n = ::write(device->Fd(), buf + written, static_cast<size_t>(len - written));
    if (n > 0) {
      written += static_cast<int>(n);
      continue;
    }
    const int error = n < 0 ? errno : EAGAIN;
    if (error == EINTR) continue;
    if (error != EAGAIN) {
      std::lock_guard lock(r->mutex);
      const int code = DeviceFailureLocked(*r, device, error);
      return code < 0 && written == 0 ? code : written;
    }
    // The kernel's queue is full: wait for room, but never longer than the
    // bytes need on the line plus some slack.
    const int64_t now = NowMs();
    if (deadline < 0) deadline = now + LineTimeMs(len - written, baud) + kWriteSlackMs;
    if (now >= deadline) break;
    pollfd room{device->Fd(), POLLOUT, 0};
    ::poll(&room, 1, ClampToInt(deadline - now));
  }
  return written;
}

int TermiosSerial::Getc(int port) {
  return WithOpenPort(port, [this](PortRecord& r) {
    const int buffered = FillLocked(r);
    if (buffered <= 0) return buffered < 0 ? buffered : static_cast<int>(kSerialNoData);
    return static_cast<int>(r.rx[r.rxStart++]);
  });
}

int TermiosSerial::RxCount(int port) {
  return WithOpenPort(port, [this](PortRecord& r) { return CountWaitingLocked(r); });
}

int TermiosSerial::TxCount(int port) {
  return WithDevice(port, [](PortRecord&, int fd) {
    int pending = 0;
    return ::ioctl(fd, TIOCOUTQ, &pending) == 0 ? pending : -1;
  });
}

int TermiosSerial::RxClear(int port) {
  return WithDevice(port, [](PortRecord& r, int fd) {
    r.rxStart = r.rxEnd = 0;
    return ::tcflush(fd, TCIFLUSH);
  });
}

int TermiosSerial::Break(int port, int cmd) {
  if (cmd != 'A' && cmd != 'C') return kSerialOutOfRange;
  return WithDevice(
      port, [cmd](PortRecord&, int fd) { return ::ioctl(fd, cmd == 'A' ? TIOCSBRK : TIOCCBRK); });
}

int TermiosSerial::Line(int port, int cmd) {
  if (cmd != 'S' && cmd != 'C') return kSerialOutOfRange;
  PortRecord* r = Record(port);
  if (r == nullptr) return kSerialInvalidPort;
  {
    // Kept even while the device is gone, for its reopening.
    std::lock_guard lock(r->mutex);
    if (r->open) r->settings.dtr = cmd == 'S';
  }
  return WithDevice(port, [cmd](PortRecord&, int fd) {
    int dtr = TIOCM_DTR;
    return ::ioctl(fd, cmd == 'S' ? TIOCMBIS : TIOCMBIC, &dtr);
  });
}

int TermiosSerial::Version(int selector) {
  return ServiceVersion(selector);
}

int TermiosSerial::ErrorText(char* buf, int len) {
  if (buf == nullptr || len <= 0) return 0;
  char text[128];
  const char* message = ::strerror_r(lastError_.load(), text, sizeof text);
  std::snprintf(buf, static_cast<size_t>(len), "%s", message);
  return static_cast<int>(std::strlen(buf));
}

int TermiosSerial::WaitRx(int port, int timeoutMs) {
  PortRecord* r = Record(port);
  if (r == nullptr) return kSerialInvalidPort;
  const int64_t deadline = NowMs() + std::max(timeoutMs, 0);
  unsigned generation = 0;
  int wakeFd = -1;
  {
    std::lock_guard lock(r->mutex);
    if (!r->open) return kSerialInvalidPort;
    EnsureWakeLocked(*r);
    ++r->waiters;
    generation = r->generation;
    wakeFd = r->wake.Get();
  }
  struct WaiterCount {
    PortRecord& r;
    ~WaiterCount() {
      std::lock_guard lock(r.mutex);
      --r.waiters;
    }
  } waiterCount{*r};

  std::shared_ptr<SerialDevice> hungUp;
  bool polled = false;
  for (;;) {
    std::shared_ptr<SerialDevice> device;
    int64_t reopenAtMs = 0;
    {
      std::lock_guard lock(r->mutex);
      if (!r->open || r->generation != generation) return kSerialInvalidPort;
      if (const int filled = FillLocked(*r); filled < 0) return filled;
      if (const int waiting = CountWaitingLocked(*r); waiting > 0) return waiting;
      // A hang-up that left nothing to read: the device has gone.
      MarkGoneLocked(*r, hungUp);
      device = r->device;
      reopenAtMs = r->nextReopenMs;
    }
    const int64_t now = NowMs();
    int64_t timeout = std::max<int64_t>(deadline - now, 0);
    if (timeout == 0 && polled) return 0;
    // While the device is gone the wait wakes up to look for it again.
    if (!device) timeout = std::min(timeout, std::max<int64_t>(reopenAtMs - now, 0));
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {device ? device->Fd() : -1, POLLIN, 0}};
    if (::poll(fds, 2, ClampToInt(timeout)) < 0 && errno != EINTR) return SystemError(errno);
    polled = true;
    if ((fds[0].revents & POLLIN) != 0) {
      uint64_t count = 0;
      if (::read(wakeFd, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
        std::lock_guard lock(r->mutex);
        return r->open && r->generation == generation ? 0 : kSerialInvalidPort;
      }
    }
    hungUp = (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 ? device : nullptr;
  }
}

int TermiosSerial::WaitTxEmpty(int port, int timeoutMs) {
  const int64_t deadline = NowMs() + std::max(timeoutMs, 0);
  for (;;) {
    const int pending = TxCount(port);
    if (pending <= 0) return pending;
    int baud = 0;
    {
      PortRecord& r = *Record(port);
      std::lock_guard lock(r.mutex);
      baud = r.settings.baud;
    }
    const int64_t now = NowMs();
    if (now >= deadline) return kSerialTimedOut;
    // Sleep for as long as the queued bytes need on the line, then look again.
    const int64_t nap = std::clamp<int64_t>(LineTimeMs(pending, baud), 1, deadline - now);
    std::this_thread::sleep_for(std::chrono::milliseconds(nap));
  }
}

void TermiosSerial::CancelWait(int port) {
  PortRecord* r = Record(port);
  if (r == nullptr) return;
  std::lock_guard lock(r->mutex);
  EnsureWakeLocked(*r);
  Wake(*r);
}

TermiosSerial& ProcessService() {
  // Never destroyed: a thread still inside a call when the process ends must
  // find a live object. The ports themselves are released at exit.
  static TermiosSerial* const service = new TermiosSerial();
  return *service;
}

void CloseProcessPorts() {
  ProcessService().CloseAll();
}

}  // namespace

SerialService& SystemSerialService() {
  static const bool closedAtExit = std::atexit(CloseProcessPorts) == 0;
  static_cast<void>(closedAtExit);
  return ProcessService();
}

std::unique_ptr<SerialService> NewTermiosSerial() {
  return std::make_unique<TermiosSerial>();
}

}  // namespace zol
