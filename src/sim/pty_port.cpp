#include "sim/pty_port.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace zol::sim {
namespace {

std::string SystemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

bool MakeRaw(int fd) {
  termios settings{};
  if (tcgetattr(fd, &settings) != 0) return false;
  cfmakeraw(&settings);
  settings.c_cflag |= CLOCAL | CREAD;
  return tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

std::unique_ptr<PtyPort> PtyPort::Open(std::string& error) {
  std::unique_ptr<PtyPort> port(new PtyPort());
  port->master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (port->master_ < 0) {
    error = SystemError("posix_openpt");
    return nullptr;
  }
  std::array<char, 128> name{};
  if (grantpt(port->master_) != 0 || unlockpt(port->master_) != 0 ||
      ptsname_r(port->master_, name.data(), name.size()) != 0) {
    error = SystemError("pseudo-terminal set-up");
    return nullptr;
  }
  port->devicePath_ = name.data();
  port->slave_ = open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  // Raw on both sides: no echo, no line editing, no CR/LF translation, so
  // every byte passes as the instruments send it.
  if (port->slave_ < 0 || !MakeRaw(port->slave_) || !MakeRaw(port->master_)) {
    error = SystemError(port->devicePath_.c_str());
    return nullptr;
  }
  int flags = fcntl(port->master_, F_GETFL);
  if (flags < 0 || fcntl(port->master_, F_SETFL, flags | O_NONBLOCK) != 0) {
    error = SystemError("fcntl");
    return nullptr;
  }
  return port;
}

PtyPort::~PtyPort() {
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

bool PortLink::Create(const std::string& linkPath, const std::string& target, std::string& error) {
  Remove();
  struct stat existing {};
  if (lstat(linkPath.c_str(), &existing) == 0) {
    if (!S_ISLNK(existing.st_mode)) {
      error = linkPath + " exists and is not a symbolic link; not replacing it";
      return false;
    }
    unlink(linkPath.c_str());  // left by an earlier run
  }
  if (symlink(target.c_str(), linkPath.c_str()) != 0) {
    error = SystemError(linkPath.c_str());
    return false;
  }
  linkPath_ = linkPath;
  target_ = target;
  return true;
}

void PortLink::Remove() {
  if (linkPath_.empty()) return;
  std::array<char, 256> pointsAt{};
  ssize_t length = readlink(linkPath_.c_str(), pointsAt.data(), pointsAt.size() - 1);
  if (length >= 0 && target_ == std::string(pointsAt.data(), static_cast<size_t>(length))) {
    unlink(linkPath_.c_str());
  }
  linkPath_.clear();
  target_.clear();
}

}  // namespace zol::sim
