// A TCP relay on 127.0.0.1 between a client and a server, that the test
// cuts and restores: the link between ship and shore in the link's tests.
// Cut, it closes every connection and holds new ones open without a word
// (a link that went silent); restored, it relays again. One thread waits in
// poll on the listener, the connections and a wake-up pipe.
#pragma once

#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "base/posix/unique_fd.h"

namespace zol::test {

class TcpRelay {
 public:
  explicit TcpRelay(uint16_t targetPort);
  ~TcpRelay();
  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;

  bool Ok() const { return ok_; }
  uint16_t Port() const { return port_; }
  void Cut();
  void Restore();

 private:
  struct Pair {
    UniqueFd client;
    UniqueFd server;  // invalid while held silent
  };
  void Run();
  void Wake();
  void Accept(std::vector<Pair>& pairs, bool cut);

  uint16_t targetPort_;
  uint16_t port_ = 0;
  bool ok_ = false;
  UniqueFd listener_;
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  std::mutex mutex_;
  bool cut_ = false;
  bool changed_ = false;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace zol::test
