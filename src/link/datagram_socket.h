// One UDP socket of the record feed as the platform opens it; the feed
// itself (one socket a target, the health of each) is udp_feed.cpp.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "link/record_feed.h"

namespace zol {

class DatagramSocket {
 public:
  virtual ~DatagramSocket() = default;
  // Sends one datagram without waiting: 0 when all of it went, else the
  // reason as an errno value (a full buffer is EAGAIN).
  virtual int Send(const char* datagram, std::size_t length) = 0;
};

// Resolves `target` (names through the system's resolver, now) and opens a
// non-blocking socket to it. On a fault returns nullptr and says why in
// `error`, naming the target.
std::unique_ptr<DatagramSocket> OpenDatagramSocket(const FeedTarget& target, std::string* error);

}  // namespace zol
