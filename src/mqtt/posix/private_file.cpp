#include "mqtt/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/posix/unique_fd.h"

namespace zol::mqtt {

SmallFile ReadSmallFile(const std::string& path, size_t limit) {
  SmallFile file;
  // The mode is taken from the descriptor read, so a file swapped in
  // between is not read under another's permissions.
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.Valid()) {
    file.error = errno;
    return file;
  }
  struct stat info {};
  if (::fstat(fd.Get(), &info) != 0) {
    file.error = errno;
    return file;
  }
  if (!S_ISREG(info.st_mode)) {
    file.error = EINVAL;
    return file;
  }
  file.othersMayRead = (info.st_mode & S_IROTH) != 0;
  char buffer[1024];
  for (;;) {
    const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      file.error = errno;
      return file;
    }
    if (got == 0) return file;
    if (file.content.size() + static_cast<size_t>(got) > limit) {
      file.tooLarge = true;
      return file;
    }
    file.content.append(buffer, static_cast<size_t>(got));
  }
}

}  // namespace zol::mqtt
