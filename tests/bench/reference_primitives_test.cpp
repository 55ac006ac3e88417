// The reference of the bench must be the plain polling loops and nothing
// better: ReadLine pauses 1 ms whenever the queue is empty, GetcTimed and
// the drain of SendString poll without pausing, the pass-through terminal
// takes one byte a turn and pauses 1 ms when none came. None of them may
// use the blocking waits of the service.
//
// This file is built in the reference's namespace, zolref (bench/
// CMakeLists.txt), so the sampler's headers declare the reference's
// functions here.
#include "reference_primitives.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "app/sampler_state.h"
#include "base/clock.h"
#include "console/keys.h"
#include "link/serial_service.h"
#include "support/console_capture.h"

namespace zolref::test {
namespace {

constexpr int kPort = 0;

// A receive queue and transmit counts the test scripts; counts how the
// loops use them.
class ScriptedLine final : public SerialService {
 public:
  std::deque<unsigned char> rx;
  std::string tx;
  std::vector<int> txCounts;  // what TxCount answers in turn, then 0
  int rxCountCalls = 0;
  int txCountCalls = 0;
  int blockingWaits = 0;

  void Receive(const std::string& bytes) { rx.insert(rx.end(), bytes.begin(), bytes.end()); }
  std::string Queued() const { return std::string(rx.begin(), rx.end()); }

  int Open(int, int, int) override { return 0; }
  int Close(int) override { return 0; }
  int SetBaud(int, int) override { return 0; }
  int SetParams(int, int, int, int) override { return 0; }
  int Putc(int, int ch) override {
    tx.push_back(static_cast<char>(ch));
    return 0;
  }
  int Write(int, const char* buf, int len) override {
    tx.append(buf, static_cast<size_t>(len));
    return len;
  }
  int Getc(int) override {
    if (rx.empty()) return kSerialNoData;
    const int c = rx.front();
    rx.pop_front();
    return c;
  }
  int RxCount(int) override {
    ++rxCountCalls;
    return static_cast<int>(rx.size());
  }
  int TxCount(int) override {
    const size_t call = static_cast<size_t>(txCountCalls++);
    return call < txCounts.size() ? txCounts[call] : 0;
  }
  int RxClear(int) override {
    rx.clear();
    return 0;
  }
  int Break(int, int) override { return 0; }
  int Line(int, int) override { return 0; }
  int Version(int) override { return 0; }
  int ErrorText(char*, int) override { return 0; }
  int WaitRx(int, int) override {
    ++blockingWaits;
    return 0;
  }
  int WaitTxEmpty(int, int) override {
    ++blockingWaits;
    return 0;
  }
  void CancelWait(int) override {}
};

// Time moves by msPerLook at every look and by the length of every pause.
class SteppingClock final : public Clock {
 public:
  int msPerLook = 0;
  std::vector<int> pauses;

  int64_t WallSeconds() override { return nowMs_ / 1000; }
  int64_t MonotonicMs() override {
    nowMs_ += msPerLook;
    return nowMs_;
  }
  void SleepMs(int ms) override {
    pauses.push_back(ms);
    nowMs_ += ms;
  }

 private:
  int64_t nowMs_ = 1'000'000;
};

class ReferenceLoopsTest : public ::testing::Test {
 protected:
  ReferenceLoopsTest() {
    InstallSerialService(&line);
    InstallClock(&clock);
  }
  ~ReferenceLoopsTest() override {
    InstallClock(nullptr);
    InstallSerialService(nullptr);
  }

  ScriptedLine line;
  SteppingClock clock;
};

struct ReadLineCase {
  const char* name;
  std::string received;
  uint16_t len;
  uint16_t seconds;
  int count;
  std::string text;
  std::string left;
};

class ReferenceReadLineTest : public ReferenceLoopsTest,
                              public ::testing::WithParamInterface<ReadLineCase> {};

TEST_P(ReferenceReadLineTest, ReadsAsThePollingLoopDoes) {
  const ReadLineCase& c = GetParam();
  line.Receive(c.received);
  char buf[64] = "junk";
  EXPECT_EQ(ReadLine(kPort, buf, c.len, c.seconds), c.count);
  EXPECT_EQ(std::string(buf), c.text);
  EXPECT_EQ(line.Queued(), c.left);
  EXPECT_EQ(line.blockingWaits, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReferenceReadLineTest,
    ::testing::Values(ReadLineCase{"LeadingLineEndsSkipped", "\r\nOK\r\n", 32, 2, 2, "OK", "\n"},
                      ReadLineCase{"FullBuffer", std::string(40, 'a') + "\r\n", 32, 2, 31,
                                   std::string(31, 'a'), std::string(9, 'a') + "\r\n"},
                      ReadLineCase{"PartialLineAtTheLimit", "abc", 32, 2, 3, "abc", ""},
                      ReadLineCase{"OnlyLineEnds", "\r\n\r\n", 32, 2, 0, "", ""},
                      ReadLineCase{"Nothing", "", 32, 2, 0, "", ""},
                      ReadLineCase{"NoTimeTakesNothing", "OK\r\n", 32, 0, 0, "", "OK\r\n"}),
    [](const ::testing::TestParamInfo<ReadLineCase>& param) { return param.param.name; });

TEST_F(ReferenceLoopsTest, AnIdleReadLinePausesOneMillisecondAtATime) {
  char buf[32];
  EXPECT_EQ(ReadLine(kPort, buf, sizeof buf, 2), 0);
  EXPECT_EQ(clock.pauses, std::vector<int>(2000, 1));
  EXPECT_EQ(line.blockingWaits, 0);
}

TEST_F(ReferenceLoopsTest, GetcTimedSpinsWithoutPausing) {
  clock.msPerLook = 1;
  EXPECT_EQ(GetcTimed(kPort, 2), 0);
  EXPECT_TRUE(clock.pauses.empty());
  EXPECT_GE(line.rxCountCalls, 1999);
  EXPECT_EQ(line.blockingWaits, 0);

  line.Receive(">x");
  EXPECT_EQ(GetcTimed(kPort, 2), '>');
  EXPECT_EQ(GetcTimed(kPort, 0), 0);
  EXPECT_EQ(line.Queued(), "x");
}

TEST_F(ReferenceLoopsTest, SendStringPollsTheTransmitterUntilEmpty) {
  line.txCounts = {5, 3, 1, 0};
  EXPECT_EQ(SendString(kPort, "ACK\n"), 1);
  EXPECT_EQ(line.tx, "ACK\r\n");
  EXPECT_EQ(line.txCountCalls, 4);
  EXPECT_TRUE(clock.pauses.empty());
  EXPECT_EQ(line.blockingWaits, 0);

  line.tx.clear();
  EXPECT_EQ(SendString(kPort, "QS\r\n"), 1);
  EXPECT_EQ(line.tx, "QS\r\r\n");
}

// Keys that turn up only after the terminal has looked a number of times.
class LateKeys final : public KeySource {
 public:
  LateKeys(std::string keys, int looksBefore)
      : keys_(keys.begin(), keys.end()), wait_(looksBefore) {}
  int GetKey() override {
    if (keys_.empty()) return kNoKey;
    const int key = keys_.front();
    keys_.pop_front();
    return key;
  }
  bool KeyWaiting() override { return --wait_ < 0 && !keys_.empty(); }
  void InterruptKeyWait() override {}

 private:
  std::deque<unsigned char> keys_;
  int wait_;
};

TEST_F(ReferenceLoopsTest, ThePassThroughCopiesByteByByteAndPausesWhenIdle) {
  ConsoleCapture console;
  LateKeys keys("a\x1a\x0b", 10);
  InstallKeySource(&keys);
  ResetState();
  State().zolPort = kPort;
  line.Receive(std::string("hello\0\xff", 7));

  InteractiveMode();

  EXPECT_EQ(console.Text(),
            std::string("\n*** Starting Command Mode ( Type CTRL+K to exit )***\n\n") +
                std::string("hello\0\xff", 7) + "\nGot CTRL+K - Exiting Command Mode\n");
  // Every key but CTRL+K goes to the ZOL, untranslated.
  EXPECT_EQ(line.tx, "a\x1a");
  ASSERT_GE(clock.pauses.size(), 2u);
  EXPECT_EQ(clock.pauses.back(), 500);
  clock.pauses.pop_back();
  EXPECT_EQ(clock.pauses, std::vector<int>(clock.pauses.size(), 1));
  EXPECT_EQ(line.blockingWaits, 0);
  InstallKeySource(nullptr);
}

}  // namespace
}  // namespace zolref::test
