// The keyboard command loop with a scripted keyboard and a real sampling
// thread parked in (or running) its schedule on the driven clock.
#include "app/keyboard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/control.h"
#include "app/cycle_lock.h"
#include "app/sampling_thread.h"
#include "app/stop_event.h"
#include "app/stop_request.h"
#include "console/prompts.h"
#include "cycle_fixture.h"
#include "support/windows_build.h"

namespace zol::test {
namespace {

const std::string kStopLines =
    "\nGot CTRL+Z - Terminating Sampling Thread\nThread Exit Code = 707\n";

class KeyboardTest : public CycleFixture {
 protected:
  void SetUp() override {
    CycleFixture::SetUp();
    ResetStopRequest();
    rig.keys.SetEndWhenEmpty(false);
    rig.serial.Open(kZolPort, 1024, 1024);
    State().stopEvent = std::make_shared<AutoResetEvent>();
  }
  void TearDown() override {
    ResetStopRequest();
    DisableControlHandler();
    SetBreakKeyHook(nullptr);
  }

  // Starts the thread and waits until it is parked in its first wait.
  void StartParkedThread(int32_t syncMinute) {
    State().syncMinute = syncMinute;
    rig.clock.HoldWaits(true);
    StartSamplingThread();
    rig.clock.AwaitHeldWaits(1);
  }
};

TEST_F(KeyboardTest, HelpUnknownKeysAndStop) {
  StartParkedThread(-1);
  rig.keys.Push("x\x08\x7f\x1a");
  const int64_t before = rig.clock.MonotonicMs();
  EXPECT_EQ(RunKeyboardLoop(), 0);
  EXPECT_EQ(rig.console.Text(),
            "Unrecognized Charater\n"
            "\nCommands: CTRL+F (Force Sample), CTRL+I (Interactive Mode), CTRL+Z (Exit)\n"
            "Unrecognized Charater\n" +
                kStopLines);
  // No cycle ran; one second's pause before the ports are released.
  EXPECT_EQ(State().sampleCount, 0u);
  EXPECT_EQ(rig.clock.MonotonicMs() - before, 1000);
  EXPECT_FALSE(rig.serial.IsOpen(kZolPort));
  EXPECT_EQ(State().stopEvent, nullptr);
}

TEST_F(KeyboardTest, StopClosesBothPortsCtdFirst) {
  UseCtd(false);
  rig.serial.Open(kCtdPort, 1024, 1024);
  StartParkedThread(-1);
  rig.keys.Push("\x1a");
  EXPECT_EQ(RunKeyboardLoop(), 0);
  EXPECT_FALSE(rig.serial.IsOpen(kCtdPort));
  EXPECT_FALSE(rig.serial.IsOpen(kZolPort));
}

TEST_F(KeyboardTest, ForcedCycleKeepsTheSchedule) {
  StartParkedThread(40);  // next scheduled sample 12:40:00
  const int64_t scheduled = rig.clock.WallSeconds() + 304;
  const int64_t pressed = rig.clock.WallSeconds();
  rig.keys.Push("\x06\x1a");
  EXPECT_EQ(RunKeyboardLoop(), 0);
  const std::string console = rig.console.Text();
  const std::string sync = "\nSample Thread Sync Time, " + StampOf(scheduled) + "\n\n";
  ASSERT_EQ(console.substr(0, sync.size()), sync);
  const std::string forced = console.substr(sync.size());
  EXPECT_NE(forced.find("001, Waking ZOL 0042, " + StampOf(pressed) + "\n"), std::string::npos);
  EXPECT_NE(forced.find("001, Next Sample, " + StampOf(scheduled) + "\n\n" + kStopLines),
            std::string::npos)
      << forced;
  EXPECT_EQ(State().nextSampleTime, scheduled);
  EXPECT_NE(Dat().find("1A2B"), std::string::npos);
}

TEST_F(KeyboardTest, ForcedCycleStampsItsOwnStart) {
  State().nowTime = 0;  // whatever an earlier cycle left
  rig.clock.Advance(7000);
  ForceSample();
  EXPECT_EQ(Stamps(rig.console.Text()).at(0), StampOf(1705322096 + 7));
  EXPECT_EQ(State().sampleCount, 1u);
}

TEST_F(KeyboardTest, StopDuringAScheduledCycleLetsItFinish) {
  if (test::kWindowsBuild) GTEST_SKIP() << "the data file's lines end in CR LF on Windows";
  // The stop key comes while the first cycle waits for its measurement.
  zol.onCommand = [this](const std::string& command) {
    if (command != "TS") return;
    rig.clock.HoldWaits(true);
    rig.keys.Push("\x1a");
  };
  State().syncMinute = -1;
  StartSamplingThread();
  EXPECT_EQ(RunKeyboardLoop(), 0);
  std::string console = rig.console.Text();
  const std::string heading = "\nGot CTRL+Z - Terminating Sampling Thread\n";
  const size_t at = console.find(heading);
  ASSERT_NE(at, std::string::npos);
  console.erase(at, heading.size());
  const std::string tail =
      "001, Next Sample, " + StampOf(State().nextSampleTime) + "\n\nThread Exit Code = 707\n";
  ASSERT_GE(console.size(), tail.size());
  EXPECT_EQ(console.substr(console.size() - tail.size()), tail);
  EXPECT_EQ(State().sampleCount, 1u);
  EXPECT_EQ(Dat(), "1A2B, ZOL0042, 2024/01/15 12:35:00, 1705322100, 12.35\n");
}

TEST_F(KeyboardTest, ControlKeysPassCtrlCToTheZol) {
  StartParkedThread(-1);
  rig.keys.Push("\x03\x1c\x1a");
  EXPECT_EQ(RunKeyboardLoop(), 0);
  EXPECT_EQ(rig.serial.Sent(kZolPort), "\x03\x03");
  EXPECT_EQ(rig.console.Text().find("Unrecognized"), std::string::npos);
  const std::vector<std::string> log = rig.serial.Log(kZolPort);
  EXPECT_EQ(std::count(log.begin(), log.end(), "rxclear"), 2);
}

TEST_F(KeyboardTest, ControlEventWaitsForTheCycleThatHoldsThePort) {
  TheCycleLock().lock();
  EXPECT_EQ(ConsoleCtrlHandler(0), 1);
  EXPECT_EQ(rig.serial.Sent(kZolPort), "");  // not in the middle of an exchange
  TheCycleLock().unlock();
  EXPECT_EQ(rig.serial.Sent(kZolPort), "\x03");
  EXPECT_EQ(rig.serial.Log(kZolPort).back(), "rxclear");
}

// CTRL+\ at a prompt is the control event, not a key: before the ports are
// open it changes nothing; after, the ZOL gets 3 and its queue is emptied.
// Either way the question waits on and takes its answer.
TEST_F(KeyboardTest, CtrlBackslashAtAPromptIsTheControlEvent) {
  SetBreakKeyHook(BreakKeyAtPrompt);
  for (const bool portsOpen : {false, true}) {
    SCOPED_TRACE(portsOpen);
    if (portsOpen) EnableControlHandler();
    rig.serial.ForgetHistory(kZolPort);
    rig.keys.Push("\x1cY\x1c\r");
    EXPECT_EQ(PromptYesNo("Sync?", 0), 1);
    EXPECT_EQ(rig.console.Take(), "Sync? (Yes/No) [N]Y");
    EXPECT_EQ(rig.serial.Sent(kZolPort), portsOpen ? "\x03\x03" : "");
    const std::vector<std::string> log = rig.serial.Log(kZolPort);
    EXPECT_EQ(std::count(log.begin(), log.end(), "rxclear"), portsOpen ? 2 : 0);
  }
}

TEST_F(KeyboardTest, KeyboardGoneSamplingGoesOnUntilTerminated) {
  rig.keys.SetEndWhenEmpty(true);
  int sleeps = 0;
  zol.onCommand = [&sleeps](const std::string& command) {
    if (command == "SLP" && ++sleeps == 3) RequestStop();
  };
  State().syncMinute = -1;
  StartSamplingThread();
  EXPECT_EQ(RunKeyboardLoop(), 0);
  EXPECT_EQ(rig.keys.ReadCount(), 1);  // no spinning on the closed input
  EXPECT_GE(State().sampleCount, 3u);
  const std::string console = rig.console.Text();
  EXPECT_NE(console.find("\nNo keyboard input: sampling goes on until the program is terminated\n"),
            std::string::npos);
  // The heading may come while a cycle is still running; the exit code
  // comes once it has ended.
  EXPECT_NE(console.find("\nGot SIGTERM - Terminating Sampling Thread\n"), std::string::npos);
  const size_t exitLine = console.find("Thread Exit Code = 707\n");
  EXPECT_EQ(exitLine + 23, console.size());
  EXPECT_GT(exitLine, console.rfind("Next Sample"));
}

TEST_F(KeyboardTest, StopRequestWakesTheKeyWait) {
  StartParkedThread(-1);
  std::thread terminator([] { RequestStop(); });
  EXPECT_EQ(RunKeyboardLoop(), 0);
  terminator.join();
  EXPECT_NE(rig.console.Text().find("Got SIGTERM"), std::string::npos);
}

}  // namespace
}  // namespace zol::test
