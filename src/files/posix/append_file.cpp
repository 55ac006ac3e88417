#include "files/append_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

namespace zol {
namespace {

// Restores the file to `size` after a failed write; errno is kept.
void CutBack(int fd, off_t size) {
  const int saved = errno;
  if (ftruncate(fd, size) != 0) {
    // Not a regular file (a device): nothing to cut back.
  }
  errno = saved;
}

}  // namespace

std::unique_ptr<AppendFile> AppendFile::Open(const char* path) {
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return nullptr;
  return std::unique_ptr<AppendFile>(new AppendFile(fd));
}

AppendFile::~AppendFile() {
  (void)close(fd_);
}

bool AppendFile::AppendWhole(const char* bytes, size_t length) {
  if (length == 0) return true;
  struct stat before {};
  const bool sized = fstat(fd_, &before) == 0;
  const ssize_t written = write(fd_, bytes, length);
  if (written == static_cast<ssize_t>(length)) return true;
  if (written >= 0) errno = ShortWriteError(written);
  // A failed write(2) stored nothing; a short one stored a fragment.
  if (sized && written > 0) CutBack(fd_, before.st_size);
  return false;
}

bool AppendFile::Sync() {
  if (fsync(fd_) == 0) return true;
  return errno == EINVAL || errno == EROFS;
}

}  // namespace zol
