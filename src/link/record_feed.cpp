#include "link/record_feed.h"

#include <atomic>
#include <charconv>
#include <cstring>

#include "base/console_out.h"
#include "base/errno_text.h"

namespace zol {
namespace {

std::atomic<RecordFeed*> g_feed{nullptr};

// Room for the longest file name, a TAB, the longest record and the line end.
constexpr std::size_t kDatagramSize = 2048;

bool ParsePort(std::string_view text, uint16_t* port) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (text.empty() || result.ec != std::errc() || result.ptr != end) return false;
  if (value < 1 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

// What a host name or address may hold: printable ASCII without blanks or
// brackets, so that it reaches the resolver whole and reads back the same.
bool IsHostText(std::string_view host) {
  for (const char c : host) {
    if (c <= ' ' || c >= 0x7f || c == '[' || c == ']') return false;
  }
  return true;
}

bool ParseOneTarget(std::string_view item, FeedTarget* target, std::string* error) {
  const std::string shown(item);
  std::string_view host;
  std::string_view port;
  if (!item.empty() && item.front() == '[') {
    const std::size_t close = item.find(']');
    if (close == std::string_view::npos || close + 1 >= item.size() || item[close + 1] != ':') {
      *error = "'" + shown + "' is not [IPV6]:PORT";
      return false;
    }
    host = item.substr(1, close - 1);
    port = item.substr(close + 2);
  } else {
    const std::size_t colon = item.rfind(':');
    if (colon == std::string_view::npos) {
      *error = "'" + shown + "' has no :PORT";
      return false;
    }
    host = item.substr(0, colon);
    port = item.substr(colon + 1);
    if (host.find(':') != std::string_view::npos) {
      *error = "'" + shown + "': write an IPv6 address in brackets, [ADDRESS]:PORT";
      return false;
    }
  }
  if (host.empty()) {
    *error = "'" + shown + "' has no host";
    return false;
  }
  if (!IsHostText(host)) {
    *error = "'" + shown + "': a host holds no blanks, brackets or control characters";
    return false;
  }
  if (!ParsePort(port, &target->port)) {
    *error = "'" + shown + "': the port must be 1..65535";
    return false;
  }
  target->host.assign(host);
  return true;
}

const char* LastComponent(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

}  // namespace

std::string FeedTarget::Text() const {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool ParseFeedTargets(std::string_view setting, std::vector<FeedTarget>* targets,
                      std::string* error) {
  targets->clear();
  if (setting.empty()) {
    *error = "empty; give HOST:PORT[,HOST:PORT...]";
    return false;
  }
  for (;;) {
    const std::size_t comma = setting.find(',');
    FeedTarget target;
    if (!ParseOneTarget(setting.substr(0, comma), &target, error)) return false;
    targets->push_back(std::move(target));
    if (comma == std::string_view::npos) return true;
    setting.remove_prefix(comma + 1);
  }
}

void InstallRecordFeed(RecordFeed* feed) {
  g_feed.store(feed, std::memory_order_release);
}

void FeedRecord(const char* path, const char* record) {
  RecordFeed* feed = g_feed.load(std::memory_order_acquire);
  if (feed == nullptr) return;
  char datagram[kDatagramSize];
  const int length =
      std::snprintf(datagram, sizeof datagram, "%s\t%s\n", LastComponent(path), record);
  if (length < 0) return;
  // A record longer than any the ZOL sends is cut, its line end kept.
  std::size_t size = static_cast<std::size_t>(length);
  if (size >= sizeof datagram) {
    size = sizeof datagram - 1;
    datagram[size - 1] = '\n';
  }
  feed->Send(datagram, size);
}

void FeedHealth::Sent(int error) {
  if (error == 0) {
    if (failing_) {
      ConsolePrintf("UDP feed to %s works again; %llu records were not sent\n",
                    destination_.c_str(), static_cast<unsigned long long>(lost_));
    }
    failing_ = false;
    lost_ = 0;
    return;
  }
  ++lost_;
  if (failing_) return;
  failing_ = true;
  ConsolePrintf("UDP feed to %s: %s; records are not sent until it works again\n",
                destination_.c_str(), ErrnoText(error).c_str());
}

}  // namespace zol
