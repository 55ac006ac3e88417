// Scheduled cycles, forced cycles, the pass-through terminal and control
// events all at once, on the real clock, many times. The ZOL on the line
// checks that one user at a time talks to it: a cycle's commands arrive
// whole and in order, with nothing from another user in between. Runs
// under ThreadSanitizer with the rest of the suite.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/control.h"
#include "app/interactive.h"
#include "app/keyboard.h"
#include "app/sampler_state.h"
#include "app/sampling_thread.h"
#include "app/stop_event.h"
#include "base/local_time.h"
#include "support/console_capture.h"
#include "support/fake_serial.h"
#include "support/instrument_peers.h"
#include "support/scripted_keys.h"
#include "support/temp_dir.h"
#include "support/text_lines.h"

namespace zol::test {
namespace {

constexpr int kZolPort = 0;
// What the operator types in the pass-through terminal: nothing the ZOL
// takes for a command of a cycle.
constexpr const char* kTyped = "help\r";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

// A healthy ZOL that reports every command arriving out of turn: while a
// cycle runs (from its wake-up to its sleep) only that cycle's next command
// is in order; between cycles only a wake-up, typed keys or CTRL+C.
class ExclusiveZol {
 public:
  explicit ExclusiveZol(FakeSerial& serial)
      : zol_([&serial](std::string_view bytes,
                       int delayMs) { serial.Deliver(kZolPort, bytes, delayMs); },
             SystemClock()) {
    zol_.measureMs = 5;
    zol_.replyDelayMs = 1;
    zol_.onCommand = [this](const std::string& command) {
      if (command != "SL") return;
      char record[64];
      std::snprintf(record, sizeof record, "1A2B, ZOL0042, REC %06d", ++recordsSent_);
      zol_.sampleRecord = record;
      sentRecords_.push_back(record);
    };
    serial.SetPeer(kZolPort, [this](int, std::string_view bytes) { Hear(std::string(bytes)); });
  }

  std::vector<std::string> Violations() {
    std::lock_guard lock(mutex_);
    return violations_;
  }
  std::vector<std::string> SentRecords() {
    std::lock_guard lock(mutex_);
    return sentRecords_;
  }
  int CtrlCs() {
    std::lock_guard lock(mutex_);
    return ctrlCs_;
  }
  int TypedChunks() {
    std::lock_guard lock(mutex_);
    return typedChunks_;
  }

 private:
  void Hear(std::string bytes) {
    std::lock_guard lock(mutex_);
    const std::string command = WithoutAcks(bytes);
    if (!command.empty()) Check(command);
    zol_.Hear(bytes);
  }

  static std::string WithoutAcks(std::string command) {
    for (const std::string ack : {"ACK\r\n", "NAK\r\n", "ACK\n", "NAK\n"}) {
      while (StartsWith(command, ack))
        command.erase(0, ack.size());
    }
    return command;
  }

  void Check(const std::string& command) {
    static const char* const kCycle[] = {"W", "MODE,1", "W", "CTD,", "W", "TS", "W", "SL", "SLP"};
    if (step_ > 0) {
      const std::string expected = kCycle[step_];
      const bool inTurn = expected == "CTD," ? StartsWith(command, expected) : command == expected;
      if (!inTurn) Report(command, expected);
      step_ = (step_ + 1) % std::size(kCycle);
      return;
    }
    if (command == "W") {
      step_ = 1;
      return;
    }
    // The double hears bytes when the program next reads, so keys typed at
    // the end of a session can come together with the CTRL+C held back
    // until the session ended; after them it is in turn, never before.
    std::string typed = command;
    for (; !typed.empty() && typed.back() == '\x03'; typed.pop_back())
      ++ctrlCs_;
    if (typed.find_first_not_of(kTyped) != std::string::npos) {
      Report(command, "a wake-up, typed keys or CTRL+C");
    } else if (!typed.empty()) {
      ++typedChunks_;
    }
  }

  void Report(const std::string& command, const std::string& expected) {
    std::ostringstream text;
    text << "got \"";
    for (char c : command)
      text << (c < ' ' ? '^' : c);
    text << "\" where " << expected << " was due";
    violations_.push_back(text.str());
  }

  std::mutex mutex_;
  ZolPeer zol_;
  size_t step_ = 0;
  int recordsSent_ = 0;
  int ctrlCs_ = 0;
  int typedChunks_ = 0;
  std::vector<std::string> sentRecords_;
  std::vector<std::string> violations_;
};

class StressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetState();
    SetTimeZoneOffset(0);
    SetDaylightFlag(0);
    InstallClock(nullptr);
    InstallSerialService(&serial);
    InstallKeySource(&keys);
    SamplerState& s = State();
    s.zolPort = kZolPort;
    s.ctdPort = -1;
    s.serialNumber = 42;
    s.sampleRate = 0;  // scheduled cycles back to back: the most contention
    s.sampleMode = 1;
    s.solutionTemp = 20.0f;
    s.solutionSal = 35.0f;
    s.syncMinute = -1;
    std::snprintf(s.logPath, kPathSize, "%s", dir.File("ZOL0042_KIRN.log").c_str());
    std::snprintf(s.datPath, kPathSize, "%s", dir.File("ZOL0042_KIRN.dat").c_str());
    std::snprintf(s.dat2Path, kPathSize, "%s", dir.File("ZOL0042_KIRN_2.dat").c_str());
    serial.Open(kZolPort, 1024, 1024);
    EnableControlHandler();
  }
  void TearDown() override {
    DisableControlHandler();
    InstallKeySource(nullptr);
    InstallSerialService(nullptr);
    ResetState();
  }

  FakeSerial serial{SystemClock()};
  ScriptedKeys keys;
  ConsoleCapture console;
  TempDir dir;
  ExclusiveZol zol{serial};
};

// Forced cycles, pass-through sessions and idle moments in a seeded order
// while the sampling thread runs; how many of the first two there were.
struct OperatorRounds {
  int forced = 0;
  int sessions = 0;
};
OperatorRounds RunOperatorRounds(ScriptedKeys& keys) {
  std::mt19937 rng(11);
  OperatorRounds done;
  for (int round = 0; round < 40; ++round) {
    switch (std::uniform_int_distribution<int>(0, 3)(rng)) {
      case 0:
      case 1:
        ForceSample();
        ++done.forced;
        break;
      case 2:
        if (done.sessions < 6) {
          keys.Push(kTyped);
          keys.PushCode(kKeyLeaveInteractive);
          InteractiveMode();
          ++done.sessions;
        }
        break;
      default:
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        break;
    }
  }
  return done;
}

// One whole block of step lines per cycle, cycles numbered in turn.
void ExpectOneWholeBlockPerCycle(const std::string& log, uint32_t cycles) {
  uint32_t blocks = 0;
  bool inBlock = false;
  for (const std::string& line : SplitLines(log)) {
    if (line.empty()) continue;
    char head[16];
    if (!inBlock) {
      std::snprintf(head, sizeof head, "%03u, ", ++blocks);
      ASSERT_TRUE(StartsWith(line, std::string(head) + "Waking ZOL, ")) << line;
      inBlock = true;
      continue;
    }
    std::snprintf(head, sizeof head, "%03u, ", blocks);
    ASSERT_TRUE(StartsWith(line, head)) << line;
    if (line.find(", Next Sample, ") != std::string::npos) inBlock = false;
  }
  EXPECT_FALSE(inBlock);
  EXPECT_EQ(blocks, cycles);
}

TEST_F(StressTest, OneUserOfTheZolAtATimeAndEveryRecordOnce) {
  State().stopEvent = std::make_shared<AutoResetEvent>();
  StartSamplingThread();

  std::atomic<bool> done{false};
  std::atomic<int> events{0};
  std::thread control([&] {
    std::mt19937 rng(7);
    while (!done.load()) {
      std::this_thread::sleep_for(
          std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 15)(rng)));
      ConsoleCtrlHandler(0);
      ++events;
    }
  });
  const OperatorRounds rounds = RunOperatorRounds(keys);
  State().stopEvent->Set();
  EXPECT_EQ(JoinSamplingThread(), kSampleThreadExitCode);
  done.store(true);
  control.join();

  EXPECT_EQ(zol.Violations(), std::vector<std::string>{});
  const uint32_t cycles = State().sampleCount;
  EXPECT_GT(cycles, static_cast<uint32_t>(rounds.forced));  // scheduled ones ran too
  EXPECT_GE(zol.CtrlCs(), 1);
  EXPECT_LE(zol.CtrlCs(), events.load());
  EXPECT_EQ(zol.TypedChunks() > 0, rounds.sessions > 0);

  // Every record the ZOL sent is stored once, in the order sent.
  std::vector<std::string> expected = zol.SentRecords();
  EXPECT_EQ(expected.size(), cycles);
  EXPECT_EQ(SplitLines(ReadFile(State().datPath)), expected);
  ASSERT_NO_FATAL_FAILURE(ExpectOneWholeBlockPerCycle(ReadFile(State().logPath), cycles));
  std::printf(
      "[ stress   ] %u cycles (%d forced), %d terminal sessions, %d control events, %d "
      "CTRL+C sent\n",
      cycles, rounds.forced, rounds.sessions, events.load(), zol.CtrlCs());
}

}  // namespace
}  // namespace zol::test
