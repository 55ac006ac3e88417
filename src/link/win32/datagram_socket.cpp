// The record feed's sockets over Winsock.
#include "link/datagram_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cerrno>
#include <cstring>

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

class UdpSocket final : public DatagramSocket {
 public:
  UdpSocket(SOCKET socket, const addrinfo& to) : socket_(socket) {
    std::memcpy(&address_, to.ai_addr, to.ai_addrlen);
    addressLength_ = static_cast<int>(to.ai_addrlen);
  }
  ~UdpSocket() override { ::closesocket(socket_); }
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // The socket does not block.
  int Send(const char* datagram, std::size_t length) override {
    const int sent = ::sendto(socket_, datagram, static_cast<int>(length), 0,
                              reinterpret_cast<const sockaddr*>(&address_), addressLength_);
    return sent == static_cast<int>(length) ? 0
           : sent < 0                       ? ErrnoFor(::WSAGetLastError())
                                            : EMSGSIZE;
  }

 private:
  SOCKET socket_;
  sockaddr_storage address_{};
  int addressLength_ = 0;
};

}  // namespace

std::unique_ptr<DatagramSocket> OpenDatagramSocket(const FeedTarget& target, std::string* error) {
  if (!StartWinsock()) {
    *error = "the network is not available";
    return nullptr;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(target.port);
  const int status = ::getaddrinfo(target.host.c_str(), port.c_str(), &hints, &found);
  if (status != 0) {
    *error = "'" + target.Text() + "': " + gai_strerrorA(status);
    return nullptr;
  }
  const SOCKET socket = ::socket(found->ai_family, SOCK_DGRAM, IPPROTO_UDP);
  std::unique_ptr<DatagramSocket> opened;
  u_long nonBlocking = 1;
  if (socket != INVALID_SOCKET) {
    opened = std::make_unique<UdpSocket>(socket, *found);
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) opened.reset();
  }
  ::freeaddrinfo(found);
  if (!opened) {
    *error = "'" + target.Text() + "': cannot open a socket (error " +
             std::to_string(::WSAGetLastError()) + ")";
  }
  return opened;
}

}  // namespace zol
