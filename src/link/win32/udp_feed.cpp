// The record feed over Winsock UDP sockets.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <cstring>

#include "link/system_feed.h"

namespace zol {
namespace {

// Winsock is started once and left running until the process ends.
bool StartWinsock() {
  static const bool started = [] {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

class UniqueSocket {
 public:
  UniqueSocket() = default;
  explicit UniqueSocket(SOCKET s) : socket_(s) {}
  ~UniqueSocket() {
    if (Valid()) ::closesocket(socket_);
  }
  UniqueSocket(UniqueSocket&& other) noexcept : socket_(other.socket_) {
    other.socket_ = INVALID_SOCKET;
  }
  UniqueSocket& operator=(UniqueSocket&& other) noexcept {
    if (this != &other) {
      if (Valid()) ::closesocket(socket_);
      socket_ = other.socket_;
      other.socket_ = INVALID_SOCKET;
    }
    return *this;
  }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;

  bool Valid() const { return socket_ != INVALID_SOCKET; }
  SOCKET Get() const { return socket_; }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

struct Destination {
  UniqueSocket socket;
  sockaddr_storage address{};
  int addressLength = 0;
  FeedHealth health;
};

// The feed's health report speaks errno.
int ErrnoFor(int wsaError) {
  switch (wsaError) {
    case WSAEWOULDBLOCK:
      return EAGAIN;
    case WSAEMSGSIZE:
      return EMSGSIZE;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
      return EHOSTUNREACH;
    default:
      return EIO;
  }
}

class UdpFeed final : public RecordFeed {
 public:
  explicit UdpFeed(std::vector<Destination> destinations)
      : destinations_(std::move(destinations)) {}

  void Send(const char* datagram, std::size_t length) override {
    for (Destination& d : destinations_) {
      // Never waits (the socket does not block): a full buffer loses this
      // record for this destination, and the cycle goes on.
      const int sent = ::sendto(d.socket.Get(), datagram, static_cast<int>(length), 0,
                                reinterpret_cast<const sockaddr*>(&d.address), d.addressLength);
      const int error = sent == static_cast<int>(length) ? 0
                        : sent < 0                       ? ErrnoFor(::WSAGetLastError())
                                                         : EMSGSIZE;
      d.health.Sent(error);
    }
  }

 private:
  std::vector<Destination> destinations_;
};

bool Resolve(const FeedTarget& target, Destination* destination, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(target.port);
  const int status = ::getaddrinfo(target.host.c_str(), port.c_str(), &hints, &found);
  if (status != 0) {
    *error = "'" + target.Text() + "': " + gai_strerrorA(status);
    return false;
  }
  std::memcpy(&destination->address, found->ai_addr, found->ai_addrlen);
  destination->addressLength = static_cast<int>(found->ai_addrlen);
  UniqueSocket opened(::socket(found->ai_family, SOCK_DGRAM, IPPROTO_UDP));
  ::freeaddrinfo(found);
  u_long nonBlocking = 1;
  if (!opened.Valid() || ::ioctlsocket(opened.Get(), FIONBIO, &nonBlocking) != 0) {
    *error = "'" + target.Text() + "': cannot open a socket (error " +
             std::to_string(::WSAGetLastError()) + ")";
    return false;
  }
  destination->socket = std::move(opened);
  return true;
}

}  // namespace

std::unique_ptr<RecordFeed> OpenUdpFeed(const std::vector<FeedTarget>& targets,
                                        std::string* error) {
  if (!StartWinsock()) {
    *error = "the network is not available";
    return nullptr;
  }
  std::vector<Destination> destinations;
  destinations.reserve(targets.size());
  for (const FeedTarget& target : targets) {
    Destination destination{UniqueSocket(), {}, 0, FeedHealth(target.Text())};
    if (!Resolve(target, &destination, error)) return nullptr;
    destinations.push_back(std::move(destination));
  }
  return std::make_unique<UdpFeed>(std::move(destinations));
}

}  // namespace zol
