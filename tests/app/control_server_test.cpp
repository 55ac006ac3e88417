// The control server over an in-memory channel on the driven clock: the
// limits that only time or a stalled client reaches (the idle connection,
// the follower left behind, the terminal nobody types in) and a stop while
// the terminal is open.
#include "app/control_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "app/cycle_lock.h"
#include "app/interactive.h"
#include "app/sampler_state.h"
#include "app/stop_request.h"
#include "support/console_capture.h"
#include "support/fake_clock.h"
#include "support/fake_serial.h"
#include "support/instrument_peers.h"
#include "support/scripted_keys.h"

namespace zol::test {
namespace {

constexpr std::size_t kNoLimit = std::size_t{1} << 40;

// Connections the test makes and types on; each takes `room` bytes of
// replies before it stops reading. Waits end on the test's bytes, room or a
// wake-up: the test moves time and then wakes the server.
class FakeListener final : public ControlListener {
 public:
  int Connect() {
    std::lock_guard lock(mutex_);
    pending_.push_back(next_);
    connections_[next_];
    changed_.notify_all();
    return next_++;
  }
  void Type(int connection, const std::string& bytes) {
    std::lock_guard lock(mutex_);
    connections_[connection].in += bytes;
    changed_.notify_all();
  }
  void SetRoom(int connection, std::size_t room) {
    std::lock_guard lock(mutex_);
    connections_[connection].room = room;
    changed_.notify_all();
  }
  // Real-time limits: only a fault makes these wait long.
  bool AwaitOutput(int connection, const std::string& text) {
    return Await([&] { return connections_[connection].out.find(text) != std::string::npos; });
  }
  bool AwaitClosed(int connection) {
    return Await([&] { return connections_[connection].closed; });
  }
  bool AwaitAccepted(int count) {
    return Await([&] { return accepted_ >= count; });
  }
  std::string Output(int connection) {
    std::lock_guard lock(mutex_);
    return connections_[connection].out;
  }
  bool Closed(int connection) {
    std::lock_guard lock(mutex_);
    return connections_[connection].closed;
  }

  void Wait(std::vector<ChannelWatch>& watches, int /*timeoutMs*/) override {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return Ready(watches) || woken_; });
    woken_ = false;
  }
  int Accept(std::string* peer) override {
    std::lock_guard lock(mutex_);
    if (pending_.empty()) return -1;
    const int connection = pending_.front();
    pending_.erase(pending_.begin());
    *peer = "uid 1000";
    ++accepted_;
    changed_.notify_all();
    return connection;
  }
  long Read(int connection, char* buffer, std::size_t size) override {
    std::lock_guard lock(mutex_);
    std::string& in = connections_[connection].in;
    const std::size_t count = std::min(size, in.size());
    in.copy(buffer, count);
    in.erase(0, count);
    return static_cast<long>(count);
  }
  long Write(int connection, const char* bytes, std::size_t size) override {
    std::lock_guard lock(mutex_);
    Connection& c = connections_[connection];
    const std::size_t count = std::min(size, c.room);
    c.out.append(bytes, count);
    c.room -= count;
    changed_.notify_all();
    return static_cast<long>(count);
  }
  void Close(int connection) override {
    std::lock_guard lock(mutex_);
    connections_[connection].closed = true;
    changed_.notify_all();
  }
  void Wake() override {
    std::lock_guard lock(mutex_);
    woken_ = true;
    changed_.notify_all();
  }
  void Unlink() override {}

 private:
  struct Connection {
    std::string in;
    std::string out;
    std::size_t room = kNoLimit;
    bool closed = false;
  };
  bool Ready(std::vector<ChannelWatch>& watches) {
    bool ready = false;
    for (ChannelWatch& w : watches) {
      if (w.connection == ChannelWatch::kListener) {
        w.readable = !pending_.empty();
      } else {
        const Connection& c = connections_[w.connection];
        w.readable = w.read && !c.in.empty();
        w.writable = w.write && c.room > 0;
      }
      ready = ready || w.readable || w.writable;
    }
    return ready;
  }
  template <typename Done>
  bool Await(Done done) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), done);
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int, Connection> connections_;
  std::vector<int> pending_;
  int next_ = 0;
  int accepted_ = 0;
  bool woken_ = false;
};

class ControlServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetState();
    ResetStopRequest();
    InstallClock(&clock);
    clock.HoldWaits(true);  // the terminal's echo stays parked on the port
    serial.ParkEmptyWaits(true);
    InstallSerialService(&serial);
    InstallKeySource(&keys);
    serial.Open(0, 1024, 1024);
    server.Start();
  }
  void TearDown() override {
    server.Stop();
    InstallKeySource(nullptr);
    InstallSerialService(nullptr);
    InstallClock(nullptr);
    ResetStopRequest();
    ResetState();
  }
  // A connection whose `lines` were all answered.
  int Ready(const std::string& lines) {
    const int connection = listener.Connect();
    listener.Type(connection, lines);
    EXPECT_TRUE(listener.AwaitOutput(connection, "}\n"));
    return connection;
  }
  void MoveOn(int64_t ms) {
    clock.Advance(ms);
    listener.Wake();
  }

  FakeClock clock;
  FakeSerial serial{clock};
  ZolPeer zol{serial, clock, 0};
  ScriptedKeys keys{"", false};
  ConsoleCapture console;
  FakeListener& listener = *new FakeListener;
  ControlServer server{std::unique_ptr<ControlListener>(&listener)};
};

TEST_F(ControlServerTest, ConnectionsWithoutACommandForAMinuteAreClosed) {
  const int idle = listener.Connect();
  const int half = listener.Connect();
  listener.Type(half, "stat");
  const int follower = Ready("status\nfollow\n");
  const int active = Ready("status\n");
  ASSERT_TRUE(listener.AwaitAccepted(4));
  MoveOn(30'000);
  listener.Type(active, "status\n");
  ASSERT_TRUE(listener.AwaitOutput(active, "}\n{"));
  MoveOn(30'000);
  for (const int connection : {idle, half}) {
    EXPECT_TRUE(listener.AwaitClosed(connection));
    EXPECT_EQ(listener.Output(connection), "{\"error\":\"no command within 60 seconds\"}\n");
  }
  EXPECT_FALSE(listener.Closed(follower));
  EXPECT_FALSE(listener.Closed(active));
}

TEST_F(ControlServerTest, AFollowerTooFarBehindGetsALastLineAndIsClosed) {
  const int follower = Ready("status\nfollow\n");
  const std::string before = listener.Output(follower);
  listener.SetRoom(follower, 0);
  const std::string block(1024, 'x');
  for (std::size_t sent = 0; sent <= kMostControlBacklog; sent += block.size())
    server.Tee(block.data(), block.size());
  listener.SetRoom(follower, kNoLimit);
  EXPECT_TRUE(listener.AwaitClosed(follower));
  EXPECT_EQ(listener.Output(follower),
            before + "\nControl: follow ended: this client fell more than 64 KB behind\n");
}

TEST_F(ControlServerTest, TenQuietMinutesEndTheTerminalAndCommandsComeBack) {
  const int client = Ready("terminal\n");
  EXPECT_EQ(listener.Output(client), "{\"terminal\":\"open\"}\n");
  MoveOn(kTerminalIdleMs - 1);
  listener.Type(client, "\x0b");  // a byte: the clock starts again
  ASSERT_TRUE(console.WaitForText("closed (CTRL+K)\n"));
  listener.Type(client, "terminal\n");
  ASSERT_TRUE(listener.AwaitOutput(client, "}\n{\"terminal\":\"open\"}\n"));
  MoveOn(kTerminalIdleMs);
  EXPECT_TRUE(console.WaitForText("Control: ZOL terminal closed (10 minutes without a byte)\n"));
  listener.Type(client, "status\n");
  EXPECT_TRUE(listener.AwaitOutput(client, "{\"serial\""));
  EXPECT_EQ(serial.Sent(0), "");
}

TEST_F(ControlServerTest, StopEndsAnOpenTerminalAndFreesTheCycle) {
  Ready("terminal\n");
  const int other = Ready("stop\n");
  EXPECT_EQ(listener.Output(other), "{\"stopping\":true}\n");
  EXPECT_TRUE(StopRequested());
  server.Stop();
  EXPECT_TRUE(console.WaitForText("Control: ZOL terminal closed (stop)\n"));
  std::lock_guard cycle(TheCycleLock());
}

// CTRL+F checked the terminal just before a client asked for it: the
// console's sample takes the cycle lock first, and the terminal opens after.
TEST_F(ControlServerTest, AConsoleSampleThatGotInFirstNeverWaitsForTheTerminal) {
  ASSERT_TRUE(BeginConsoleSample());
  const int client = listener.Connect();
  listener.Type(client, "terminal\n");
  clock.AwaitHeldWaits(1);  // the terminal waits for the console's sample
  EXPECT_FALSE(BeginConsoleSample());
  {
    std::lock_guard cycle(TheCycleLock());
    EXPECT_EQ(listener.Output(client), "");
  }
  EndConsoleSample();
  EXPECT_TRUE(listener.AwaitOutput(client, "{\"terminal\":\"open\"}\n"));
}

}  // namespace
}  // namespace zol::test
