// The sampling thread on the driven clock: alignment, the whole-second
// schedule, overruns and the exit code. The thread body runs on the test's
// thread; the ZOL peer signals the stop event after the cycles wanted.
#include "app/sampling_thread.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/cycle_lock.h"
#include "app/stop_event.h"
#include "cycle_fixture.h"

namespace zol::test {
namespace {

class SamplingThreadTest : public CycleFixture {
 protected:
  void SetUp() override {
    CycleFixture::SetUp();
    State().stopEvent = std::make_shared<AutoResetEvent>();
  }

  // Stops the thread at the end of the cycle that sends the n-th sleep.
  void StopAfterCycles(int cycles) {
    zol.onCommand = [this, cycles](const std::string& command) {
      if (command == "SLP" && ++sleeps_ == cycles) State().stopEvent->Set();
    };
  }

  // Start times of the cycles, from their Waking lines.
  std::vector<std::string> CycleStarts() {
    std::vector<std::string> starts;
    const std::string text = rig.console.Text();
    for (size_t at = text.find("Waking ZOL"); at != std::string::npos;
         at = text.find("Waking ZOL", at + 1)) {
      starts.push_back(Stamps(text.substr(at, text.find('\n', at) - at)).at(0));
    }
    return starts;
  }

  int sleeps_ = 0;
};

TEST_F(SamplingThreadTest, WithoutAlignmentCyclesStartOnePeriodApart) {
  const int64_t start = rig.clock.WallSeconds();
  State().sampleRate = 2;
  zol.measureMs = 18'000;  // cycles of about 20 s
  StopAfterCycles(3);
  const int32_t noSync = -1;
  EXPECT_EQ(SampleThread(&noSync), kSampleThreadExitCode);
  EXPECT_EQ(CycleStarts(),
            (std::vector<std::string>{StampOf(start), StampOf(start + 120), StampOf(start + 240)}));
  EXPECT_EQ(State().sampleCount, 3u);
  EXPECT_EQ(rig.console.Text().find("Sync Time"), std::string::npos);
}

TEST_F(SamplingThreadTest, WithoutParameterThereIsNoAlignment) {
  const int64_t start = rig.clock.WallSeconds();
  StopAfterCycles(1);
  EXPECT_EQ(SampleThread(nullptr), kSampleThreadExitCode);
  EXPECT_EQ(CycleStarts(), std::vector<std::string>{StampOf(start)});
}

TEST_F(SamplingThreadTest, AlignmentStartsAtTheChosenMinute) {
  // 12:34:56 UTC, minute 40: the first cycle at 12:40:00, then every minute.
  const int64_t first = rig.clock.WallSeconds() + 304;
  StopAfterCycles(2);
  const int32_t minute = 40;
  EXPECT_EQ(SampleThread(&minute), kSampleThreadExitCode);
  const std::string console = rig.console.Text();
  EXPECT_EQ(console.substr(0, console.find("001,")),
            "\nSample Thread Sync Time, " + StampOf(first) + "\n\n");
  EXPECT_EQ(CycleStarts(), (std::vector<std::string>{StampOf(first), StampOf(first + 60)}));
}

TEST_F(SamplingThreadTest, SyncLineShowsLocalTime) {
  SetTimeZoneOffset(-5 * 3600);  // five hours east of UTC
  StopAfterCycles(1);
  const int32_t minute = 0;  // 12:34:56 UTC: the next full hour is 13:00 UTC
  SampleThread(&minute);
  EXPECT_EQ(rig.console.Text().substr(0, 51),
            "\nSample Thread Sync Time, Mon Jan 15 18:00:00 2024\n");
}

TEST_F(SamplingThreadTest, CycleThatOutlastsItsPeriodIsFollowedAtOnce) {
  UseCtd(false);
  ctd->noData = true;      // 45 s for the CTD's reply
  zol.measureMs = 24'000;  // and 24 s for the measurement
  StopAfterCycles(2);
  const int32_t noSync = -1;
  SampleThread(&noSync);
  const std::string text = rig.console.Text();
  const std::string firstEnd = Stamps(text.substr(text.find("001, Next Sample") - 40, 40)).back();
  const std::vector<std::string> starts = CycleStarts();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[1], firstEnd);  // the last step of the first cycle
}

TEST_F(SamplingThreadTest, StopBeforeTheFirstCycleRunsNone) {
  State().stopEvent->Set();
  const int32_t minute = 40;
  EXPECT_EQ(SampleThread(&minute), kSampleThreadExitCode);
  EXPECT_EQ(State().sampleCount, 0u);
  EXPECT_EQ(rig.serial.Sent(kZolPort), "");
}

TEST_F(SamplingThreadTest, ThreadReportsItsExitCodeToTheJoin) {
  rig.clock.HoldWaits(true);
  StartSamplingThread();
  rig.clock.AwaitHeldWaits(1);
  State().stopEvent->Set();
  EXPECT_EQ(JoinSamplingThread(), kSampleThreadExitCode);
  EXPECT_EQ(JoinSamplingThread(), 0u);  // nothing left to join
}

// A CTRL+F typed ahead may run its cycle before the thread's first step, and
// shows the next sample time: it must be set when the thread is started,
// aligned or not.
TEST_F(SamplingThreadTest, NextSampleTimeIsSetWhenTheThreadIsStarted) {
  const int64_t start = rig.clock.WallSeconds();
  rig.clock.HoldWaits(true);
  for (const int32_t minute : {40, -1}) {
    State().syncMinute = minute;
    State().nextSampleTime = 0;
    StartSamplingThread();
    {
      std::lock_guard lock(TheCycleLock());
      EXPECT_EQ(State().nextSampleTime, minute == 40 ? start + 304 : start) << minute;
    }
    State().stopEvent->Set();
    EXPECT_EQ(JoinSamplingThread(), kSampleThreadExitCode);
  }
  EXPECT_EQ(rig.console.Text(), "\nSample Thread Sync Time, " + StampOf(start + 304) + "\n\n");
}

}  // namespace
}  // namespace zol::test
