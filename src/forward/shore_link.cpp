#include "forward/shore_link.h"

#include <algorithm>
#include <deque>
#include <map>
#include <utility>

#include "base/clock.h"
#include "forward/cursor.h"
#include "forward/data_tail.h"
#include "forward/line_message.h"
#include "mqtt/mqtt_client.h"

namespace zol::forward {
namespace {

constexpr int64_t kSaveEveryMs = 1000;
constexpr const char* kStopped = "{\"state\":\"stopped\"}";
constexpr const char* kOffline = "{\"state\":\"offline\"}";

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// A message sent and not yet acknowledged: where its line ends.
struct InFlight {
  int mid = 0;
  uint64_t end = 0;
  bool acknowledged = false;
};

struct ShoreLink::FileState {
  LinkFile file;
  std::string name;
  DataTail tail;
  bool known = false;    // the generation is decided (the file was seen)
  Cursor acked;          // what the broker has acknowledged
  uint64_t next = 0;     // where the next line to send starts
  uint64_t counted = 0;  // the end of the whole lines counted in `pending`
  uint64_t pending = 0;  // whole lines in [acked.offset, counted)
  bool dirty = false;    // `acked` differs from the cursor file
  std::deque<InFlight> inFlight;

  explicit FileState(const LinkFile& f) : file(f), name(BaseName(f.path)), tail(f.path) {}
};

struct ShoreLink::Event {
  enum Kind { kConnected, kDisconnected, kAcknowledged } kind;
  int mid = 0;
  std::string reason;
};

ShoreLink::ShoreLink(LinkSettings settings)
    : settings_(std::move(settings)), where_(settings_.broker.url.Where()) {
  for (const LinkFile& file : settings_.files)
    files_.push_back(std::make_unique<FileState>(file));
}

ShoreLink::~ShoreLink() {
  Stop(0);
}

bool ShoreLink::Start(std::string* error) {
  mqtt::ClientOptions options;
  options.broker = settings_.broker;
  options.clientId = settings_.clientId;
  options.keepAliveSeconds = settings_.keepAliveSeconds;
  options.will = mqtt::Will{settings_.prefix + "/status", kOffline, true};
  options.maxInFlight = settings_.window + 1;  // the status beside the window
  mqtt::ClientCallbacks callbacks;
  callbacks.connected = [this](bool) { Post({Event::kConnected, 0, {}}); };
  callbacks.disconnected = [this](const std::string& reason) {
    Post({Event::kDisconnected, 0, reason});
  };
  callbacks.acknowledged = [this](int mid) { Post({Event::kAcknowledged, mid, {}}); };
  client_ = std::make_unique<mqtt::Client>(options, callbacks);
  Say("MQTT link: data to " + where_ + ", topic " + settings_.prefix + "\n");
  // The cursors are read before the first connection can be acknowledged.
  Prepare();
  if (!client_->Start(error)) return false;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error& e) {
    *error = e.what();
    return false;
  }
  return true;
}

void ShoreLink::Post(Event event) {
  std::lock_guard lock(mutex_);
  events_.push_back(std::move(event));
  wake_.notify_one();
}

void ShoreLink::Nudge() {
  std::lock_guard lock(mutex_);
  nudged_ = true;
  wake_.notify_one();
}

void ShoreLink::StatusChanged() {
  std::lock_guard lock(mutex_);
  statusChanged_ = true;
  nudged_ = true;
  wake_.notify_one();
}

void ShoreLink::Stop(int64_t graceMs) {
  {
    std::lock_guard lock(mutex_);
    if (!stopRequested_) stopDeadlineMs_ = MonotonicNowMs() + graceMs;
    stopRequested_ = true;
    wake_.notify_one();
  }
  if (thread_.joinable()) thread_.join();
  if (client_ != nullptr) client_->Stop();
}

void ShoreLink::Say(const std::string& line) {
  if (settings_.say) settings_.say(line);
}

// Each file's cursor as the disk has it: a cursor without its data file is
// stale; a file without a cursor is a new generation, born when the file
// was; a file shorter than its cursor was replaced.
void ShoreLink::Prepare() {
  for (auto& owned : files_) {
    FileState& file = *owned;
    const FileFacts facts = StatFile(file.file.path);
    const std::optional<Cursor> cursor = ReadCursor(file.file.path);
    if (!facts.exists) {
      if (cursor) RemoveCursor(file.file.path);
      continue;
    }
    if (!cursor) {
      NewGeneration(file, facts.bornSecond, nullptr);
    } else {
      file.known = true;
      file.acked = *cursor;
      file.next = file.counted = cursor->offset;
      Refresh(file);
    }
  }
  UpdateBacklog();
}

void ShoreLink::NewGeneration(FileState& file, int64_t bornSecond, const char* why) {
  if (why != nullptr) Say("MQTT link: " + file.name + " " + why + "\n");
  const int64_t generation =
      file.known ? std::max(bornSecond, file.acked.generation + 1) : bornSecond;
  file.known = true;
  file.acked = Cursor{0, generation};
  file.next = file.counted = file.pending = 0;
  file.tail.Forget();
  // Acknowledgements still to come for the old file count for nothing.
  inFlight_ -= static_cast<int>(file.inFlight.size());
  file.inFlight.clear();
  // The generation is on disk before any line of it goes out.
  file.dirty = WriteCursor(file.file.path, file.acked) != 0;
  const DataTail::Count count = file.tail.CountFrom(0);
  file.pending = count.lines;
  file.counted = count.end;
}

// Counts the lines written since the last look; a file that shrank is a new
// generation.
void ShoreLink::Refresh(FileState& file) {
  const FileFacts facts = StatFile(file.file.path);
  if (!facts.exists) return;
  if (!file.known) {
    NewGeneration(file, facts.bornSecond, nullptr);
    return;
  }
  if (facts.size < file.counted) {
    const std::string why = "is shorter than the " + std::to_string(file.acked.offset) +
                            " bytes already sent from it; it is sent again from its start as a "
                            "new generation";
    NewGeneration(file, facts.bornSecond, why.c_str());
    return;
  }
  const DataTail::Count count = file.tail.CountFrom(file.counted);
  file.pending += count.lines;
  file.counted = count.end;
}

void ShoreLink::UpdateBacklog() {
  uint64_t total = 0;
  for (const auto& file : files_)
    total += file->pending;
  backlog_ = total;
}

void ShoreLink::Connected() {
  connected_ = true;
  statusDue_ = true;
  if (outage_) {
    recovering_ = true;
  }
}

// Whatever was in flight goes again on the next connection, from the
// cursor.
void ShoreLink::Disconnected(const std::string& reason) {
  connected_ = false;
  inFlight_ = 0;
  stoppedMid_ = -1;
  for (auto& file : files_) {
    file->inFlight.clear();
    file->next = file->acked.offset;
  }
  recovering_ = false;
  if (!outage_) {
    outage_ = outageShown_ = true;
    sentSinceOutage_ = 0;
    Say("MQTT link to " + where_ + ": " + reason +
        "; records are kept and sent when it works again\n");
  }
}

void ShoreLink::Acknowledged(int mid) {
  if (mid == stoppedMid_) {
    stoppedAcknowledged_ = true;
    return;
  }
  for (auto& owned : files_) {
    FileState& file = *owned;
    auto found = std::find_if(file.inFlight.begin(), file.inFlight.end(),
                              [mid](const InFlight& f) { return f.mid == mid; });
    if (found == file.inFlight.end()) continue;
    found->acknowledged = true;
    --inFlight_;
    // The cursor moves over the acknowledged front only.
    while (!file.inFlight.empty() && file.inFlight.front().acknowledged) {
      const InFlight& front = file.inFlight.front();
      file.acked.offset = front.end;
      if (file.pending > 0) --file.pending;
      ++sentSinceOutage_;
      file.dirty = true;
      file.inFlight.pop_front();
    }
    return;
  }
}

void ShoreLink::Handle(const Event& event) {
  switch (event.kind) {
    case Event::kConnected:
      Connected();
      break;
    case Event::kDisconnected:
      Disconnected(event.reason);
      break;
    case Event::kAcknowledged:
      Acknowledged(event.mid);
      break;
  }
}

void ShoreLink::PublishStatus() {
  const std::string extra = "\"backlog\":" + std::to_string(backlog_.load());
  const std::string status = settings_.status ? settings_.status(extra) : "{" + extra + "}";
  if (client_->Publish(settings_.prefix + "/status", status, 1, true) >= 0) statusDue_ = false;
}

// Sends lines while the window has room; false when a send failed (the
// connection is going) or nothing more is there.
bool ShoreLink::PublishLines() {
  const std::string topic = settings_.prefix + "/data";
  view::ParsedLine scratch;
  for (auto& owned : files_) {
    FileState& file = *owned;
    TailLine line;
    // Only counted lines: the backlog always holds what is in flight.
    while (inFlight_ < settings_.window && file.known && file.next < file.counted &&
           file.tail.LineAt(file.next, &line)) {
      const LineOrigin origin{settings_.station, file.name, file.acked.generation, line.offset,
                              file.file.pump};
      const int mid = client_->Publish(
          topic, LineMessage(origin, line.text, line.eol, settings_.layout, scratch), 1, false);
      if (mid < 0) return false;
      file.inFlight.push_back({mid, line.End()});
      ++inFlight_;
      file.next = line.End();
    }
  }
  return true;
}

void ShoreLink::SaveCursors(bool now) {
  const int64_t nowMs = MonotonicNowMs();
  if (!now && lastSaveMs_ >= 0 && nowMs - lastSaveMs_ < kSaveEveryMs) return;
  bool saved = false;
  for (auto& file : files_) {
    if (!file->dirty) continue;
    file->dirty = WriteCursor(file->file.path, file->acked) != 0;
    saved = true;
  }
  if (saved) lastSaveMs_ = nowMs;
}

void ShoreLink::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    std::vector<Event> events;
    events.swap(events_);
    const bool nudged = std::exchange(nudged_, false);
    const bool statusChanged = std::exchange(statusChanged_, false);
    const bool stopRequested = stopRequested_;
    const int64_t deadline = stopDeadlineMs_;
    lock.unlock();

    for (const Event& event : events)
      Handle(event);
    if (nudged) {
      for (auto& file : files_)
        Refresh(*file);
    }
    UpdateBacklog();
    if (statusChanged) statusDue_ = true;
    if (stopRequested && !stopping_) {
      stopping_ = true;
      statusDue_ = false;
    }
    if (connected_ && stopping_ && stoppedMid_ < 0 && !stoppedAcknowledged_) {
      stoppedMid_ = client_->Publish(settings_.prefix + "/status", kStopped, 1, true);
    }
    if (connected_ && statusDue_ && !stopping_) PublishStatus();
    if (connected_) PublishLines();
    if (recovering_ && backlog_ == 0) {
      Say("MQTT link to " + where_ + " works again; " + std::to_string(sentSinceOutage_) +
          " lines sent from the backlog\n");
      recovering_ = outage_ = outageShown_ = false;
    }
    SaveCursors(false);

    const int64_t nowMs = MonotonicNowMs();
    if (stopping_) {
      // Done when all is acknowledged, when the link is down, or at the end
      // of the grace.
      const bool drained = stoppedAcknowledged_ && inFlight_ == 0 && backlog_ == 0;
      if (drained || (outage_ && !connected_) || nowMs >= deadline) break;
    }
    bool dirty = false;
    for (auto& file : files_)
      dirty = dirty || file->dirty;
    int64_t waitMs = dirty ? std::max<int64_t>(lastSaveMs_ + kSaveEveryMs - nowMs, 1) : -1;
    if (stopping_) waitMs = waitMs < 0 ? deadline - nowMs : std::min(waitMs, deadline - nowMs);
    lock.lock();
    if (!events_.empty() || nudged_ || statusChanged_ || stopRequested_ != stopping_) continue;
    if (waitMs < 0) {
      wake_.wait(lock);
    } else {
      CurrentClock().WaitOn(wake_, lock, waitMs);
    }
  }
  SaveCursors(true);
}

}  // namespace zol::forward
