// The bench's instruments and measures, played against by hand over real
// pseudo-terminals: they must hold a reply for the command's time on the
// line, time the sampler's reaction, and catch every byte the terminal
// loses or changes.
#include "peers.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/posix/unique_fd.h"
#include "child_process.h"
#include "measure.h"
#include "support/pty_pair.h"

namespace bench {
namespace {

using Steady = std::chrono::steady_clock;

constexpr int kBaud = 9600;
constexpr double kByteMs = 10.0 * 1000 / kBaud;

double MsSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

TEST(PercentileTest, NearestRank) {
  std::vector<int64_t> thousand;
  for (int64_t i = 1000; i >= 1; --i)
    thousand.push_back(i);
  EXPECT_EQ(Percentile(thousand, 50), 500);
  EXPECT_EQ(Percentile(thousand, 99), 990);
  EXPECT_EQ(Percentile(thousand, 100), 1000);
  EXPECT_EQ(Percentile({7, 3, 5}, 50), 5);
  EXPECT_EQ(Percentile({}, 50), 0);
}

// The sampler's end of a line: the slave, raw.
class SamplerEnd {
 public:
  explicit SamplerEnd(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios raw{};
    ::tcgetattr(fd_.Get(), &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(fd_.Get(), TCSANOW, &raw);
  }
  void Send(std::string_view bytes) {
    ASSERT_EQ(::write(fd_.Get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What arrives until `count` bytes came or timeoutMs passed.
  std::string Receive(size_t count, int timeoutMs) {
    std::string got;
    const Steady::time_point deadline = Steady::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count && Steady::now() < deadline) {
      pollfd ready{fd_.Get(), POLLIN, 0};
      if (::poll(&ready, 1, 10) <= 0) continue;
      char chunk[256];
      const ssize_t n = ::read(fd_.Get(), chunk, std::min(sizeof chunk, count - got.size()));
      if (n > 0) got.append(chunk, static_cast<size_t>(n));
    }
    return got;
  }
  void Close() { fd_.Reset(); }

 private:
  zol::UniqueFd fd_;
};

// The instruments on a thread of their own, over two pseudo-terminals.
class InstrumentsTest : public ::testing::Test {
 protected:
  void Start(const ZolBehaviour& zol, const CtdBehaviour& ctd) {
    peer_ = std::thread([this, zol, ctd] {
      ended_ = RunInstruments(zolLine_.Master(), ctdLine_.Master(), kBaud, zol, ctd, record_);
    });
  }
  void TearDown() override {
    zolEnd_.Close();
    ctdEnd_.Close();
    zolLine_.CloseSlave();
    ctdLine_.CloseSlave();
    if (peer_.joinable()) peer_.join();
    EXPECT_EQ(ended_, 0);
  }

  zol::test::PtyPair zolLine_;
  zol::test::PtyPair ctdLine_;
  SamplerEnd zolEnd_{zolLine_.SlavePath()};
  SamplerEnd ctdEnd_{ctdLine_.SlavePath()};
  PeerRecord record_;
  std::thread peer_;
  int ended_ = -1;
};

TEST_F(InstrumentsTest, TheZolAnswersOnceTheCommandIsOnTheLineAndTimesTheNextOne) {
  Start(ZolBehaviour{.answers = true, .measureMs = 60}, CtdBehaviour{});
  struct Exchange {
    const char* command;
    const char* reply;
  };
  const Exchange exchanges[] = {
      {"W", "ACK\r\n"},
      {"MODE,1", "ACK,MODE,1\r\n"},
      {"CTD,1000,12.3400,35.5000,-5.00", "CTD,1000,12.3400,35.5000,-5.00\r\n"},
      {"SLP", "ACK,SLP\r\n"},
  };
  for (const Exchange& e : exchanges) {
    const Steady::time_point sent = Steady::now();
    zolEnd_.Send(e.command);
    const std::string reply(e.reply);
    EXPECT_EQ(zolEnd_.Receive(reply.size(), 2000), reply) << e.command;
    EXPECT_GE(MsSince(sent), std::string_view(e.command).size() * kByteMs * 0.95) << e.command;
  }
  // One reaction per command after the first reply.
  EXPECT_EQ(record_.samples.load(), 3);
  EXPECT_EQ(record_.commands.load(), 4);
  for (int i = 0; i < record_.samples.load(); ++i)
    EXPECT_GT(record_.reactionNs[i], 0);
}

TEST_F(InstrumentsTest, AMeasurementEndsAfterItsTime) {
  Start(ZolBehaviour{.answers = true, .measureMs = 80}, CtdBehaviour{});
  zolEnd_.Send("W");
  EXPECT_EQ(zolEnd_.Receive(5, 2000), "ACK\r\n");
  zolEnd_.Send("TS");
  EXPECT_EQ(zolEnd_.Receive(12, 2000), "ACK,TS,CMD\r\n");
  const Steady::time_point acknowledged = Steady::now();
  EXPECT_EQ(zolEnd_.Receive(12, 2000), "ACK,TS,DAT\r\n");
  EXPECT_GE(MsSince(acknowledged), 70);
  zolEnd_.Send("WSL");
  EXPECT_EQ(zolEnd_.Receive(5, 2000), "ACK\r\n");
  EXPECT_EQ(zolEnd_.Receive(200, 300), "1A2B, ZOL0042, 2024/01/15 12:35:00, 1705322100, 12.35\r\n");
}

TEST_F(InstrumentsTest, ASilentZolAnswersNothing) {
  Start(ZolBehaviour{.answers = false, .measureMs = -1}, CtdBehaviour{});
  zolEnd_.Send("WTSSLP");
  EXPECT_EQ(zolEnd_.Receive(1, 200), "");
}

TEST_F(InstrumentsTest, TheCtdPromptsAndSendsItsDataLine) {
  Start(ZolBehaviour{}, CtdBehaviour{.answersPoke = true, .dataMs = 40});
  ctdEnd_.Send("\r");
  EXPECT_EQ(ctdEnd_.Receive(2, 2000), "S>");
  const Steady::time_point asked = Steady::now();
  ctdEnd_.Send("pts\r");
  EXPECT_EQ(ctdEnd_.Receive(26, 2000), "12.345, 15.1234, 33.5678\r\n");
  EXPECT_GE(MsSince(asked), 40 + 4 * kByteMs * 0.95);
  ctdEnd_.Send("pumpon\rQS\r");
  EXPECT_EQ(ctdEnd_.Receive(1, 200), "");
}

TEST_F(InstrumentsTest, ACtdThatNeverWakesStaysQuiet) {
  Start(ZolBehaviour{}, CtdBehaviour{.answersPoke = false, .dataMs = -1});
  ctdEnd_.Send("\r\rpts\r");
  EXPECT_EQ(ctdEnd_.Receive(1, 200), "");
}

// The pass-through terminal played by hand: what the ZOL streams is copied
// to the console, perhaps with a fault.
class StreamTest : public ::testing::Test {
 protected:
  void Run(const StreamPlan& plan, int64_t corruptAt, int64_t dropAt) {
    std::thread peer([&] {
      ended_ = RunStream(zolLine_.Master(), console_.read.Get(), keys_.write.Get(), plan, record_);
    });
    zol::UniqueFd zol(::open(zolLine_.SlavePath().c_str(), O_RDWR | O_NOCTTY));
    termios raw{};
    ::tcgetattr(zol.Get(), &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(zol.Get(), TCSANOW, &raw);
    const std::string banner = "\n*** Starting Command Mode ( Type CTRL+K to exit )***\n\n";
    ASSERT_EQ(::write(console_.write.Get(), banner.data(), banner.size()),
              static_cast<ssize_t>(banner.size()));
    int64_t copied = 0;
    for (;;) {
      pollfd ready[2] = {{zol.Get(), POLLIN, 0}, {keys_.read.Get(), POLLIN, 0}};
      ASSERT_GT(::poll(ready, 2, 5000), 0);
      if (ready[1].revents != 0) break;
      char chunk[512];
      const ssize_t n = ::read(zol.Get(), chunk, sizeof chunk);
      ASSERT_GT(n, 0);
      std::string out;
      for (ssize_t i = 0; i < n; ++i, ++copied) {
        if (copied == dropAt) continue;
        out.push_back(copied == corruptAt ? static_cast<char>(chunk[i] ^ 1) : chunk[i]);
      }
      ASSERT_EQ(::write(console_.write.Get(), out.data(), out.size()),
                static_cast<ssize_t>(out.size()));
    }
    char key = 0;
    ASSERT_EQ(::read(keys_.read.Get(), &key, 1), 1);
    EXPECT_EQ(key, 11);
    console_.write.Reset();
    zol.Reset();
    zolLine_.CloseSlave();
    peer.join();
    EXPECT_EQ(record_.keyWaiting.load(), 1);
  }

  zol::test::PtyPair zolLine_;
  Pipe console_;
  Pipe keys_;
  StreamRecord record_;
  int ended_ = -1;
};

TEST_F(StreamTest, EveryByteArrivingInOrderPasses) {
  Run(StreamPlan{.bytes = 20000, .bytesPerSecond = 0}, -1, -1);
  EXPECT_EQ(ended_, 0);
  EXPECT_EQ(record_.verified.load(), 20000);
  EXPECT_EQ(record_.mismatchAt.load(), -1);
  EXPECT_GE(record_.lastVerifiedNs.load(), record_.firstSentNs.load());
}

TEST_F(StreamTest, AChangedByteIsFound) {
  Run(StreamPlan{.bytes = 20000, .bytesPerSecond = 0}, 12345, -1);
  EXPECT_EQ(ended_, 1);
  EXPECT_EQ(record_.mismatchAt.load(), 12345);
}

TEST_F(StreamTest, ALostByteIsFound) {
  Run(StreamPlan{.bytes = 20000, .bytesPerSecond = 0}, -1, 777);
  EXPECT_EQ(ended_, 1);
  // Unless the next byte happens to equal the lost one, it shows up there.
  const int64_t at = record_.mismatchAt.load();
  EXPECT_GE(at, 777);
  EXPECT_LE(at, 800);
}

TEST_F(StreamTest, APacedStreamTakesItsLineTime) {
  const Steady::time_point start = Steady::now();
  Run(StreamPlan{.bytes = 4000, .bytesPerSecond = 20000}, -1, -1);
  EXPECT_EQ(ended_, 0);
  const double seconds =
      static_cast<double>(record_.lastVerifiedNs.load() - record_.firstSentNs.load()) / 1e9;
  EXPECT_GE(seconds, 3999.0 / 20000);
  EXPECT_LT(seconds, 1.0);
  EXPECT_LT(MsSince(start), 5000);
}

TEST(StreamByteTest, StartsWithItsMarkerAndUsesEveryValue) {
  EXPECT_EQ(std::string({static_cast<char>(StreamByte(0)), static_cast<char>(StreamByte(1)),
                         static_cast<char>(StreamByte(2)), static_cast<char>(StreamByte(3)),
                         static_cast<char>(StreamByte(4))}),
            "BEGIN");
  bool seen[256] = {};
  for (int64_t n = 5; n < 100000; ++n)
    seen[StreamByte(n)] = true;
  for (int value = 0; value < 256; ++value)
    EXPECT_TRUE(seen[value]) << value;
}

}  // namespace
}  // namespace bench
