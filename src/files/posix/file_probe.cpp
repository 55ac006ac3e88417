#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/data_files.h"

namespace zol {

// Opening without blocking, so that a FIFO of the same name cannot hang the
// check; a file that cannot be opened for reading counts as absent.
bool CanOpenForReading(const char* path) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

long long FileSizeOf(const char* path) {
  struct stat info {};
  if (stat(path, &info) != 0) return -1;
  return static_cast<long long>(info.st_size);
}

}  // namespace zol
