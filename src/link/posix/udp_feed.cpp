#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "base/errno_text.h"
#include "base/posix/unique_fd.h"
#include "link/system_feed.h"

namespace zol {
namespace {

struct Destination {
  UniqueFd socket;
  sockaddr_storage address{};
  socklen_t addressLength = 0;
  FeedHealth health;
};

class UdpFeed final : public RecordFeed {
 public:
  explicit UdpFeed(std::vector<Destination> destinations)
      : destinations_(std::move(destinations)) {}

  void Send(const char* datagram, std::size_t length) override {
    for (Destination& d : destinations_) {
      // Never waits: a full socket buffer loses this record for this
      // destination, and the cycle goes on.
      const ssize_t sent = sendto(d.socket.Get(), datagram, length, MSG_DONTWAIT | MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&d.address), d.addressLength);
      d.health.Sent(sent == static_cast<ssize_t>(length) ? 0 : (sent < 0 ? errno : EMSGSIZE));
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
  const int status = getaddrinfo(target.host.c_str(), port.c_str(), &hints, &found);
  if (status != 0) {
    *error = "'" + target.Text() + "': " + gai_strerror(status);
    return false;
  }
  std::memcpy(&destination->address, found->ai_addr, found->ai_addrlen);
  destination->addressLength = found->ai_addrlen;
  destination->socket.Reset(socket(found->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  freeaddrinfo(found);
  if (!destination->socket.Valid()) {
    *error = "'" + target.Text() + "': " + ErrnoText(errno);
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<RecordFeed> OpenUdpFeed(const std::vector<FeedTarget>& targets,
                                        std::string* error) {
  std::vector<Destination> destinations;
  destinations.reserve(targets.size());
  for (const FeedTarget& target : targets) {
    Destination destination{UniqueFd(), {}, 0, FeedHealth(target.Text())};
    if (!Resolve(target, &destination, error)) return nullptr;
    destinations.push_back(std::move(destination));
  }
  return std::make_unique<UdpFeed>(std::move(destinations));
}

}  // namespace zol
