// Time for the whole program: wall-clock seconds stamp lines, files and the
// values sent to the instruments; time limits and pauses run on a monotonic
// clock so that a clock step never cuts a wait short or stretches it.
// Tests install a clock they drive (tests/support/fake_clock.h).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zol {

class Clock {
 public:
  virtual ~Clock() = default;
  // Whole seconds since 1970-01-01 UTC.
  virtual int64_t WallSeconds() = 0;
  // Milliseconds on a clock that never steps; its origin is arbitrary.
  virtual int64_t MonotonicMs() = 0;
  // Pauses the calling thread.
  virtual void SleepMs(int ms) = 0;
  // Blocks on `cv` (whose mutex `lock` holds) until it is notified or `ms`
  // pass on this clock. May return early: callers re-check their condition
  // and their deadline.
  virtual void WaitOn(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int64_t ms);
};

// The operating system's clocks.
Clock& SystemClock();

// The process-wide clock: the system's unless a test installed another.
Clock& CurrentClock();
// Makes `clock` the process-wide one (nullptr restores the system's). Not owned.
void InstallClock(Clock* clock);

// Shorthands over CurrentClock().
inline int64_t WallNow() {
  return CurrentClock().WallSeconds();
}
inline int64_t MonotonicNowMs() {
  return CurrentClock().MonotonicMs();
}
inline void PauseMs(int ms) {
  CurrentClock().SleepMs(ms);
}

}  // namespace zol
