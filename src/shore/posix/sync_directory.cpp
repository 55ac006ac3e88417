#include "shore/sync_directory.h"

#include <fcntl.h>
#include <unistd.h>

namespace zol::shore {

bool SyncDirectory(const char* path) {
  const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = fsync(fd) == 0;
  (void)close(fd);
  return synced;
}

}  // namespace zol::shore
