// The cycle lock: whoever holds it owns the ZOL and CTD ports, the run-time
// fields of SamplerState and the log and data files. A scheduled cycle, a
// forced cycle, the pass-through terminal and the start-up exchanges take
// it; whichever comes second waits for the first to end.
//
// Work that must not cut into an exchange (the console control event) is
// handed over with RunWhenFree: it runs at once when nobody holds the lock,
// otherwise the holder runs it as it lets go.
#pragma once

#include <condition_variable>
#include <mutex>

namespace zol {

class CycleLock {
 public:
  // BasicLockable, for std::lock_guard and std::unique_lock.
  void lock();
  void unlock();

  // Never blocks. A request made while one is still pending runs once.
  void RunWhenFree(void (*work)());

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool held_ = false;
  void (*pending_)() = nullptr;
};

// The process-wide lock.
CycleLock& TheCycleLock();

}  // namespace zol
