// What each signal does at each point of the program's life, and the
// signal thread itself in a child process.
#include "app/signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "app/control.h"
#include "app/stop_request.h"
#include "support/test_rig.h"

namespace zol::test {
namespace {

class SignalsTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    DisableControlHandler();
    ResetStopRequest();
    SetTerminalRestorer(nullptr);
  }
  TestRig rig;
};

TEST_F(SignalsTest, ActionDependsOnThePhase) {
  struct Case {
    bool handler;
    bool loop;
    int signo;
    SignalAction action;
  };
  const Case cases[] = {
      // Dialogue: no handler yet, nothing to stop in order.
      {false, false, SIGINT, SignalAction::kEndStartUp},
      {false, false, SIGQUIT, SignalAction::kEndStartUp},
      {false, false, SIGTERM, SignalAction::kEndStartUp},
      {false, false, SIGHUP, SignalAction::kConsoleGone},
      // Ports open, start-up still asking.
      {true, false, SIGINT, SignalAction::kControlEvent},
      {true, false, SIGQUIT, SignalAction::kControlEvent},
      {true, false, SIGTERM, SignalAction::kEndStartUp},
      // Sampling.
      {true, true, SIGINT, SignalAction::kControlEvent},
      {true, true, SIGQUIT, SignalAction::kControlEvent},
      {true, true, SIGTERM, SignalAction::kOrderlyStop},
      {true, true, SIGHUP, SignalAction::kConsoleGone},
      {true, true, SIGUSR1, SignalAction::kNone},
  };
  for (const Case& c : cases) {
    Reset();
    if (c.handler) EnableControlHandler();
    if (c.loop) AcceptStopRequests();
    EXPECT_EQ(ActionForSignal(c.signo), c.action)
        << "signal " << c.signo << " handler " << c.handler << " loop " << c.loop;
  }
}

TEST_F(SignalsTest, InterruptSendsCtrlCToTheZol) {
  rig.serial.Open(0, 1024, 1024);
  EnableControlHandler();
  HandleSignal(SIGINT);
  HandleSignal(SIGQUIT);
  EXPECT_EQ(rig.serial.Sent(0), "\x03\x03");
  EXPECT_EQ(rig.console.Text(), "");
}

TEST_F(SignalsTest, TerminateWhileSamplingAsksTheKeyboardLoopToStop) {
  EnableControlHandler();
  AcceptStopRequests();
  HandleSignal(SIGTERM);
  EXPECT_TRUE(StopRequested());
  EXPECT_EQ(rig.keys.GetKey(), kKeyInterrupted);
}

TEST_F(SignalsTest, HangupDropsConsoleOutput) {
  HandleSignal(SIGHUP);
  ConsolePrintf("nobody sees this\n");
  EXPECT_EQ(rig.console.Text(), "");
}

void RestoreToStderr() {
  std::fputs("terminal restored\n", stderr);
}

TEST_F(SignalsTest, TerminateDuringStartUpEndsAtOnceWithStatusZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        SetTerminalRestorer(RestoreToStderr);
        HandleSignal(SIGTERM);
      },
      ::testing::ExitedWithCode(0), "terminal restored");
}

TEST_F(SignalsTest, SignalThreadTakesTheSignals) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        SetTerminalRestorer(RestoreToStderr);
        BlockControlSignals();
        StartSignalThread();
        kill(getpid(), SIGPIPE);  // ignored
        kill(getpid(), SIGTERM);  // start-up: ends the program
        pause();
      },
      ::testing::ExitedWithCode(0), "terminal restored");
}

}  // namespace
}  // namespace zol::test
