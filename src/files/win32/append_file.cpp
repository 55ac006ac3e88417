// Appending on Windows through the C runtime's descriptors. Windows files
// have CR LF line ends, so each line end goes out as CR LF, within the one
// write of its piece.
#include "files/append_file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <string>

namespace zol {
namespace {

std::string WithCrLf(const char* bytes, size_t length) {
  std::string text;
  text.reserve(length + length / 8);
  for (size_t i = 0; i < length; ++i) {
    if (bytes[i] == '\n') text.push_back('\r');
    text.push_back(bytes[i]);
  }
  return text;
}

// Restores the file to `size` after a failed write; errno is kept.
void CutBack(int fd, long long size) {
  const int saved = errno;
  if (_chsize_s(fd, size) != 0) {
    // Not a disk file (a device): nothing to cut back.
  }
  errno = saved;
}

}  // namespace

std::unique_ptr<AppendFile> AppendFile::Open(const char* path) {
  const int fd = _open(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                       _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  return std::unique_ptr<AppendFile>(new AppendFile(fd));
}

AppendFile::~AppendFile() {
  (void)_close(fd_);
}

bool AppendFile::AppendWhole(const char* bytes, size_t length) {
  if (length == 0) return true;
  const std::string text = WithCrLf(bytes, length);
  if (text.size() > INT_MAX) {
    errno = EFBIG;
    return false;
  }
  const long long before = _filelengthi64(fd_);
  // The runtime takes errno from the system's last error even when the
  // system gave none (a short write), so a stale one must not be there.
  SetLastError(ERROR_SUCCESS);
  const int written = _write(fd_, text.data(), static_cast<unsigned>(text.size()));
  if (written == static_cast<int>(text.size())) return true;
  if (written >= 0) {
    errno = ShortWriteError(written);
  } else if (GetLastError() == ERROR_SUCCESS) {
    // A short write the runtime reports as failed; part of it may be
    // stored (under wine, at a file-size limit).
    errno = before >= 0 ? ShortWriteError(_filelengthi64(fd_) - before) : EFBIG;
  }
  if (before >= 0) CutBack(fd_, before);
  return false;
}

bool AppendFile::Sync() {
  if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd_))) != FILE_TYPE_DISK) return true;
  return _commit(fd_) == 0;
}

}  // namespace zol
