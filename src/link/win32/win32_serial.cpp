#include "link/win32/win32_serial.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "base/win32/unique_handle.h"
#include "link/port_service.h"
#include "link/win32/com_device.h"

namespace zol {
namespace {

// An operation that the driver should finish at once is given this long.
constexpr DWORD kPromptIoMs = 1000;

DWORD ToWaitMs(int64_t ms) {
  return static_cast<DWORD>(std::clamp<int64_t>(ms, 0, INFINITE - 1));
}

DeviceIo Failure(DWORD osError) {
  return IsComPortGone(osError) ? DeviceIo::Gone() : DeviceIo::Failed(osError);
}

DeviceIo Checked(BOOL done) {
  return done ? DeviceIo::Done() : Failure(::GetLastError());
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

// An auto-reset event, set by Give.
class EventWake final : public PortWake {
 public:
  EventWake() : event_(NewEvent()) {}

  void Give() override { ::SetEvent(event_.Get()); }
  void Clear() override { ::ResetEvent(event_.Get()); }
  DeviceWait Wait(int timeoutMs) override {
    DeviceWait result;
    const DWORD status = ::WaitForSingleObject(event_.Get(), ToWaitMs(timeoutMs));
    if (status == WAIT_FAILED) result.osError = ::GetLastError();
    result.woken = status == WAIT_OBJECT_0;
    return result;
  }
  HANDLE Event() const { return event_.Get(); }

 private:
  UniqueHandle event_;
};

// Notes how a call that did not succeed ended: gone, or the system's error.
void NoteFailure(DeviceWait& result, DWORD osError) {
  if (IsComPortGone(osError)) {
    result.gone = true;
  } else {
    result.osError = osError;
  }
}

class ComDevice final : public PortDevice {
 public:
  explicit ComDevice(UniqueHandle handle) : handle_(std::move(handle)) {}

  DeviceIo Read(unsigned char* buf, int len) override {
    const DeviceIo queued = Received();
    if (queued.status != DeviceIo::Status::kDone || queued.count == 0) return queued;
    Overlapped op;
    DWORD got = 0;
    DWORD error = 0;
    const DWORD wanted = static_cast<DWORD>(std::min(queued.count, len));
    const BOOL started = ::ReadFile(Port(), buf, wanted, nullptr, &op.io);
    // A read cut short by its own time limit has read what it got.
    if (!FinishIo(Port(), op, started, kPromptIoMs, &got, &error) && got == 0 &&
        error != ERROR_OPERATION_ABORTED)
      return Failure(error);
    return DeviceIo::Done(static_cast<int>(got));
  }
  DeviceIo Received() override { return Queues(true); }
  DeviceIo Unsent() override { return Queues(false); }

  DeviceIo Write(const char* buf, int len, int64_t limitMs) override {
    Overlapped op;
    DWORD sent = 0;
    DWORD error = 0;
    const BOOL started = ::WriteFile(Port(), buf, static_cast<DWORD>(len), nullptr, &op.io);
    if (!FinishIo(Port(), op, started, ToWaitMs(limitMs), &sent, &error) && sent == 0 &&
        error != ERROR_OPERATION_ABORTED)
      return Failure(error);
    return DeviceIo::Done(static_cast<int>(sent));
  }

  DeviceIo Apply(const LineSettings& settings) override {
    DWORD error = 0;
    return ApplyComSettings(Port(), settings, &error) == 0 ? DeviceIo::Done() : Failure(error);
  }
  DeviceIo ClearReceived() override { return Checked(::PurgeComm(Port(), PURGE_RXCLEAR)); }
  DeviceIo SetBreak(bool on) override {
    return Checked(on ? ::SetCommBreak(Port()) : ::ClearCommBreak(Port()));
  }
  // A port without modem lines (a pseudo-terminal under wine) refuses with
  // the system's reason, which the callers ignore.
  DeviceIo SetDtr(bool on) override {
    return Checked(::EscapeCommFunction(Port(), on ? SETDTR : CLRDTR));
  }

  // The wait is a read of one byte rather than WaitCommEvent: under wine the
  // latter keeps a processor busy for as long as it waits.
  DeviceWait Await(PortWake& wake, int timeoutMs) override {
    DeviceWait result;
    // One wait at a time reads ahead on the handle.
    std::unique_lock readAhead(readAheadMutex_, std::defer_lock);
    if (!readAhead.try_lock_for(std::chrono::milliseconds(timeoutMs))) return result;
    Overlapped op;
    unsigned char byte = 0;
    bool cancelled = false;
    if (!::ReadFile(Port(), &byte, 1, nullptr, &op.io)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_IO_PENDING) {
        NoteFailure(result, error);
        return result;
      }
      // The service's wakes are all of this system's making.
      const HANDLE watched[2] = {op.io.hEvent, static_cast<EventWake&>(wake).Event()};
      const DWORD which = ::WaitForMultipleObjects(2, watched, FALSE, ToWaitMs(timeoutMs));
      if (which == WAIT_FAILED) NoteFailure(result, ::GetLastError());
      result.woken = which == WAIT_OBJECT_0 + 1;
      if (which != WAIT_OBJECT_0) cancelled = ::CancelIoEx(Port(), &op.io) != FALSE;
    }
    DWORD got = 0;
    // Also after a cancel: a byte the read took before it is kept.
    if (!::GetOverlappedResult(Port(), &op.io, &got, TRUE)) {
      const DWORD error = ::GetLastError();
      if (!cancelled || error != ERROR_OPERATION_ABORTED) NoteFailure(result, error);
    } else if (got == 0 && !cancelled) {
      result.gone = true;  // a read of nothing: the line hung up
    }
    if (got > 0) {
      result.taken = byte;
      result.tookByte = true;
    }
    return result;
  }

 private:
  HANDLE Port() const { return handle_.Get(); }
  // Bytes the driver holds: received or not yet sent. Also clears a line
  // error, which would otherwise hold up I/O on some drivers.
  DeviceIo Queues(bool received) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(Port(), &errors, &status)) return Failure(::GetLastError());
    const DWORD count = received ? status.cbInQue : status.cbOutQue;
    return DeviceIo::Done(static_cast<int>(std::min<DWORD>(count, INT32_MAX)));
  }

  UniqueHandle handle_;
  std::timed_mutex readAheadMutex_;
};

class ComPorts final : public PortSystem {
 public:
  std::string Path(int port) override { return ComPortPath(port); }

  DeviceOpen Open(const std::string& path, const LineSettings& settings, int rxQueueSize,
                  int txQueueSize) override {
    ComOpenResult opened = OpenComPort(path, settings, rxQueueSize, txQueueSize);
    DeviceOpen result;
    result.code = opened.code;
    result.osError = opened.osError;
    if (opened.handle.Valid())
      result.device = std::make_unique<ComDevice>(std::move(opened.handle));
    return result;
  }

  std::unique_ptr<PortWake> NewWake() override { return std::make_unique<EventWake>(); }

  void ErrorText(uint32_t osError, char* buf, int len) override {
    char text[256] = {};
    DWORD size = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, osError, 0, text, sizeof text, nullptr);
    // The system's texts end with a line end of their own.
    while (size > 0 && (text[size - 1] == '\r' || text[size - 1] == '\n' || text[size - 1] == ' '))
      text[--size] = '\0';
    if (size == 0)
      std::snprintf(text, sizeof text, "system error %lu", static_cast<DWORD>(osError));
    std::snprintf(buf, static_cast<size_t>(len), "%s", text);
  }
};

}  // namespace

std::unique_ptr<PortSystem> NewSystemPorts() {
  return std::make_unique<ComPorts>();
}

std::unique_ptr<SerialService> NewWin32Serial() {
  return NewPortService(NewSystemPorts());
}

}  // namespace zol
