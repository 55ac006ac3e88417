#include "support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace zol::test {

PtyPair::PtyPair() {
  char name[128];
  if (::openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
  ::fcntl(master_, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
  slavePath_ = name;
}

PtyPair::~PtyPair() {
  CloseSlave();
  CloseMaster();
}

void PtyPair::WriteMaster(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(master_, bytes.data(), bytes.size());
    if (n <= 0) {
      pollfd room{master_, POLLOUT, 0};
      ::poll(&room, 1, 100);
      continue;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

std::string PtyPair::ReadMaster(size_t count, int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string got;
  while (got.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd ready{master_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[256];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n > 0) {
      got.append(buffer, static_cast<size_t>(n));
    } else if (n < 0 && errno != EAGAIN) {
      ::poll(nullptr, 0, 10);  // no slave open yet: look again shortly
    }
  }
  return got;
}

termios PtyPair::SlaveSettings() const {
  termios settings{};
  ::tcgetattr(slave_ >= 0 ? slave_ : master_, &settings);
  return settings;
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

void PtyPair::CloseSlave() {
  if (slave_ >= 0) ::close(slave_);
  slave_ = -1;
}

}  // namespace zol::test
