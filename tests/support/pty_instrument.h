// An instrument line on a pseudo-terminal, for tests that run the real
// program: the program opens SlavePath() (through ZOLSAMPLER_COM<n>), and a
// thread here serves the master side. It frames what the program sends into
// commands by a pause of 20 ms (commands carry no terminator), hands each to
// the listener (a ZolPeer or CtdPeer Hear), and writes the replies that the
// listener gives to Sink() when their delay has passed.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "support/instrument_peers.h"

namespace zol::test {

class PtyLine {
 public:
  using Listener = std::function<void(std::string_view command)>;

  PtyLine();
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  bool Ok() const { return master_ >= 0; }
  const std::string& SlavePath() const { return slavePath_; }

  // Where the listener's replies go. Call it only from within the listener.
  ReplySink Sink();
  // Starts serving the line; `listener` runs on the line's thread.
  void Start(Listener listener);

  // Runs `work` while the listener cannot run: for reading or changing the
  // peer's state from the test.
  template <class Work>
  auto Locked(Work work) {
    std::lock_guard lock(mutex_);
    return work();
  }
  // Every byte the program sent, in order.
  std::string Received() {
    return Locked([this] { return received_; });
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct Reply {
    Clock::time_point due;
    std::string bytes;
  };

  void Serve();
  // The poll timeout up to the next thing to do; -1 for none.
  int NextTimeoutMs(Clock::time_point now) const;
  void ReadMaster(Clock::time_point now);
  void WriteDueReplies(Clock::time_point now);

  int master_ = -1;
  int slave_ = -1;  // held open so the master never sees a hang-up
  int stopPipe_[2] = {-1, -1};
  std::string slavePath_;
  std::mutex mutex_;
  Listener listener_;
  std::string received_;
  // Used by the line's thread only.
  std::string pending_;
  Clock::time_point lastByteAt_;
  std::deque<Reply> replies_;
  std::thread thread_;
};

}  // namespace zol::test
