// A console key source fed by the test. When the script runs out it either
// reports that no key can be read (the input ended) or blocks until the test
// pushes more keys, as a quiet keyboard does.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string_view>

#include "console/keys.h"

namespace zol::test {

class ScriptedKeys final : public KeySource {
 public:
  explicit ScriptedKeys(std::string_view keys = {}, bool endWhenEmpty = true)
      : endWhenEmpty_(endWhenEmpty) {
    Push(keys);
  }

  void Push(std::string_view keys) {
    {
      std::lock_guard lock(mutex_);
      for (char c : keys)
        keys_.push_back(static_cast<unsigned char>(c));
    }
    changed_.notify_all();
  }
  void PushCode(int code) {
    {
      std::lock_guard lock(mutex_);
      keys_.push_back(code);
    }
    changed_.notify_all();
  }
  void SetEndWhenEmpty(bool end) {
    {
      std::lock_guard lock(mutex_);
      endWhenEmpty_ = end;
    }
    changed_.notify_all();
  }
  size_t Remaining() {
    std::lock_guard lock(mutex_);
    return keys_.size();
  }
  int ReadCount() {
    std::lock_guard lock(mutex_);
    return reads_;
  }

  int GetKey() override {
    std::unique_lock lock(mutex_);
    ++reads_;
    changed_.wait(lock, [&] { return !keys_.empty() || endWhenEmpty_ || interrupted_; });
    if (interrupted_) {
      interrupted_ = false;
      return kKeyInterrupted;
    }
    if (keys_.empty()) return kNoKey;
    const int key = keys_.front();
    keys_.pop_front();
    return key;
  }
  bool KeyWaiting() override {
    std::lock_guard lock(mutex_);
    return !keys_.empty();
  }
  void InterruptKeyWait() override {
    {
      std::lock_guard lock(mutex_);
      interrupted_ = true;
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<int> keys_;
  bool endWhenEmpty_;
  bool interrupted_ = false;
  int reads_ = 0;
};

}  // namespace zol::test
