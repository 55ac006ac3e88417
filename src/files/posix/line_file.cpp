#include "files/line_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/posix/unique_fd.h"

namespace zol {
namespace {

// A longer run without a line end is written as it stands rather than held.
constexpr size_t kMaxPendingBytes = size_t{64} * 1024;

struct LineFile {
  UniqueFd fd;
  std::string pending;  // bytes after the last complete line
  int firstError = 0;   // why the first lost line was lost
};

// Restores the file to `size` after a failed write; errno is kept.
void CutBack(int fd, off_t size) {
  const int saved = errno;
  if (ftruncate(fd, size) != 0) {
    // Not a regular file (a device): nothing to cut back.
  }
  errno = saved;
}

// Appends `bytes` in one write(2); on failure nothing of them stays.
bool AppendWhole(int fd, const char* bytes, size_t length) {
  if (length == 0) return true;
  struct stat before {};
  const bool sized = fstat(fd, &before) == 0;
  const ssize_t written = write(fd, bytes, length);
  if (written == static_cast<ssize_t>(length)) return true;
  if (written >= 0) errno = written == 0 ? ENOSPC : EFBIG;
  if (sized && written > 0) CutBack(fd, before.st_size);
  return false;
}

ssize_t WriteLines(void* cookie, const char* data, size_t size) {
  auto* file = static_cast<LineFile*>(cookie);
  file->pending.append(data, size);
  const size_t lastEnd = file->pending.rfind('\n');
  size_t complete = lastEnd == std::string::npos ? 0 : lastEnd + 1;
  if (complete == 0 && file->pending.size() > kMaxPendingBytes) complete = file->pending.size();
  if (complete == 0) return static_cast<ssize_t>(size);
  if (!AppendWhole(file->fd.Get(), file->pending.data(), complete) && file->firstError == 0) {
    file->firstError = errno;
  }
  // Lines that could not be stored are dropped, and the loss is reported
  // by fclose. Telling stdio of the failure would make it offer the rest of
  // its buffer again later: a fragment, out of order.
  file->pending.erase(0, complete);
  return static_cast<ssize_t>(size);
}

// Devices and pipes cannot be synced; that is no failure of the data.
bool SyncToDisk(int fd) {
  if (fsync(fd) == 0) return true;
  return errno == EINVAL || errno == EROFS;
}

int CloseLineFile(void* cookie) {
  auto* file = static_cast<LineFile*>(cookie);
  if (!AppendWhole(file->fd.Get(), file->pending.data(), file->pending.size()) &&
      file->firstError == 0) {
    file->firstError = errno;
  }
  if (!SyncToDisk(file->fd.Get()) && file->firstError == 0) file->firstError = errno;
  const int error = file->firstError;
  delete file;
  if (error == 0) return 0;
  errno = error;
  return -1;
}

}  // namespace

std::FILE* OpenLineFile(const char* path) {
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return nullptr;
  auto* file = new LineFile{UniqueFd(fd), {}};
  const cookie_io_functions_t functions{nullptr, WriteLines, nullptr, CloseLineFile};
  std::FILE* stream = fopencookie(file, "a", functions);
  if (stream == nullptr) {
    const int saved = errno;
    delete file;
    errno = saved;
    return nullptr;
  }
  // Each fprintf reaches the cookie at once, so a line is never held back
  // in a stdio buffer when the process dies; a stream that would hold lines
  // back is no line file.
  if (std::setvbuf(stream, nullptr, _IONBF, 0) != 0) {
    (void)std::fclose(stream);  // closes the descriptor; nothing was written
    errno = EIO;
    return nullptr;
  }
  return stream;
}

}  // namespace zol
