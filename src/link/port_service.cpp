#include "link/port_service.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "link/serial_rules.h"
#include "link/system_serial.h"

namespace zol {
namespace {

// Bytes one read takes; the buffer also holds what a wait takes off the line
// while a Getc on another thread reads.
constexpr int kRxChunk = 256;
constexpr int kRxBufferSize = 4 * kRxChunk;
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
  int rxQueueSize = 0;
  int txQueueSize = 0;
  LineSettings settings;
  // Null while the device is gone. Shared, so that a wait or a write that
  // runs outside the lock keeps the device valid across a Close.
  std::shared_ptr<PortDevice> device;
  int64_t nextReopenMs = 0;
  unsigned char rx[kRxBufferSize] = {};
  int rxStart = 0;
  int rxEnd = 0;
  // Given by CancelWait and Close to wake a blocked WaitRx.
  std::unique_ptr<PortWake> wake;
  int waiters = 0;
};

class PortService final : public SerialService {
 public:
  explicit PortService(std::unique_ptr<PortSystem> system) : system_(std::move(system)) {}
  ~PortService() override { CloseAll(); }
  PortService(const PortService&) = delete;
  PortService& operator=(const PortService&) = delete;

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
  int SystemError(uint32_t osError) {
    lastError_.store(osError);
    return kSerialSystemError;
  }

  // The port's device, reopened first when it had gone and a retry is due.
  // Null while it stays gone. The caller holds the record's lock.
  std::shared_ptr<PortDevice> DeviceLocked(PortRecord& r);
  static void MarkGoneLocked(PortRecord& r, const std::shared_ptr<PortDevice>& device);
  // A device call that did not get done: a device that went away is noted
  // and the call counts as done quietly (0); anything else is the system's
  // error.
  int FailureLocked(PortRecord& r, const std::shared_ptr<PortDevice>& device, const DeviceIo& io);
  // Reads into the receive buffer when it is empty. Bytes buffered, or an
  // error code.
  int FillLocked(PortRecord& r);
  int CountWaitingLocked(PortRecord& r);
  void EnsureWakeLocked(PortRecord& r);
  static void KeepLocked(PortRecord& r, unsigned char byte);
  // Runs `body` on the record of an open port, under its lock.
  template <typename Body>
  int WithOpenPort(int port, Body body);
  // Applies `change` to the port's settings; kept for a reopen even while
  // the device is gone.
  template <typename Change>
  int Reconfigure(int port, Change change);
  // Applies `change` to the defaults (port kSerialDefaultsPort) or to an
  // open port, once `check` (0 or an error code) lets it.
  template <typename Change>
  int ChangeSettings(int port, int check, Change change);
  // Runs `call` on the open device; 0 when the device is gone.
  template <typename Call>
  int WithDevice(int port, Call call);

  std::unique_ptr<PortSystem> system_;
  std::mutex defaultsMutex_;
  LineSettings defaults_;
  std::array<PortRecord, kSerialMaxPorts> ports_;
  std::atomic<uint32_t> lastError_{0};
};

std::shared_ptr<PortDevice> PortService::DeviceLocked(PortRecord& r) {
  if (r.device || !r.open) return r.device;
  const int64_t now = NowMs();
  if (now < r.nextReopenMs) return nullptr;
  r.nextReopenMs = now + kReopenIntervalMs;
  DeviceOpen reopened = system_->Open(r.path, r.settings, r.rxQueueSize, r.txQueueSize);
  if (reopened.device) r.device = std::move(reopened.device);
  return r.device;
}

void PortService::MarkGoneLocked(PortRecord& r, const std::shared_ptr<PortDevice>& device) {
  if (!device || r.device != device) return;
  r.device.reset();
  r.nextReopenMs = NowMs() + kReopenIntervalMs;
}

int PortService::FailureLocked(PortRecord& r, const std::shared_ptr<PortDevice>& device,
                               const DeviceIo& io) {
  if (io.status != DeviceIo::Status::kGone) return SystemError(io.osError);
  MarkGoneLocked(r, device);
  return 0;
}

int PortService::FillLocked(PortRecord& r) {
  if (r.rxEnd > r.rxStart) return r.rxEnd - r.rxStart;
  r.rxStart = r.rxEnd = 0;
  std::shared_ptr<PortDevice> device = DeviceLocked(r);
  if (!device) return 0;
  const DeviceIo io = device->Read(r.rx, kRxChunk);
  if (io.status != DeviceIo::Status::kDone) return FailureLocked(r, device, io);
  r.rxEnd = io.count;
  return r.rxEnd;
}

int PortService::CountWaitingLocked(PortRecord& r) {
  const int buffered = r.rxEnd - r.rxStart;
  std::shared_ptr<PortDevice> device = DeviceLocked(r);
  if (!device) return buffered;
  const DeviceIo io = device->Received();
  if (io.status == DeviceIo::Status::kGone) MarkGoneLocked(r, device);
  if (io.status != DeviceIo::Status::kDone) return buffered;
  return buffered + std::min(io.count, INT32_MAX / 2);
}

void PortService::EnsureWakeLocked(PortRecord& r) {
  if (!r.wake) r.wake = system_->NewWake();
}

void PortService::KeepLocked(PortRecord& r, unsigned char byte) {
  const int held = r.rxEnd - r.rxStart;
  if (held >= kRxBufferSize) return;
  std::memmove(r.rx, r.rx + r.rxStart, static_cast<size_t>(held));
  r.rxStart = 0;
  r.rx[held] = byte;
  r.rxEnd = held + 1;
}

template <typename Body>
int PortService::WithOpenPort(int port, Body body) {
  PortRecord* r = Record(port);
  if (r == nullptr) return kSerialInvalidPort;
  std::lock_guard lock(r->mutex);
  if (!r->open) return kSerialInvalidPort;
  return body(*r);
}

template <typename Change>
int PortService::Reconfigure(int port, Change change) {
  return WithOpenPort(port, [&](PortRecord& r) {
    LineSettings next = r.settings;
    change(next);
    if (std::shared_ptr<PortDevice> device = DeviceLocked(r)) {
      const DeviceIo io = device->Apply(next);
      if (io.status == DeviceIo::Status::kGone) {
        MarkGoneLocked(r, device);
      } else if (io.status == DeviceIo::Status::kFailed) {
        return io.count < 0 ? io.count : SystemError(io.osError);
      }
    }
    r.settings = next;
    return 0;
  });
}

template <typename Change>
int PortService::ChangeSettings(int port, int check, Change change) {
  if (port != kSerialDefaultsPort && Record(port) == nullptr) return kSerialInvalidPort;
  if (check < 0) return check;
  if (port == kSerialDefaultsPort) {
    std::lock_guard lock(defaultsMutex_);
    change(defaults_);
    return 0;
  }
  return Reconfigure(port, change);
}

template <typename Call>
int PortService::WithDevice(int port, Call call) {
  return WithOpenPort(port, [&](PortRecord& r) {
    std::shared_ptr<PortDevice> device = DeviceLocked(r);
    if (!device) return 0;
    const DeviceIo io = call(r, *device);
    return io.status == DeviceIo::Status::kDone ? io.count : FailureLocked(r, device, io);
  });
}

void PortService::CloseAll() {
  for (int port = 0; port < kSerialMaxPorts; ++port)
    Close(port);
}

int PortService::Open(int port, int rxQueueSize, int txQueueSize) {
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
  std::string path = system_->Path(port);
  DeviceOpen opened = system_->Open(path, settings, rxQueueSize, txQueueSize);
  if (!opened.device) {
    if (opened.osError != 0) lastError_.store(opened.osError);
    return opened.code;
  }
  r->open = true;
  r->path = std::move(path);
  r->rxQueueSize = rxQueueSize;
  r->txQueueSize = txQueueSize;
  r->settings = settings;
  r->device = std::move(opened.device);
  r->nextReopenMs = 0;
  r->rxStart = r->rxEnd = 0;
  // A wake-up meant for the port's previous life is not carried over.
  if (r->wake) r->wake->Clear();
  return 0;
}

int PortService::Close(int port) {
  return WithOpenPort(port, [](PortRecord& r) {
    r.open = false;
    ++r.generation;
    r.device.reset();
    r.rxStart = r.rxEnd = 0;
    if (r.waiters > 0) r.wake->Give();
    return 0;
  });
}

int PortService::SetBaud(int port, int baud) {
  return ChangeSettings(port, IsSupportedBaud(baud) ? 0 : kSerialBadBaud,
                        [baud](LineSettings& s) { s.baud = baud; });
}

int PortService::SetParams(int port, int parity, int stopBits, int dataBits) {
  return ChangeSettings(port, CheckFrame(parity, stopBits, dataBits), [=](LineSettings& s) {
    s.parity = parity;
    s.stopBits = stopBits;
    s.dataBits = dataBits;
  });
}

int PortService::Putc(int port, int ch) {
  const char byte = static_cast<char>(ch);
  const int sent = Write(port, &byte, 1);
  return sent < 0 ? sent : 0;
}

int PortService::Write(int port, const char* buf, int len) {
  PortRecord* r = Record(port);
  if (r == nullptr) return kSerialInvalidPort;
  if (len < 0 || (buf == nullptr && len > 0)) return kSerialOutOfRange;
  int written = 0;
  int64_t deadline = -1;
  while (written < len) {
    std::shared_ptr<PortDevice> device;
    {
      std::lock_guard lock(r->mutex);
      if (!r->open) return written > 0 ? written : kSerialInvalidPort;
      device = DeviceLocked(*r);
      // Never longer than the bytes need on the line plus some slack.
      if (deadline < 0) deadline = NowMs() + LineTimeMs(len, r->settings.baud) + kWriteSlackMs;
    }
    if (!device) return written;  // dropped while the device is gone
    const DeviceIo io = device->Write(buf + written, len - written, deadline - NowMs());
    if (io.status != DeviceIo::Status::kDone) {
      std::lock_guard lock(r->mutex);
      const int code = FailureLocked(*r, device, io);
      return code < 0 && written == 0 ? code : written;
    }
    written += io.count;
    if (io.count == 0 && NowMs() >= deadline) break;
  }
  return written;
}

int PortService::Getc(int port) {
  return WithOpenPort(port, [this](PortRecord& r) {
    const int buffered = FillLocked(r);
    if (buffered <= 0) return buffered < 0 ? buffered : static_cast<int>(kSerialNoData);
    return static_cast<int>(r.rx[r.rxStart++]);
  });
}

int PortService::RxCount(int port) {
  return WithOpenPort(port, [this](PortRecord& r) { return CountWaitingLocked(r); });
}

int PortService::TxCount(int port) {
  return WithDevice(port, [](PortRecord&, PortDevice& device) { return device.Unsent(); });
}

int PortService::RxClear(int port) {
  return WithDevice(port, [](PortRecord& r, PortDevice& device) {
    r.rxStart = r.rxEnd = 0;
    return device.ClearReceived();
  });
}

int PortService::Break(int port, int cmd) {
  if (cmd != 'A' && cmd != 'C') return kSerialOutOfRange;
  return WithDevice(port,
                    [cmd](PortRecord&, PortDevice& device) { return device.SetBreak(cmd == 'A'); });
}

int PortService::Line(int port, int cmd) {
  if (cmd != 'S' && cmd != 'C') return kSerialOutOfRange;
  PortRecord* r = Record(port);
  if (r == nullptr) return kSerialInvalidPort;
  {
    // Kept even while the device is gone, for its reopening.
    std::lock_guard lock(r->mutex);
    if (r->open) r->settings.dtr = cmd == 'S';
  }
  return WithDevice(port,
                    [cmd](PortRecord&, PortDevice& device) { return device.SetDtr(cmd == 'S'); });
}

int PortService::Version(int selector) {
  return ServiceVersion(selector);
}

int PortService::ErrorText(char* buf, int len) {
  if (buf == nullptr || len <= 0) return 0;
  system_->ErrorText(lastError_.load(), buf, len);
  return static_cast<int>(std::strlen(buf));
}

int PortService::WaitRx(int port, int timeoutMs) {
  PortRecord* r = Record(port);
  if (r == nullptr) return kSerialInvalidPort;
  const int64_t deadline = NowMs() + std::max(timeoutMs, 0);
  unsigned generation = 0;
  PortWake* wake = nullptr;
  {
    std::lock_guard lock(r->mutex);
    if (!r->open) return kSerialInvalidPort;
    EnsureWakeLocked(*r);
    ++r->waiters;
    generation = r->generation;
    wake = r->wake.get();
  }
  struct WaiterCount {
    PortRecord& r;
    ~WaiterCount() {
      std::lock_guard lock(r.mutex);
      --r.waiters;
    }
  } waiterCount{*r};

  std::shared_ptr<PortDevice> hungUp;
  bool waited = false;
  for (;;) {
    std::shared_ptr<PortDevice> device;
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
    if (timeout == 0 && waited) return 0;
    waited = true;
    // While the device is gone the wait wakes up to look for it again.
    if (!device) timeout = std::min(timeout, std::max<int64_t>(reopenAtMs - now, 0));
    const DeviceWait result =
        device ? device->Await(*wake, ClampToInt(timeout)) : wake->Wait(ClampToInt(timeout));
    if (result.osError != 0) return SystemError(result.osError);
    if (result.tookByte) {
      std::lock_guard lock(r->mutex);
      KeepLocked(*r, result.taken);
    }
    if (result.woken) {
      std::lock_guard lock(r->mutex);
      return r->open && r->generation == generation ? 0 : kSerialInvalidPort;
    }
    hungUp = result.gone ? device : nullptr;
  }
}

int PortService::WaitTxEmpty(int port, int timeoutMs) {
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

void PortService::CancelWait(int port) {
  PortRecord* r = Record(port);
  if (r == nullptr) return;
  std::lock_guard lock(r->mutex);
  EnsureWakeLocked(*r);
  r->wake->Give();
}

PortService& ProcessService() {
  // Never destroyed: a thread still inside a call when the process ends must
  // find a live object. The ports themselves are released at exit.
  static PortService* const service = new PortService(NewSystemPorts());
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

std::string SystemPortPath(int port) {
  return NewSystemPorts()->Path(port);
}

std::unique_ptr<SerialService> NewPortService(std::unique_ptr<PortSystem> system) {
  return std::make_unique<PortService>(std::move(system));
}

}  // namespace zol
