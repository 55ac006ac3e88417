// A clock the test drives: time moves only when a pause, a wait of the fake
// serial service, a wait on a condition (WaitOn), or the test itself
// advances it. A wait moves time to its deadline at once, unless the test
// holds waits (HoldWaits): then a wait on a condition lasts until the
// condition is notified, so a thread can be parked in a long wait while
// another thread acts. Safe to share between threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/clock.h"

namespace zol::test {

class FakeClock final : public Clock {
 public:
  // Wall clock starts at 2024-01-15 12:34:56 UTC unless told otherwise.
  explicit FakeClock(int64_t wallStartSeconds = 1705322096) : wallMs_(wallStartSeconds * 1000) {}

  int64_t WallSeconds() override {
    std::lock_guard lock(mutex_);
    return wallMs_ / 1000;
  }
  int64_t MonotonicMs() override {
    std::lock_guard lock(mutex_);
    return monoMs_;
  }
  void SleepMs(int ms) override {
    if (ms > 0) Advance(ms);
  }
  void WaitOn(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
              int64_t ms) override {
    if (holdWaits_.load()) {
      SetHeld(+1);
      cv.wait(lock);
      SetHeld(-1);
    } else if (ms > 0) {
      Advance(ms);
    }
  }
  // While held, waits on conditions end only when notified; time stands still.
  void HoldWaits(bool hold) { holdWaits_.store(hold); }
  // Blocks until `count` threads are parked in held waits.
  void AwaitHeldWaits(int count) {
    std::unique_lock lock(mutex_);
    heldChanged_.wait(lock, [&] { return held_ >= count; });
  }

  void Advance(int64_t ms) {
    std::lock_guard lock(mutex_);
    monoMs_ += ms;
    wallMs_ += ms;
  }
  // Steps the wall clock only, as NTP would.
  void SetWallSeconds(int64_t seconds) {
    std::lock_guard lock(mutex_);
    wallMs_ = seconds * 1000;
  }
  int64_t WallMs() {
    std::lock_guard lock(mutex_);
    return wallMs_;
  }

 private:
  std::mutex mutex_;
  void SetHeld(int delta) {
    {
      std::lock_guard lock(mutex_);
      held_ += delta;
    }
    heldChanged_.notify_all();
  }

  std::atomic<bool> holdWaits_{false};
  std::condition_variable heldChanged_;
  int held_ = 0;
  int64_t monoMs_ = 1'000'000;
  int64_t wallMs_;
};

}  // namespace zol::test
