// A key source that gives keys typed ahead by the program itself before the
// keys of the device it stands in front of. An unattended start types each
// answer this way, so the line editor takes and echoes it exactly as if the
// operator had typed it.
#pragma once

#include <deque>
#include <mutex>
#include <string_view>

#include "console/keys.h"

namespace zol {

class TypedAheadKeys final : public KeySource {
 public:
  // `device` stays the caller's and must outlive this source.
  explicit TypedAheadKeys(KeySource& device) : device_(device) {}

  // Queues `keys` after any still waiting.
  void Type(std::string_view keys);

  int GetKey() override;
  bool KeyWaiting() override;
  // Async-signal-safe as the device's is: the queue is not touched.
  void InterruptKeyWait() override { device_.InterruptKeyWait(); }

 private:
  KeySource& device_;
  std::mutex mutex_;
  std::deque<unsigned char> typed_;
};

}  // namespace zol
