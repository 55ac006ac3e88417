// The pass-through terminal on real time: keys go to the ZOL unchanged,
// the ZOL's bytes reach the console unchanged, CTRL+K leaves.
#include "app/interactive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app/cycle_lock.h"
#include "app/sampler_state.h"
#include "support/console_capture.h"
#include "support/fake_serial.h"
#include "support/instrument_peers.h"
#include "support/scripted_keys.h"

namespace zol::test {
namespace {

class InteractiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetState();
    InstallClock(&SystemClock());
    InstallSerialService(&serial);
    InstallKeySource(&keys);
    serial.Open(0, 1024, 1024);
  }
  void TearDown() override {
    InstallKeySource(nullptr);
    InstallSerialService(nullptr);
    ResetState();
  }

  FakeSerial serial{SystemClock()};
  ZolPeer zol{serial, SystemClock(), 0};
  ScriptedKeys keys{"", false};
  ConsoleCapture console;
};

TEST_F(InteractiveTest, PassesBytesBothWaysUntilCtrlK) {
  zol.wakeReply = "ACK\r\n>";  // a reply with a prompt and line ends of its own
  std::thread terminal([] { InteractiveMode(); });
  keys.Push("W");
  ASSERT_TRUE(console.WaitForText("ACK\r\n>\r\n"));
  keys.Push("\x1a\x06\r");  // command keys are ordinary characters here
  keys.Push("\x0b");
  terminal.join();
  EXPECT_EQ(console.Text(),
            "\n*** Starting Command Mode ( Type CTRL+K to exit )***\n\n"
            "ACK\r\n>\r\n"
            "\nGot CTRL+K - Exiting Command Mode\n");
  EXPECT_EQ(serial.Sent(0), "W\x1a\x06\r");
}

TEST_F(InteractiveTest, LeavesNoCancelBehindForTheNextWait) {
  std::thread terminal([] { InteractiveMode(); });
  keys.Push("\x0b");
  terminal.join();
  // The next cycle's first wait must run its full time.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(serial.WaitRx(0, 100), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
}

TEST_F(InteractiveTest, KeyboardGoneGivesThePortBack) {
  keys.SetEndWhenEmpty(true);
  InteractiveMode();
  // A cycle can take the port again.
  std::lock_guard lock(TheCycleLock());
  EXPECT_EQ(console.Text(), "\n*** Starting Command Mode ( Type CTRL+K to exit )***\n\n");
}

TEST_F(InteractiveTest, CycleWaitsForTheTerminalToEnd) {
  std::thread terminal([] { InteractiveMode(); });
  ASSERT_TRUE(console.WaitForText("CTRL+K to exit"));
  std::atomic<bool> cycleRan{false};
  std::thread cycle([&] {
    std::lock_guard lock(TheCycleLock());
    cycleRan = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(cycleRan);
  keys.Push("\x0b");
  terminal.join();
  cycle.join();
  EXPECT_TRUE(cycleRan);
}

}  // namespace
}  // namespace zol::test
