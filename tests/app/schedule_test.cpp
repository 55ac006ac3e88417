// The schedule arithmetic of the sampling thread, the stop event it waits
// on, and the cycle lock that keeps cycles from overlapping.
#include "app/schedule.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "app/cycle_lock.h"
#include "app/stop_event.h"
#include "support/fake_clock.h"

namespace zol {
namespace {

// Seconds since 1970 of 2024-01-15 hh:mm:ss UTC.
constexpr int64_t At(int hours, int minutes, int seconds) {
  return 1705276800 + hours * 3600 + minutes * 60 + seconds;
}

TEST(ScheduleTest, AlignmentWaitsForTheChosenUtcMinute) {
  struct Case {
    int64_t now;
    int32_t syncMinute;
    int32_t waitMs;
  };
  const Case cases[] = {
      {At(12, 34, 56), 40, (5 * 60 + 4) * 1000},   // later this hour
      {At(12, 34, 56), 34, (59 * 60 + 4) * 1000},  // this minute: next hour
      {At(12, 34, 0), 34, 3600 * 1000},            // even at second 0
      {At(12, 59, 30), 0, 30 * 1000},              // the full hour
      {At(12, 0, 0), 0, 3600 * 1000},
      {At(12, 10, 1), 59, (48 * 60 + 59) * 1000},
      {At(0, 0, 0), 1, 60 * 1000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AlignmentWaitMs(c.now, c.syncMinute), c.waitMs)
        << "now " << c.now << " minute " << c.syncMinute;
  }
}

TEST(ScheduleTest, WaitAfterCycleRunsToTheNextSampleTime) {
  struct Case {
    int64_t next;
    int64_t now;
    uint16_t rate;
    int64_t waitMs;
  };
  const int64_t start = At(12, 0, 0);
  const Case cases[] = {
      {start + 120, start + 20, 2, 100'000},         // 2-minute period, 20 s cycle
      {start + 60, start, 1, 60'000},                // instant cycle: a whole period
      {start + 60, start + 60, 1, 0},                // ended right on time: at once
      {start + 60, start + 75, 1, 0},                // outlasted its period: at once
      {start + 60, start - 3600, 1, 60'000},         // clock stepped back: one period
      {start + 86400, start, 1440, 86'400'000},      // the longest period
      {start + 60, start - 400'000'000, 1, 60'000},  // no overflow on a wild step
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WaitAfterCycleMs(c.next, c.now, c.rate), c.waitMs) << "next - now " << c.next - c.now;
  }
}

class StopEventTest : public ::testing::Test {
 protected:
  void SetUp() override { InstallClock(&clock); }
  void TearDown() override { InstallClock(nullptr); }
  test::FakeClock clock;
};

TEST_F(StopEventTest, TimesOutOnTheInstalledClock) {
  AutoResetEvent event;
  const int64_t start = clock.MonotonicMs();
  EXPECT_FALSE(event.WaitFor(60'000));
  EXPECT_EQ(clock.MonotonicMs() - start, 60'000);
}

TEST_F(StopEventTest, SetIsSeenOnceAndResets) {
  AutoResetEvent event;
  event.Set();
  const int64_t start = clock.MonotonicMs();
  EXPECT_TRUE(event.WaitFor(60'000));
  EXPECT_EQ(clock.MonotonicMs(), start);
  EXPECT_FALSE(event.WaitFor(0));
}

TEST_F(StopEventTest, SetWakesAWaitOnAnotherThread) {
  clock.HoldWaits(true);
  AutoResetEvent event;
  std::atomic<bool> woke{false};
  std::thread waiter([&] { woke = event.WaitFor(3'600'000); });
  clock.AwaitHeldWaits(1);
  event.Set();
  waiter.join();
  EXPECT_TRUE(woke);
}

TEST(CycleLockTest, HandedOverWorkWaitsForTheHolder) {
  CycleLock lock;
  static std::atomic<int> runs;
  runs = 0;
  lock.lock();
  lock.RunWhenFree([] { ++runs; });
  lock.RunWhenFree([] { ++runs; });  // still pending: runs once
  EXPECT_EQ(runs, 0);
  lock.unlock();
  EXPECT_EQ(runs, 1);
  lock.RunWhenFree([] { ++runs; });  // free: at once
  EXPECT_EQ(runs, 2);
}

TEST(CycleLockTest, HandedOverWorkRunsBeforeTheNextHolder) {
  CycleLock lock;
  static std::vector<int> order;
  static std::mutex orderMutex;
  order.clear();
  lock.lock();
  std::thread next([&] {
    std::lock_guard guard(lock);
    std::lock_guard orderGuard(orderMutex);
    order.push_back(2);
  });
  lock.RunWhenFree([] {
    std::lock_guard orderGuard(orderMutex);
    order.push_back(1);
  });
  lock.unlock();
  next.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(CycleLockTest, OneHolderAtATime) {
  CycleLock lock;
  int inside = 0;
  int most = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        std::lock_guard guard(lock);
        most = std::max(most, ++inside);
        --inside;
      }
    });
  }
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(most, 1);
}

}  // namespace
}  // namespace zol
