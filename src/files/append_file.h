// The platform's part of a line file: one descriptor that takes appended
// pieces whole or not at all.
#pragma once

#include <cerrno>
#include <cstddef>
#include <memory>

namespace zol {

class AppendFile {
 public:
  // Opens `path` for appending, creating it when missing; nullptr with
  // errno set when it cannot be opened.
  static std::unique_ptr<AppendFile> Open(const char* path);
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Appends `bytes` with one write. When it fails or falls short the file
  // is cut back to its size before, and errno says why (a short write
  // without a reason: EFBIG when part went out, ENOSPC when nothing did).
  bool AppendWhole(const char* bytes, size_t length);
  // Puts what was written on disk; a device or pipe, which cannot be
  // synced, counts as synced.
  bool Sync();

 private:
  explicit AppendFile(int fd) : fd_(fd) {}

  int fd_;
};

// Why a write that gave `written` (0 or more) of more bytes fell short,
// when the system did not say.
inline int ShortWriteError(long long written) {
  return written == 0 ? ENOSPC : EFBIG;
}

}  // namespace zol
