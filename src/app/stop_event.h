// An auto-reset event: Set wakes one waiter, and the wait that sees it
// signalled resets it. The sampling thread waits on one between cycles.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zol {

class AutoResetEvent {
 public:
  // Signals the event; a wait in progress (or the next one) sees it.
  void Set();
  // True when the event was signalled (and it is reset again); false when
  // `ms` passed first on the installed clock. 0 or less just looks.
  bool WaitFor(int64_t ms);

 private:
  std::mutex mutex_;
  std::condition_variable signalled_;
  bool isSet_ = false;
};

}  // namespace zol
