#include "app/stop_event.h"

#include "base/clock.h"

namespace zol {

void AutoResetEvent::Set() {
  {
    std::lock_guard lock(mutex_);
    isSet_ = true;
  }
  signalled_.notify_one();
}

bool AutoResetEvent::WaitFor(int64_t ms) {
  std::unique_lock lock(mutex_);
  const int64_t deadline = MonotonicNowMs() + (ms > 0 ? ms : 0);
  for (;;) {
    if (isSet_) {
      isSet_ = false;
      return true;
    }
    const int64_t left = deadline - MonotonicNowMs();
    if (left <= 0) return false;
    CurrentClock().WaitOn(signalled_, lock, left);
  }
}

}  // namespace zol
