#include "support/fake_serial.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace zol::test {

FakeSerial::FakeSerial(Clock& clock)
    : clock_(clock), fakeClock_(dynamic_cast<FakeClock*>(&clock)) {}

FakeSerial::Port& FakeSerial::PortLocked(int port) {
  return ports_[port];
}

void FakeSerial::LogLocked(Port& p, const std::string& entry) {
  if (entry.rfind("tx:", 0) == 0 && !p.log.empty() && p.log.back().rfind("tx:", 0) == 0) {
    p.log.back() += entry.substr(3);
  } else {
    p.log.push_back(entry);
  }
}

int FakeSerial::AvailableLocked(Port& p) {
  const int64_t now = clock_.MonotonicMs();
  int count = 0;
  for (const Pending& pending : p.rx) {
    if (pending.availableAtMs > now) break;
    ++count;
  }
  return count;
}

void FakeSerial::SetPeer(int port, Peer peer) {
  std::lock_guard lock(mutex_);
  PortLocked(port).peer = std::move(peer);
}

void FakeSerial::Deliver(int port, std::string_view bytes, int delayMs) {
  {
    std::lock_guard lock(mutex_);
    Port& p = PortLocked(port);
    int64_t at = clock_.MonotonicMs() + std::max(delayMs, 0);
    // Bytes never overtake bytes delivered earlier.
    if (!p.rx.empty()) at = std::max(at, p.rx.back().availableAtMs);
    for (char c : bytes)
      p.rx.push_back({at, static_cast<unsigned char>(c)});
  }
  arrived_.notify_all();
}

std::string FakeSerial::Sent(int port) {
  std::lock_guard lock(mutex_);
  return PortLocked(port).sent;
}

std::string FakeSerial::TakeSent(int port) {
  std::lock_guard lock(mutex_);
  Port& p = PortLocked(port);
  std::string out = p.sent.substr(p.sentTaken);
  p.sentTaken = p.sent.size();
  return out;
}

std::vector<std::string> FakeSerial::Log(int port) {
  std::lock_guard lock(mutex_);
  return PortLocked(port).log;
}

int FakeSerial::PendingBytes(int port) {
  std::lock_guard lock(mutex_);
  return static_cast<int>(PortLocked(port).rx.size());
}

void FakeSerial::ForgetHistory(int port) {
  std::lock_guard lock(mutex_);
  Port& p = PortLocked(port);
  const size_t heard = p.sentToPeer;
  p.sent.erase(0, heard);
  p.sentTaken = p.sentTaken > heard ? p.sentTaken - heard : 0;
  p.sentToPeer = 0;
  p.log.clear();
}

void FakeSerial::SetOpenResult(int port, int code) {
  std::lock_guard lock(mutex_);
  PortLocked(port).openResult = code;
}

void FakeSerial::SetBaudResult(int port, int code) {
  std::lock_guard lock(mutex_);
  PortLocked(port).baudResult = code;
}

void FakeSerial::SetTxStuck(int port, bool stuck) {
  std::lock_guard lock(mutex_);
  PortLocked(port).txStuck = stuck;
}

void FakeSerial::SetWaitRxError(int port, int code) {
  std::lock_guard lock(mutex_);
  PortLocked(port).waitRxError = code;
}

void FakeSerial::SetTxError(int port, int code) {
  std::lock_guard lock(mutex_);
  PortLocked(port).txError = code;
}

int FakeSerial::WaitRxCalls(int port) {
  std::lock_guard lock(mutex_);
  return PortLocked(port).waitRxCalls;
}

void FakeSerial::SetVersion(int version, int build) {
  std::lock_guard lock(mutex_);
  version_ = version;
  build_ = build;
}

bool FakeSerial::IsOpen(int port) {
  std::lock_guard lock(mutex_);
  return PortLocked(port).open;
}

int FakeSerial::Baud(int port) {
  std::lock_guard lock(mutex_);
  return PortLocked(port).baud;
}

int FakeSerial::Open(int port, int /*rxQueueSize*/, int /*txQueueSize*/) {
  if (port == kSerialDefaultsPort) return 0;
  if (port < 0 || port >= kSerialMaxPorts) return kSerialInvalidPort;
  std::lock_guard lock(mutex_);
  Port& p = PortLocked(port);
  if (p.openResult < 0) return p.openResult;
  if (p.open) return kSerialAlreadyOpen;
  p.open = true;
  LogLocked(p, "open");
  return 0;
}

int FakeSerial::Close(int port) {
  std::lock_guard lock(mutex_);
  Port& p = PortLocked(port);
  if (!p.open) return kSerialInvalidPort;
  p.open = false;
  LogLocked(p, "close");
  return 0;
}

int FakeSerial::SetBaud(int port, int baud) {
  std::lock_guard lock(mutex_);
  Port& p = PortLocked(port);
  if (p.baudResult < 0) return p.baudResult;
  p.baud = baud;
  LogLocked(p, "baud:" + std::to_string(baud));
  return 0;
}

int FakeSerial::SetParams(int, int, int, int) {
  return 0;
}

int FakeSerial::Send(int port, std::string_view bytes) {
  {
    std::lock_guard lock(mutex_);
    Port& p = PortLocked(port);
    p.sent.append(bytes);
    LogLocked(p, "tx:" + std::string(bytes));
  }
  // A wait blocked on another thread hands the bytes to the peer.
  arrived_.notify_all();
  return static_cast<int>(bytes.size());
}

void FakeSerial::FlushToPeer(int port) {
  Peer peer;
  std::string command;
  {
    std::lock_guard lock(mutex_);
    Port& p = PortLocked(port);
    if (p.sentToPeer == p.sent.size() || !p.peer) return;
    command = p.sent.substr(p.sentToPeer);
    p.sentToPeer = p.sent.size();
    peer = p.peer;
  }
  peer(port, command);
}

int FakeSerial::Putc(int port, int ch) {
  const char c = static_cast<char>(ch);
  return Send(port, std::string_view(&c, 1)) > 0 ? 0 : -1;
}

int FakeSerial::Write(int port, const char* buf, int len) {
  if (len <= 0) return 0;
  return Send(port, std::string_view(buf, static_cast<size_t>(len)));
}

int FakeSerial::Getc(int port) {
  FlushToPeer(port);
  std::lock_guard lock(mutex_);
  Port& p = PortLocked(port);
  if (AvailableLocked(p) == 0) return -1;
  const int byte = p.rx.front().byte;
  p.rx.pop_front();
  return byte;
}

int FakeSerial::RxCount(int port) {
  FlushToPeer(port);
  std::lock_guard lock(mutex_);
  return AvailableLocked(PortLocked(port));
}

int FakeSerial::TxCount(int port) {
  std::lock_guard lock(mutex_);
  return PortLocked(port).txStuck ? 1 : 0;
}

int FakeSerial::RxClear(int port) {
  {
    std::lock_guard lock(mutex_);
    Port& p = PortLocked(port);
    // Only what has arrived is discarded; bytes still on their way come later.
    for (int n = AvailableLocked(p); n > 0; --n)
      p.rx.pop_front();
    LogLocked(p, "rxclear");
  }
  // The peer's answer to anything sent before the clear arrives after it.
  FlushToPeer(port);
  return 0;
}

int FakeSerial::Break(int port, int cmd) {
  std::lock_guard lock(mutex_);
  LogLocked(PortLocked(port), std::string("break:") + static_cast<char>(cmd));
  return 0;
}

int FakeSerial::Line(int port, int cmd) {
  std::lock_guard lock(mutex_);
  LogLocked(PortLocked(port), std::string("line:") + static_cast<char>(cmd));
  return 0;
}

int FakeSerial::Version(int selector) {
  std::lock_guard lock(mutex_);
  return selector == 'V' ? version_ : build_;
}

int FakeSerial::ErrorText(char* buf, int len) {
  if (buf == nullptr || len <= 0) return 0;
  std::snprintf(buf, static_cast<size_t>(len), "%s", "Fake failure");
  return static_cast<int>(std::strlen(buf));
}

int FakeSerial::WaitRx(int port, int timeoutMs) {
  FlushToPeer(port);
  std::unique_lock lock(mutex_);
  Port& p = PortLocked(port);
  ++p.waitRxCalls;
  if (p.waitRxError != 0) return p.waitRxError;
  const int64_t deadline = clock_.MonotonicMs() + std::max(timeoutMs, 0);
  for (;;) {
    if (const int n = AvailableLocked(p); n > 0) return n;
    if (p.cancelled) {
      p.cancelled = false;
      return 0;
    }
    const int64_t now = clock_.MonotonicMs();
    if (now >= deadline) return 0;
    const int64_t next = p.rx.empty() ? deadline : std::min(deadline, p.rx.front().availableAtMs);
    // Bytes sent since the last hand-over (by another thread, or by the
    // peer itself) reach the peer before this waits: checked under the lock
    // that Send appends under, so its notification cannot fall between the
    // check and the wait.
    if (p.peer && p.sentToPeer != p.sent.size()) {
      lock.unlock();
      FlushToPeer(port);
      lock.lock();
      continue;
    }
    if (fakeClock_ != nullptr && parkEmptyWaits_.load() && p.rx.empty()) {
      fakeClock_->WaitOn(arrived_, lock, next - now);
    } else if (fakeClock_ != nullptr) {
      fakeClock_->Advance(next - now);
    } else {
      arrived_.wait_for(lock, std::chrono::milliseconds(next - now));
    }
  }
}

int FakeSerial::WaitTxEmpty(int port, int timeoutMs) {
  FlushToPeer(port);
  bool stuck;
  {
    std::lock_guard lock(mutex_);
    Port& p = PortLocked(port);
    if (p.txError != 0) return p.txError;
    stuck = p.txStuck;
  }
  if (!stuck) return 0;
  clock_.SleepMs(timeoutMs);
  return kSerialTimedOut;
}

void FakeSerial::CancelWait(int port) {
  {
    std::lock_guard lock(mutex_);
    PortLocked(port).cancelled = true;
  }
  arrived_.notify_all();
}

}  // namespace zol::test
