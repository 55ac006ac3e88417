// The console control events on Windows, named by the C runtime's signal
// numbers: what each does before and after the ports are open and sampling
// takes stop requests.
#include "app/signals.h"

#include <gtest/gtest.h>

#include <csignal>

#include "app/control.h"
#include "app/stop_request.h"
#include "support/scripted_keys.h"

namespace zol {
namespace {

class WindowsControlEventTest : public ::testing::Test {
 protected:
  // A stop request wakes the key reader.
  void SetUp() override { InstallKeySource(&keys_); }
  void TearDown() override {
    DisableControlHandler();
    ResetStopRequest();
    InstallKeySource(nullptr);
  }

 private:
  test::ScriptedKeys keys_;
};

TEST_F(WindowsControlEventTest, BeforeThePortsAreOpenEveryEventEndsTheStartUp) {
  EXPECT_EQ(ActionForSignal(SIGINT), SignalAction::kEndStartUp);
  EXPECT_EQ(ActionForSignal(SIGBREAK), SignalAction::kEndStartUp);
  EXPECT_EQ(ActionForSignal(SIGTERM), SignalAction::kEndStartUp);
}

TEST_F(WindowsControlEventTest, CtrlCAndCtrlBreakGoToTheHandlerCloseStopsInOrder) {
  EnableControlHandler();
  EXPECT_EQ(ActionForSignal(SIGINT), SignalAction::kControlEvent);
  EXPECT_EQ(ActionForSignal(SIGBREAK), SignalAction::kControlEvent);
  // The ports are open but sampling has not started: closing still ends it.
  EXPECT_EQ(ActionForSignal(SIGTERM), SignalAction::kEndStartUp);
  AcceptStopRequests();
  EXPECT_EQ(ActionForSignal(SIGTERM), SignalAction::kOrderlyStop);
  HandleSignal(SIGTERM);
  EXPECT_TRUE(StopRequested());
  EXPECT_EQ(ActionForSignal(SIGSEGV), SignalAction::kNone);
}

}  // namespace
}  // namespace zol
