#include "link/datagram_socket.h"

#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "base/errno_text.h"
#include "base/posix/unique_fd.h"

namespace zol {
namespace {

class UdpSocket final : public DatagramSocket {
 public:
  UdpSocket(UniqueFd socket, const addrinfo& to) : socket_(std::move(socket)) {
    std::memcpy(&address_, to.ai_addr, to.ai_addrlen);
    addressLength_ = to.ai_addrlen;
  }

  int Send(const char* datagram, std::size_t length) override {
    const ssize_t sent = sendto(socket_.Get(), datagram, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address_), addressLength_);
    return sent == static_cast<ssize_t>(length) ? 0 : (sent < 0 ? errno : EMSGSIZE);
  }

 private:
  UniqueFd socket_;
  sockaddr_storage address_{};
  socklen_t addressLength_ = 0;
};

}  // namespace

std::unique_ptr<DatagramSocket> OpenDatagramSocket(const FeedTarget& target, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string port = std::to_string(target.port);
  const int status = getaddrinfo(target.host.c_str(), port.c_str(), &hints, &found);
  if (status != 0) {
    *error = "'" + target.Text() + "': " + gai_strerror(status);
    return nullptr;
  }
  UniqueFd socket(::socket(found->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  std::unique_ptr<DatagramSocket> opened;
  if (socket.Valid()) opened = std::make_unique<UdpSocket>(std::move(socket), *found);
  if (!opened) *error = "'" + target.Text() + "': " + ErrnoText(errno);
  freeaddrinfo(found);
  return opened;
}

}  // namespace zol
