// The pass-through terminal on the driven clock, its waits held so that the
// echo thread stays parked until bytes come: keys go to the ZOL unchanged,
// the ZOL's bytes reach the console unchanged, CTRL+K leaves.
#include "app/interactive.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/cycle_lock.h"
#include "app/sampler_state.h"
#include "support/console_capture.h"
#include "support/fake_clock.h"
#include "support/fake_serial.h"
#include "support/instrument_peers.h"
#include "support/scripted_keys.h"

namespace zol::test {
namespace {

class InteractiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetState();
    InstallClock(&clock);
    clock.HoldWaits(true);
    serial.ParkEmptyWaits(true);
    InstallSerialService(&serial);
    InstallKeySource(&keys);
    serial.Open(0, 1024, 1024);
  }
  void TearDown() override {
    InstallKeySource(nullptr);
    InstallSerialService(nullptr);
    InstallClock(nullptr);
    ResetState();
  }

  FakeClock clock;
  FakeSerial serial{clock};
  ZolPeer zol{serial, clock, 0};
  ScriptedKeys keys{"", false};
  ConsoleCapture console;
};

TEST_F(InteractiveTest, PassesBytesBothWaysUntilCtrlK) {
  zol.wakeReply = "ACK\r\n>";  // a reply with a prompt and line ends of its own
  std::thread terminal([] { InteractiveMode(); });
  keys.Push("W");
  ASSERT_TRUE(console.WaitForText("ACK\r\n>\r\n"));
  keys.Push("\x1a\x06\x1c\r");  // command keys are ordinary characters here; CTRL+\ is CTRL+C
  keys.Push("\x0b");
  terminal.join();
  EXPECT_EQ(console.Text(),
            "\n*** Starting Command Mode ( Type CTRL+K to exit )***\n\n"
            "ACK\r\n>\r\n"
            "\nGot CTRL+K - Exiting Command Mode\n");
  EXPECT_EQ(serial.Sent(0), "W\x1a\x06\x03\r");
}

TEST_F(InteractiveTest, LeavesNoCancelBehindForTheNextWait) {
  std::thread terminal([] { InteractiveMode(); });
  clock.AwaitHeldWaits(1);  // the echo thread waits on the port
  keys.Push("\x0b");
  terminal.join();
  // The next cycle's first wait must run its full time.
  clock.HoldWaits(false);
  const int64_t start = clock.MonotonicMs();
  EXPECT_EQ(serial.WaitRx(0, 100), 0);
  EXPECT_EQ(clock.MonotonicMs() - start, 100);
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
  // Work handed to the lock's holder runs only as the terminal lets go.
  static std::atomic<bool> ran;
  ran = false;
  TheCycleLock().RunWhenFree([] { ran = true; });
  EXPECT_FALSE(ran);
  keys.Push("\x0b");
  terminal.join();
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace zol::test
