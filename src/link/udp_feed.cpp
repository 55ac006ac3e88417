#include <utility>

#include "link/datagram_socket.h"
#include "link/system_feed.h"

namespace zol {
namespace {

struct Destination {
  std::unique_ptr<DatagramSocket> socket;
  FeedHealth health;
};

class UdpFeed final : public RecordFeed {
 public:
  explicit UdpFeed(std::vector<Destination> destinations)
      : destinations_(std::move(destinations)) {}

  void Send(const char* datagram, std::size_t length) override {
    // Never waits: a full socket buffer loses this record for this
    // destination, and the cycle goes on.
    for (Destination& d : destinations_)
      d.health.Sent(d.socket->Send(datagram, length));
  }

 private:
  std::vector<Destination> destinations_;
};

}  // namespace

std::unique_ptr<RecordFeed> OpenUdpFeed(const std::vector<FeedTarget>& targets,
                                        std::string* error) {
  std::vector<Destination> destinations;
  destinations.reserve(targets.size());
  for (const FeedTarget& target : targets) {
    std::unique_ptr<DatagramSocket> socket = OpenDatagramSocket(target, error);
    if (!socket) return nullptr;
    destinations.push_back(Destination{std::move(socket), FeedHealth(target.Text())});
  }
  return std::make_unique<UdpFeed>(std::move(destinations));
}

}  // namespace zol
