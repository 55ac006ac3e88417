// Makes every regular file of this process refuse to grow past a size, as a
// full disk does: a write that crosses it stores only what fits and then
// fails with EFBIG (SIGXFSZ is ignored meanwhile). Undone when it goes.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>

namespace zol::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    if (getrlimit(RLIMIT_FSIZE, &previous_) != 0) std::abort();
    rlimit limited = previous_;
    limited.rlim_cur = bytes;
    if (setrlimit(RLIMIT_FSIZE, &limited) != 0) std::abort();
  }
  ~FileSizeLimit() {
    if (setrlimit(RLIMIT_FSIZE, &previous_) != 0) std::abort();
    std::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  void (*previousHandler_)(int) = SIG_DFL;
};

}  // namespace zol::test
