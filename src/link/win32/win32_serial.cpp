#include "link/win32/win32_serial.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "base/win32/unique_handle.h"
#include "link/serial_rules.h"
#include "link/win32/com_device.h"

namespace zol {
namespace {

// Bytes one read takes; the buffer holds what a wait and a Getc on another
// thread may read at the same time.
constexpr int kRxChunk = 256;
constexpr int kRxBufferSize = 4 * kRxChunk;
// How long a write waits beyond the time its bytes need on the line.
constexpr int64_t kWriteSlackMs = 1000;
// An operation that the driver should finish at once is given this long.
constexpr DWORD kPromptIoMs = 1000;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

DWORD ToWaitMs(int64_t ms) {
  return static_cast<DWORD>(std::clamp<int64_t>(ms, 0, INFINITE - 1));
}

// One overlapped operation with an event of its own.
struct Overlapped {
  Overlapped() : event(NewEvent(true)) { io.hEvent = event.Get(); }
  UniqueHandle event;
  OVERLAPPED io{};
};

// Waits for a started overlapped operation until `timeoutMs`, cancelling it
// when the time runs out. True when it completed; the count of bytes it
// moved (also on cancel) in *done, the system's error in *osError.
bool FinishIo(HANDLE port, Overlapped& op, BOOL started, DWORD timeoutMs, DWORD* done,
              DWORD* osError) {
  *done = 0;
  if (!started) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) {
      *osError = error;
      return false;
    }
    if (::WaitForSingleObject(op.io.hEvent, timeoutMs) != WAIT_OBJECT_0) ::CancelIoEx(port, &op.io);
  }
  if (!::GetOverlappedResult(port, &op.io, done, TRUE)) {
    *osError = ::GetLastError();
    return false;
  }
  return true;
}

// Bytes the driver holds: received (rx) or not yet sent (tx). Also clears a
// line error, which would otherwise hold up I/O on some drivers.
bool QueueCounts(HANDLE port, DWORD* rx, DWORD* tx) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!::ClearCommError(port, &errors, &status)) return false;
  if (rx != nullptr) *rx = status.cbInQue;
  if (tx != nullptr) *tx = status.cbOutQue;
  return true;
}

struct ComPort {
  std::mutex mutex;
  bool open = false;
  // Raised by Close, so that a wait that began before it can tell.
  unsigned generation = 0;
  ComSettings settings;
  // Shared, so that a wait or a write running outside the lock keeps the
  // handle valid across a Close.
  std::shared_ptr<UniqueHandle> handle;
  unsigned char rx[kRxBufferSize] = {};
  int rxStart = 0;
  int rxEnd = 0;
  // Set by CancelWait and Close to wake a blocked WaitRx (auto-reset).
  UniqueHandle wake;
  int waiters = 0;
  // One wait at a time reads ahead on the handle.
  std::timed_mutex readAheadMutex;
};

class Win32Serial final : public SerialService {
 public:
  Win32Serial() = default;
  ~Win32Serial() override { CloseAll(); }
  Win32Serial(const Win32Serial&) = delete;
  Win32Serial& operator=(const Win32Serial&) = delete;

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
  ComPort* Record(int port) {
    return port >= 0 && port < kSerialMaxPorts ? &ports_[static_cast<size_t>(port)] : nullptr;
  }
  ComSettings Defaults() {
    std::lock_guard lock(defaultsMutex_);
    return defaults_;
  }
  int SystemError(DWORD osError) {
    lastError_.store(osError);
    return kSerialSystemError;
  }

  // Reads what has arrived into the receive buffer when it is empty. Bytes
  // buffered, or an error code.
  int FillLocked(ComPort& p);
  int CountWaitingLocked(ComPort& p);
  static void EnsureWakeLocked(ComPort& p);
  // Blocks in a read until bytes arrive (kept in the receive buffer), the
  // port's wake event is set, or timeoutMs passes. True when woken.
  bool AwaitBytes(ComPort& p, HANDLE port, HANDLE wake, DWORD timeoutMs);
  static void KeepLocked(ComPort& p, const unsigned char* bytes, DWORD count);
  template <typename Body>
  int WithOpenPort(int port, Body body);
  template <typename Change>
  int Reconfigure(int port, Change change);
  // Runs `call` on the open port's handle; a FALSE result is the system's error.
  template <typename Call>
  int WithHandle(int port, Call call);

  std::mutex defaultsMutex_;
  ComSettings defaults_;
  std::array<ComPort, kSerialMaxPorts> ports_;
  std::atomic<DWORD> lastError_{0};
};

int Win32Serial::FillLocked(ComPort& p) {
  if (p.rxEnd > p.rxStart) return p.rxEnd - p.rxStart;
  p.rxStart = p.rxEnd = 0;
  DWORD queued = 0;
  if (!QueueCounts(p.handle->Get(), &queued, nullptr)) return SystemError(::GetLastError());
  if (queued == 0) return 0;
  Overlapped op;
  DWORD got = 0;
  DWORD error = 0;
  const DWORD wanted = std::min<DWORD>(queued, kRxChunk);
  const BOOL started = ::ReadFile(p.handle->Get(), p.rx, wanted, nullptr, &op.io);
  if (!FinishIo(p.handle->Get(), op, started, kPromptIoMs, &got, &error) && got == 0)
    return error == ERROR_OPERATION_ABORTED ? 0 : SystemError(error);
  p.rxEnd = static_cast<int>(got);
  return p.rxEnd;
}

int Win32Serial::CountWaitingLocked(ComPort& p) {
  DWORD queued = 0;
  QueueCounts(p.handle->Get(), &queued, nullptr);
  return p.rxEnd - p.rxStart + static_cast<int>(std::min<DWORD>(queued, INT32_MAX / 2));
}

void Win32Serial::EnsureWakeLocked(ComPort& p) {
  if (!p.wake.Valid()) p.wake = NewEvent();
}

template <typename Body>
int Win32Serial::WithOpenPort(int port, Body body) {
  ComPort* p = Record(port);
  if (p == nullptr) return kSerialInvalidPort;
  std::lock_guard lock(p->mutex);
  if (!p->open) return kSerialInvalidPort;
  return body(*p);
}

template <typename Change>
int Win32Serial::Reconfigure(int port, Change change) {
  return WithOpenPort(port, [&](ComPort& p) {
    ComSettings next = p.settings;
    change(next);
    DWORD error = 0;
    const int code = ApplyComSettings(p.handle->Get(), next, &error);
    if (code < 0) {
      lastError_.store(error);
      return code;
    }
    p.settings = next;
    return 0;
  });
}

template <typename Call>
int Win32Serial::WithHandle(int port, Call call) {
  return WithOpenPort(port, [&](ComPort& p) {
    return call(p, p.handle->Get()) ? 0 : SystemError(::GetLastError());
  });
}

void Win32Serial::CloseAll() {
  for (int port = 0; port < kSerialMaxPorts; ++port)
    Close(port);
}

int Win32Serial::Open(int port, int rxQueueSize, int txQueueSize) {
  if (port == kSerialDefaultsPort) {
    // For the defaults the two sizes are the DTR and RTS flags.
    std::lock_guard lock(defaultsMutex_);
    defaults_.dtr = rxQueueSize != 0;
    defaults_.rts = txQueueSize != 0;
    return 0;
  }
  ComPort* p = Record(port);
  if (p == nullptr) return kSerialInvalidPort;
  const ComSettings settings = Defaults();
  std::lock_guard lock(p->mutex);
  if (p->open) return kSerialAlreadyOpen;
  ComOpenResult opened = OpenComPort(ComPortPath(port), settings, rxQueueSize, txQueueSize);
  if (!opened.handle.Valid()) {
    if (opened.osError != 0) lastError_.store(opened.osError);
    return opened.code;
  }
  p->open = true;
  p->settings = settings;
  p->handle = std::make_shared<UniqueHandle>(std::move(opened.handle));
  p->rxStart = p->rxEnd = 0;
  // A wake-up meant for the port's previous life is not carried over.
  if (p->wake.Valid()) ::ResetEvent(p->wake.Get());
  return 0;
}

int Win32Serial::Close(int port) {
  return WithOpenPort(port, [](ComPort& p) {
    p.open = false;
    ++p.generation;
    p.handle.reset();
    p.rxStart = p.rxEnd = 0;
    if (p.waiters > 0) ::SetEvent(p.wake.Get());
    return 0;
  });
}

int Win32Serial::SetBaud(int port, int baud) {
  if (port != kSerialDefaultsPort && Record(port) == nullptr) return kSerialInvalidPort;
  if (!IsSupportedBaud(baud)) return kSerialBadBaud;
  if (port == kSerialDefaultsPort) {
    std::lock_guard lock(defaultsMutex_);
    defaults_.baud = baud;
    return 0;
  }
  return Reconfigure(port, [baud](ComSettings& s) { s.baud = baud; });
}

int Win32Serial::SetParams(int port, int parity, int stopBits, int dataBits) {
  if (port != kSerialDefaultsPort && Record(port) == nullptr) return kSerialInvalidPort;
  if (const int code = CheckFrame(parity, stopBits, dataBits); code < 0) return code;
  const auto change = [=](ComSettings& s) {
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

int Win32Serial::Putc(int port, int ch) {
  const char byte = static_cast<char>(ch);
  const int sent = Write(port, &byte, 1);
  return sent < 0 ? sent : 0;
}

int Win32Serial::Write(int port, const char* buf, int len) {
  ComPort* p = Record(port);
  if (p == nullptr) return kSerialInvalidPort;
  if (len < 0 || (buf == nullptr && len > 0)) return kSerialOutOfRange;
  std::shared_ptr<UniqueHandle> handle;
  int baud = 0;
  {
    std::lock_guard lock(p->mutex);
    if (!p->open) return kSerialInvalidPort;
    handle = p->handle;
    baud = p->settings.baud;
  }
  if (len == 0) return 0;
  // Never longer than the bytes need on the line plus some slack.
  const DWORD limit = ToWaitMs(LineTimeMs(len, baud) + kWriteSlackMs);
  Overlapped op;
  DWORD sent = 0;
  DWORD error = 0;
  const BOOL started = ::WriteFile(handle->Get(), buf, static_cast<DWORD>(len), nullptr, &op.io);
  if (!FinishIo(handle->Get(), op, started, limit, &sent, &error) && sent == 0 &&
      error != ERROR_OPERATION_ABORTED)
    return SystemError(error);
  return static_cast<int>(sent);
}

int Win32Serial::Getc(int port) {
  return WithOpenPort(port, [this](ComPort& p) {
    const int buffered = FillLocked(p);
    if (buffered <= 0) return buffered < 0 ? buffered : static_cast<int>(kSerialNoData);
    return static_cast<int>(p.rx[p.rxStart++]);
  });
}

int Win32Serial::RxCount(int port) {
  return WithOpenPort(port, [this](ComPort& p) { return CountWaitingLocked(p); });
}

int Win32Serial::TxCount(int port) {
  return WithOpenPort(port, [this](ComPort& p) {
    DWORD pending = 0;
    if (!QueueCounts(p.handle->Get(), nullptr, &pending)) return SystemError(::GetLastError());
    return static_cast<int>(std::min<DWORD>(pending, INT32_MAX));
  });
}

int Win32Serial::RxClear(int port) {
  return WithHandle(port, [](ComPort& p, HANDLE h) {
    p.rxStart = p.rxEnd = 0;
    return ::PurgeComm(h, PURGE_RXCLEAR);
  });
}

int Win32Serial::Break(int port, int cmd) {
  if (cmd != 'A' && cmd != 'C') return kSerialOutOfRange;
  return WithHandle(port, [cmd](ComPort&, HANDLE h) {
    return cmd == 'A' ? ::SetCommBreak(h) : ::ClearCommBreak(h);
  });
}

int Win32Serial::Line(int port, int cmd) {
  if (cmd != 'S' && cmd != 'C') return kSerialOutOfRange;
  // A port without modem lines (a pseudo-terminal under wine) refuses with
  // the system's reason, which the callers ignore.
  return WithHandle(port, [cmd](ComPort& p, HANDLE h) {
    p.settings.dtr = cmd == 'S';
    return ::EscapeCommFunction(h, cmd == 'S' ? SETDTR : CLRDTR);
  });
}

int Win32Serial::Version(int selector) {
  return ServiceVersion(selector);
}

int Win32Serial::ErrorText(char* buf, int len) {
  if (buf == nullptr || len <= 0) return 0;
  char text[256] = {};
  const DWORD error = lastError_.load();
  DWORD size = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text, sizeof text, nullptr);
  // The system's texts end with a line end of their own.
  while (size > 0 && (text[size - 1] == '\r' || text[size - 1] == '\n' || text[size - 1] == ' '))
    text[--size] = '\0';
  if (size == 0) std::snprintf(text, sizeof text, "system error %lu", error);
  std::snprintf(buf, static_cast<size_t>(len), "%s", text);
  return static_cast<int>(std::strlen(buf));
}

void Win32Serial::KeepLocked(ComPort& p, const unsigned char* bytes, DWORD count) {
  const int held = p.rxEnd - p.rxStart;
  std::memmove(p.rx, p.rx + p.rxStart, static_cast<size_t>(held));
  p.rxStart = 0;
  const int kept = std::min(static_cast<int>(count), kRxBufferSize - held);
  std::memcpy(p.rx + held, bytes, static_cast<size_t>(kept));
  p.rxEnd = held + kept;
}

// The wait is a read of one byte rather than WaitCommEvent: under wine the
// latter keeps a processor busy for as long as it waits.
bool Win32Serial::AwaitBytes(ComPort& p, HANDLE port, HANDLE wake, DWORD timeoutMs) {
  std::unique_lock readAhead(p.readAheadMutex, std::defer_lock);
  if (!readAhead.try_lock_for(std::chrono::milliseconds(timeoutMs))) return false;
  Overlapped op;
  unsigned char byte = 0;
  bool woken = false;
  if (!::ReadFile(port, &byte, 1, nullptr, &op.io) && ::GetLastError() == ERROR_IO_PENDING) {
    const HANDLE watched[2] = {op.io.hEvent, wake};
    const DWORD which = ::WaitForMultipleObjects(2, watched, FALSE, timeoutMs);
    woken = which == WAIT_OBJECT_0 + 1;
    if (which != WAIT_OBJECT_0) ::CancelIoEx(port, &op.io);
  }
  DWORD got = 0;
  // Also after a cancel: bytes the read took before it are kept.
  ::GetOverlappedResult(port, &op.io, &got, TRUE);
  if (got > 0) {
    std::lock_guard lock(p.mutex);
    KeepLocked(p, &byte, got);
  }
  return woken;
}

int Win32Serial::WaitRx(int port, int timeoutMs) {
  ComPort* p = Record(port);
  if (p == nullptr) return kSerialInvalidPort;
  const int64_t deadline = NowMs() + std::max(timeoutMs, 0);
  unsigned generation = 0;
  HANDLE wake = nullptr;
  {
    std::lock_guard lock(p->mutex);
    if (!p->open) return kSerialInvalidPort;
    EnsureWakeLocked(*p);
    ++p->waiters;
    generation = p->generation;
    wake = p->wake.Get();
  }
  struct WaiterCount {
    ComPort& p;
    ~WaiterCount() {
      std::lock_guard lock(p.mutex);
      --p.waiters;
    }
  } waiterCount{*p};

  bool waited = false;
  for (;;) {
    std::shared_ptr<UniqueHandle> handle;
    {
      std::lock_guard lock(p->mutex);
      if (!p->open || p->generation != generation) return kSerialInvalidPort;
      if (const int filled = FillLocked(*p); filled < 0) return filled;
      if (const int waiting = CountWaitingLocked(*p); waiting > 0) return waiting;
      handle = p->handle;
    }
    const int64_t remaining = std::max<int64_t>(deadline - NowMs(), 0);
    if (remaining == 0 && waited) return 0;
    waited = true;
    if (AwaitBytes(*p, handle->Get(), wake, ToWaitMs(remaining))) {
      std::lock_guard lock(p->mutex);
      return p->open && p->generation == generation ? 0 : kSerialInvalidPort;
    }
  }
}

int Win32Serial::WaitTxEmpty(int port, int timeoutMs) {
  const int64_t deadline = NowMs() + std::max(timeoutMs, 0);
  for (;;) {
    const int pending = TxCount(port);
    if (pending <= 0) return pending;
    int baud = 0;
    {
      ComPort& p = *Record(port);
      std::lock_guard lock(p.mutex);
      baud = p.settings.baud;
    }
    const int64_t now = NowMs();
    if (now >= deadline) return kSerialTimedOut;
    // Sleep for as long as the queued bytes need on the line, then look again.
    const int64_t nap = std::clamp<int64_t>(LineTimeMs(pending, baud), 1, deadline - now);
    std::this_thread::sleep_for(std::chrono::milliseconds(nap));
  }
}

void Win32Serial::CancelWait(int port) {
  ComPort* p = Record(port);
  if (p == nullptr) return;
  std::lock_guard lock(p->mutex);
  EnsureWakeLocked(*p);
  ::SetEvent(p->wake.Get());
}

Win32Serial& ProcessService() {
  // Never destroyed: a thread still inside a call when the process ends must
  // find a live object. The ports themselves are released at exit.
  static Win32Serial* const service = new Win32Serial();
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

std::unique_ptr<SerialService> NewWin32Serial() {
  return std::make_unique<Win32Serial>();
}

}  // namespace zol
