// An in-memory serial port service with a scripted peer on each port.
//
// Every byte the program sends is recorded (Sent) and handed to the port's
// peer callback, which answers with Deliver(port, bytes, delayMs). Commands
// carry no terminator, so the peer gets the bytes sent since it last heard,
// as one command, when the program turns to the line again (reads, clears,
// waits or drains) -- the pause a real instrument sees. Delivered
// bytes become receivable delayMs after the moment of delivery on the
// service's clock. With a FakeClock, waits advance that clock to the next
// delivery or the deadline at once, so a 25 s wait costs nothing; with any
// other clock they block in real time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "link/serial_service.h"
#include "support/fake_clock.h"

namespace zol::test {

class FakeSerial final : public SerialService {
 public:
  // Called with one command's bytes, on the program's thread, without the
  // service's lock held.
  using Peer = std::function<void(int port, std::string_view received)>;

  explicit FakeSerial(Clock& clock);

  // Peer side.
  void SetPeer(int port, Peer peer);
  void Deliver(int port, std::string_view bytes, int delayMs = 0);
  // Every byte the program sent to the port, in order.
  std::string Sent(int port);
  // The sent bytes since the last call.
  std::string TakeSent(int port);
  // Everything that happened on the port, in order: "tx:<bytes>" (runs of
  // sends merged), "break:A", "break:C", "line:S", "line:C", "rxclear",
  // "open", "close", "baud:<n>".
  std::vector<std::string> Log(int port);
  // Bytes delivered but not yet taken by the program (arrived or not).
  int PendingBytes(int port);
  // Forgets the sent bytes the peer has heard (taken or not) and the log,
  // so that a long run keeps a bounded history.
  void ForgetHistory(int port);

  // Fault and set-up knobs.
  void SetOpenResult(int port, int code);  // what Open returns (default 0)
  void SetBaudResult(int port, int code);  // what SetBaud returns (default 0)
  void SetTxStuck(int port, bool stuck);   // the transmitter never drains
  // Waits fail with `code` at once (0 restores them): a port gone bad.
  void SetWaitRxError(int port, int code);
  void SetTxError(int port, int code);
  // With the fake clock holding waits: a wait with nothing on its way lasts
  // until bytes come or it is cancelled, as a thread parked on the line
  // does (the pass-through terminal's echo). Off: it ends at its deadline.
  void ParkEmptyWaits(bool park) { parkEmptyWaits_.store(park); }
  // How many times the program waited for received data on the port.
  int WaitRxCalls(int port);
  void SetVersion(int version, int build);
  bool IsOpen(int port);
  int Baud(int port);

  // SerialService.
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
  struct Pending {
    int64_t availableAtMs;
    unsigned char byte;
  };
  struct Port {
    bool open = false;
    int baud = 0;
    int openResult = 0;
    int baudResult = 0;
    bool txStuck = false;
    int waitRxError = 0;
    int txError = 0;
    int waitRxCalls = 0;
    bool cancelled = false;
    std::deque<Pending> rx;
    std::string sent;
    size_t sentTaken = 0;
    size_t sentToPeer = 0;
    std::vector<std::string> log;
    Peer peer;
  };

  Port& PortLocked(int port);
  void LogLocked(Port& p, const std::string& entry);
  int AvailableLocked(Port& p);
  int Send(int port, std::string_view bytes);
  // Hands the bytes sent since the last hand-over to the peer.
  void FlushToPeer(int port);

  Clock& clock_;
  FakeClock* fakeClock_;
  std::atomic<bool> parkEmptyWaits_{false};
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::map<int, Port> ports_;
  int version_ = 0x123;
  int build_ = 7;
};

}  // namespace zol::test
