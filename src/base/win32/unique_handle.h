// Owns a Win32 handle and closes it once.
#pragma once

#include <windows.h>

#include <utility>

namespace zol {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  // CreateFile fails with INVALID_HANDLE_VALUE, CreateEvent with null.
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }
  HANDLE Release() { return std::exchange(handle_, nullptr); }
  void Reset(HANDLE handle = nullptr) {
    if (Valid()) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// An unnamed event: auto-reset unless asked otherwise. Invalid on failure.
inline UniqueHandle NewEvent(bool manualReset = false) {
  return UniqueHandle(::CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr));
}

}  // namespace zol
