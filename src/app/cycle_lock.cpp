#include "app/cycle_lock.h"

namespace zol {

void CycleLock::lock() {
  std::unique_lock guard(mutex_);
  released_.wait(guard, [this] { return !held_; });
  held_ = true;
}

void CycleLock::unlock() {
  std::unique_lock guard(mutex_);
  // Handed-over work runs while the lock is still held, so nothing else can
  // start in between.
  while (pending_ != nullptr) {
    void (*work)() = pending_;
    pending_ = nullptr;
    guard.unlock();
    work();
    guard.lock();
  }
  held_ = false;
  guard.unlock();
  released_.notify_one();
}

void CycleLock::RunWhenFree(void (*work)()) {
  {
    std::lock_guard guard(mutex_);
    if (held_) {
      pending_ = work;
      return;
    }
    held_ = true;
  }
  work();
  unlock();
}

CycleLock& TheCycleLock() {
  // Never destroyed: the signal thread may still use it while the process exits.
  static CycleLock& lock = *new CycleLock;
  return lock;
}

}  // namespace zol
