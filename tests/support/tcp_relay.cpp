#include "support/tcp_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace zol::test {
namespace {

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

UniqueFd ConnectTo(uint16_t port) {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const sockaddr_in address = Loopback(port);
  if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return UniqueFd();
  return fd;
}

// Moves what `from` has to `to`; false when either side ended.
bool Pass(int from, int to) {
  char buffer[16384];
  const ssize_t got = ::read(from, buffer, sizeof buffer);
  if (got <= 0) return false;
  for (ssize_t done = 0; done < got;) {
    const ssize_t wrote = ::write(to, buffer + done, static_cast<size_t>(got - done));
    if (wrote <= 0) return false;
    done += wrote;
  }
  return true;
}

}  // namespace

TcpRelay::TcpRelay(uint16_t targetPort)
    : targetPort_(targetPort), listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  int pipeFds[2];
  ok_ = ::bind(listener_.Get(), any, length) == 0 && ::listen(listener_.Get(), 16) == 0 &&
        ::getsockname(listener_.Get(), any, &length) == 0 && ::pipe2(pipeFds, O_CLOEXEC) == 0;
  if (!ok_) return;
  port_ = ntohs(address.sin_port);
  wakeRead_.Reset(pipeFds[0]);
  wakeWrite_.Reset(pipeFds[1]);
  thread_ = std::thread([this] { Run(); });
}

TcpRelay::~TcpRelay() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  Wake();
  if (thread_.joinable()) thread_.join();
}

void TcpRelay::Wake() {
  const char byte = 1;
  if (wakeWrite_.Valid()) (void)!::write(wakeWrite_.Get(), &byte, 1);
}

void TcpRelay::Cut() {
  {
    std::lock_guard lock(mutex_);
    cut_ = changed_ = true;
  }
  Wake();
}

void TcpRelay::Restore() {
  {
    std::lock_guard lock(mutex_);
    cut_ = false;
    changed_ = true;
  }
  Wake();
}

void TcpRelay::Accept(std::vector<Pair>& pairs, bool cut) {
  UniqueFd client(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  if (!client.Valid()) return;
  UniqueFd server = cut ? UniqueFd() : ConnectTo(targetPort_);
  // A server that is down: the client sees its connection end.
  if (!cut && !server.Valid()) return;
  pairs.push_back({std::move(client), std::move(server)});
}

void TcpRelay::Run() {
  std::vector<Pair> pairs;
  for (;;) {
    bool cut = false;
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      // Every change ends what was there: the silent ones and the live ones.
      if (changed_) pairs.clear();
      changed_ = false;
      cut = cut_;
    }
    std::vector<pollfd> fds = {{wakeRead_.Get(), POLLIN, 0}, {listener_.Get(), POLLIN, 0}};
    for (const Pair& pair : pairs) {
      fds.push_back({pair.client.Get(), static_cast<short>(pair.server.Valid() ? POLLIN : 0), 0});
      fds.push_back({pair.server.Get(), POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents != 0) {
      char drain[64];
      (void)!::read(wakeRead_.Get(), drain, sizeof drain);
    }
    std::vector<Pair> kept;
    for (size_t i = 0; i < pairs.size(); ++i) {
      const short fromClient = fds[2 + 2 * i].revents;
      const short fromServer = fds[3 + 2 * i].revents;
      const bool ended = (fromClient != 0 && !Pass(pairs[i].client.Get(), pairs[i].server.Get())) ||
                         (fromServer != 0 && !Pass(pairs[i].server.Get(), pairs[i].client.Get()));
      if (!ended) kept.push_back(std::move(pairs[i]));
    }
    pairs.swap(kept);
    if (fds[1].revents != 0) Accept(pairs, cut);
  }
}

}  // namespace zol::test
