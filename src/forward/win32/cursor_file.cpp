// The cursor file on Windows: written beside its data file, flushed, then
// moved over the old one in one step, the move itself written through.
// Paths are taken as the C runtime's narrow functions take them (the ANSI
// code page), as the data files are opened.
#include <windows.h>

#include <cerrno>
#include <string>

#include "base/win32/unique_handle.h"
#include "forward/cursor.h"

namespace zol::forward {
namespace {

std::wstring Wide(const std::string& path) {
  const int length =
      ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0)
    ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(),
                          length);
  return wide;
}

int LastErrno() {
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    default:
      return EIO;
  }
}

// Seconds since 1970 from the system's 100 ns ticks since 1601.
int64_t UnixSeconds(const FILETIME& time) {
  const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

}  // namespace

FileFacts StatFile(const std::string& path) {
  FileFacts facts;
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &info)) return facts;
  facts.exists = true;
  facts.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  const FILETIME& born =
      (info.ftCreationTime.dwHighDateTime | info.ftCreationTime.dwLowDateTime) != 0
          ? info.ftCreationTime
          : info.ftLastWriteTime;
  facts.bornSecond = UnixSeconds(born);
  return facts;
}

std::optional<Cursor> ReadCursor(const std::string& dataFile) {
  const UniqueHandle file(::CreateFileW(Wide(CursorPath(dataFile)).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return std::nullopt;
  char buffer[kMaxCursorBytes + 1];
  DWORD got = 0;
  if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) || got == 0)
    return std::nullopt;
  return ParseCursor(std::string_view(buffer, got));
}

int WriteCursor(const std::string& dataFile, const Cursor& cursor) {
  const std::wstring path = Wide(CursorPath(dataFile));
  const std::wstring temporary = path + L".new";
  {
    const UniqueHandle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return LastErrno();
    const std::string text = FormatCursor(cursor);
    DWORD wrote = 0;
    if (!::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr))
      return LastErrno();
    if (wrote != text.size()) return EIO;
    if (!::FlushFileBuffers(file.Get())) return LastErrno();
  }
  if (!::MoveFileExW(temporary.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return LastErrno();
  return 0;
}

void RemoveCursor(const std::string& dataFile) {
  const std::wstring path = Wide(CursorPath(dataFile));
  ::DeleteFileW(path.c_str());
  ::DeleteFileW((path + L".new").c_str());
}

}  // namespace zol::forward
