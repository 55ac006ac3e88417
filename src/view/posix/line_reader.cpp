#include "view/line_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zol::view {

void LineReader::OpenFile(const std::string& path) {
  // Non-blocking open: a FIFO in place of a data file must not hang us.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) error_ = std::strerror(errno);
  handle_ = fd;
}

void LineReader::CloseFile() {
  close(static_cast<int>(handle_));
}

int64_t LineReader::ReadSome(char* into, size_t room) {
  ssize_t got;
  do {
    got = read(static_cast<int>(handle_), into, room);
  } while (got < 0 && errno == EINTR);
  if (got < 0) {
    // An empty FIFO's EAGAIN is its end, not a fault.
    if (errno != EAGAIN) error_ = std::strerror(errno);
    return -1;
  }
  return got;
}

}  // namespace zol::view
