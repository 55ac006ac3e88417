// A UDP socket on a free loopback port that keeps what it receives: the
// far end of the live record feed in tests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "base/posix/unique_fd.h"

namespace zol::test {

class UdpReceiver {
 public:
  explicit UdpReceiver(int family = AF_INET)
      : family_(family), socket_(socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET) {
      auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
      v4->sin_family = AF_INET;
      v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof *v4;
    } else {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
      v6->sin6_family = AF_INET6;
      v6->sin6_addr = in6addr_loopback;
      length = sizeof *v6;
    }
    auto* any = reinterpret_cast<sockaddr*>(&address);
    bound_ = socket_.Valid() && bind(socket_.Get(), any, length) == 0 &&
             getsockname(socket_.Get(), any, &length) == 0;
    port_ = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                    : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  }

  bool Bound() const { return bound_; }
  uint16_t Port() const { return port_; }
  // The setting that names this receiver: "127.0.0.1:PORT" or "[::1]:PORT".
  std::string Address() const {
    return (family_ == AF_INET ? "127.0.0.1:" : "[::1]:") + std::to_string(port_);
  }

  // The next datagram, or "(none)" after timeoutMs.
  std::string Next(int timeoutMs = 2000) {
    pollfd waiting{socket_.Get(), POLLIN, 0};
    if (poll(&waiting, 1, timeoutMs) != 1) return "(none)";
    char buffer[4096];
    const ssize_t got = recv(socket_.Get(), buffer, sizeof buffer, 0);
    return got < 0 ? "(error)" : std::string(buffer, static_cast<size_t>(got));
  }

  // Everything received so far, a datagram each.
  std::vector<std::string> Drain() {
    std::vector<std::string> got;
    for (std::string next; (next = Next(0)) != "(none)" && next != "(error)";)
      got.push_back(next);
    return got;
  }

 private:
  int family_;
  UniqueFd socket_;
  bool bound_ = false;
  uint16_t port_ = 0;
};

}  // namespace zol::test
