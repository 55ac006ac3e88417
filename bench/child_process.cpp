#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace bench {
namespace {

void MarkCloseOnExec(int fd) {
  ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

}  // namespace

PtyLine::PtyLine() {
  int master = -1;
  int slave = -1;
  char name[128];
  if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  master_.Reset(master);
  slave_.Reset(slave);
  MarkCloseOnExec(master);
  MarkCloseOnExec(slave);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  slavePath_ = name;
}

Pipe::Pipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  read.Reset(ends[0]);
  write.Reset(ends[1]);
}

ChildProcess::ChildProcess(const std::function<int()>& body) {
  // Whatever the parent buffered must not be written twice.
  std::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int status = 1;
    try {
      status = body();
    } catch (...) {
      status = 2;
    }
    std::fflush(nullptr);
    ::_exit(status);
  }
  pidfd_.Reset(static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)));
}

ChildProcess::~ChildProcess() {
  Finish(5000);
}

bool ChildProcess::Finish(int timeoutMs) {
  if (reaped_) return succeeded_;
  pollfd ended{pidfd_.Get(), POLLIN, 0};
  if (pidfd_.Valid() && ::poll(&ended, 1, timeoutMs) == 0) ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  reaped_ = true;
  succeeded_ = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return succeeded_;
}

}  // namespace bench
