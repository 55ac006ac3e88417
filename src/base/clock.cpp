#include "base/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace zol {
namespace {

class OsClock final : public Clock {
 public:
  int64_t WallSeconds() override {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
  int64_t MonotonicMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void SleepMs(int ms) override {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

std::atomic<Clock*> g_clock{nullptr};

}  // namespace

void Clock::WaitOn(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int64_t ms) {
  if (ms > 0) cv.wait_for(lock, std::chrono::milliseconds(ms));
}

Clock& SystemClock() {
  static OsClock clock;
  return clock;
}

Clock& CurrentClock() {
  Clock* clock = g_clock.load(std::memory_order_acquire);
  return clock != nullptr ? *clock : SystemClock();
}

void InstallClock(Clock* clock) {
  g_clock.store(clock, std::memory_order_release);
}

}  // namespace zol
