// The record feed over the platform's UDP sockets.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "link/record_feed.h"

namespace zol {

// Resolves every target (names through the system's resolver, once, now)
// and opens a non-blocking socket for each. On a fault returns nullptr and
// says which target and why in `error`.
std::unique_ptr<RecordFeed> OpenUdpFeed(const std::vector<FeedTarget>& targets, std::string* error);

}  // namespace zol
