#include "console/typed_ahead_keys.h"

namespace zol {

void TypedAheadKeys::Type(std::string_view keys) {
  std::lock_guard lock(mutex_);
  typed_.insert(typed_.end(), keys.begin(), keys.end());
}

int TypedAheadKeys::GetKey() {
  {
    std::lock_guard lock(mutex_);
    if (!typed_.empty()) {
      const int key = typed_.front();
      typed_.pop_front();
      return key;
    }
  }
  return device_.GetKey();
}

bool TypedAheadKeys::KeyWaiting() {
  {
    std::lock_guard lock(mutex_);
    if (!typed_.empty()) return true;
  }
  return device_.KeyWaiting();
}

}  // namespace zol
