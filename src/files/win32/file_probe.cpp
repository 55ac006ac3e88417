#include <windows.h>

#include "base/win32/unique_handle.h"
#include "files/data_files.h"

namespace zol {

// A file that cannot be opened for reading counts as absent; others may
// have it open at the same time.
bool CanOpenForReading(const char* path) {
  const UniqueHandle file(::CreateFileA(path, GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.Valid();
}

long long FileSizeOf(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &info)) return -1;
  return static_cast<long long>((static_cast<unsigned long long>(info.nFileSizeHigh) << 32) |
                                info.nFileSizeLow);
}

}  // namespace zol
