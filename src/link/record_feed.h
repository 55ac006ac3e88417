// A live copy of every sample record for a ship's data system: one datagram
// per record, best effort, never holding up or failing a cycle.
//
// A datagram is the name of the data file the record belongs to, a TAB, the
// record as stored and a line end:
//   "ZOL0042_KIRN.dat\t<record>\n"      the data file
//   "ZOL0042_KIRN_2.dat\t<record>\n"    the second (pump) data file
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zol {

// One destination as written in the setting: a host (name, IPv4, or IPv6
// without its brackets) and a port number.
struct FeedTarget {
  std::string host;
  uint16_t port = 0;
  // "host:port", with brackets for IPv6, as the operator wrote it.
  std::string Text() const;
};

// Parses "HOST:PORT[,HOST:PORT...]" (IPv6 as "[::1]:PORT"). On a fault
// returns false and says what is wrong in `error`.
bool ParseFeedTargets(std::string_view setting, std::vector<FeedTarget>* targets,
                      std::string* error);

class RecordFeed {
 public:
  virtual ~RecordFeed() = default;
  // Sends one datagram to every destination without waiting.
  virtual void Send(const char* datagram, std::size_t length) = 0;
};

// The process-wide feed (nullptr: none, the default). Not owned.
void InstallRecordFeed(RecordFeed* feed);

// Sends `record`, stored in (or meant for) the file `path`, to the
// installed feed, if any. `path` is shown by its last component.
void FeedRecord(const char* path, const char* record);

// Makes a failing destination visible without flooding the console: one
// line when sends to it start failing, one when they work again with the
// count of records that did not go.
class FeedHealth {
 public:
  explicit FeedHealth(std::string destination) : destination_(std::move(destination)) {}
  // `error` is 0 for a send that went, else the system's error number.
  void Sent(int error);
  uint64_t Lost() const { return lost_; }

 private:
  std::string destination_;
  uint64_t lost_ = 0;  // in the current run of failures
  bool failing_ = false;
};

}  // namespace zol
