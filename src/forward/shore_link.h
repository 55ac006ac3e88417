// The store-and-forward link to an MQTT broker: the data files are the
// queue. On a thread of its own it sends every whole line after each file's
// cursor, oldest first, as one QoS 1 message on `<prefix>/data`, a window of
// them in flight; it moves the cursor when the broker acknowledges (PUBACK),
// over the acknowledged front only, and writes it at most once a second and
// at the stop. The status goes to `<prefix>/status`, retained, with the
// backlog; the broker's last will there says "offline". A sample cycle
// never waits on any of it: it only nudges.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "mqtt/broker_settings.h"
#include "view/layout.h"

namespace zol::mqtt {
class Client;
}

namespace zol::forward {

struct LinkFile {
  std::string path;
  bool pump = false;  // the pump sample's file
};

struct LinkSettings {
  mqtt::BrokerSettings broker;
  std::string prefix;    // "zolsampler/ZOL0042"
  std::string station;   // "ZOL0042"
  std::string clientId;  // "zolsampler-ZOL0042-KIRN"
  view::Layout layout;   // the mode's columns
  std::vector<LinkFile> files;
  int keepAliveSeconds = 60;
  int window = 100;  // data messages in flight
  // The status object with `extraMembers` last; called on the link's thread.
  std::function<std::string(std::string_view extraMembers)> status;
  // A console line (with its line end).
  std::function<void(const std::string&)> say;
};

class ShoreLink {
 public:
  explicit ShoreLink(LinkSettings settings);
  // Stops without time to send.
  ~ShoreLink();
  ShoreLink(const ShoreLink&) = delete;
  ShoreLink& operator=(const ShoreLink&) = delete;

  // Says where the data goes and starts the link's thread.
  bool Start(std::string* error);
  // New lines may be in the files (after a record is stored); never blocks.
  void Nudge();
  // The status changed (after a cycle); never blocks.
  void StatusChanged();
  // Lines not yet acknowledged.
  uint64_t Backlog() const { return backlog_; }
  // The backlog while the broker cannot be reached or the backlog from
  // such a time still drains; 0 otherwise.
  uint64_t OutageBacklog() const { return outageShown_ ? backlog_.load() : 0; }
  // Publishes {"state":"stopped"}, sends what it can for at most `graceMs`,
  // writes the cursors and ends the thread.
  void Stop(int64_t graceMs);

 private:
  struct FileState;
  struct Event;
  void Run();
  void Prepare();
  void Handle(const Event& event);
  void Connected();
  void Disconnected(const std::string& reason);
  void Acknowledged(int mid);
  void Refresh(FileState& file);
  void NewGeneration(FileState& file, int64_t bornSecond, const char* why);
  bool PublishLines();
  void PublishStatus();
  void SaveCursors(bool now);
  void UpdateBacklog();
  bool Stopped();
  void Post(Event event);
  void Say(const std::string& line);

  LinkSettings settings_;
  std::string where_;  // HOST:PORT
  std::vector<std::unique_ptr<FileState>> files_;
  std::unique_ptr<mqtt::Client> client_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<Event> events_;  // under mutex_
  bool nudged_ = false;
  bool statusChanged_ = false;
  bool stopRequested_ = false;
  int64_t stopDeadlineMs_ = 0;

  // The link thread's own.
  bool connected_ = false;
  bool outage_ = false;      // reported, and not yet over
  bool recovering_ = false;  // connected again after an outage, backlog not yet drained
  uint64_t sentSinceOutage_ = 0;
  bool statusDue_ = false;
  bool stopping_ = false;
  int stoppedMid_ = -1;
  bool stoppedAcknowledged_ = false;
  int inFlight_ = 0;
  int64_t lastSaveMs_ = -1;
  std::atomic<uint64_t> backlog_{0};
  std::atomic<bool> outageShown_{false};
  std::thread thread_;
};

}  // namespace zol::forward
