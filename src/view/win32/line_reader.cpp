#include "view/line_reader.h"

#include <windows.h>

namespace zol::view {
namespace {

HANDLE AsHandle(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// The system's text for `code`, without its line end.
std::string ErrorText(DWORD code) {
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  if (message.empty()) message = "error " + std::to_string(code);
  return message;
}

}  // namespace

void LineReader::OpenFile(const std::string& path) {
  // Shared for writing and deleting: the sampler keeps appending to the file.
  const HANDLE file = CreateFileA(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) error_ = ErrorText(GetLastError());
  handle_ = reinterpret_cast<intptr_t>(file);
}

void LineReader::CloseFile() {
  CloseHandle(AsHandle(handle_));
}

int64_t LineReader::ReadSome(char* into, size_t room) {
  DWORD got = 0;
  const DWORD ask = room > 1u << 30 ? 1u << 30 : static_cast<DWORD>(room);
  if (!ReadFile(AsHandle(handle_), into, ask, &got, nullptr)) {
    // A pipe whose writer has gone is at its end.
    const DWORD code = GetLastError();
    if (code != ERROR_BROKEN_PIPE) error_ = ErrorText(code);
    return -1;
  }
  return got;
}

}  // namespace zol::view
