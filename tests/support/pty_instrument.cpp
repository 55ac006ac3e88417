#include "support/pty_instrument.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

namespace zol::test {
namespace {

constexpr auto kCommandGap = std::chrono::milliseconds(20);

int MsUntil(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(to - from).count();
  return static_cast<int>(std::clamp<int64_t>(ms, 0, INT_MAX));
}

}  // namespace

PtyLine::PtyLine() {
  char name[128] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    master_ = slave_ = -1;
    return;
  }
  slavePath_ = name;
  termios raw{};
  tcgetattr(slave_, &raw);
  cfmakeraw(&raw);
  tcsetattr(slave_, TCSANOW, &raw);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) stopPipe_[0] = stopPipe_[1] = -1;
}

PtyLine::~PtyLine() {
  if (thread_.joinable()) {
    const char stop = 's';
    (void)!write(stopPipe_[1], &stop, 1);
    thread_.join();
  }
  for (int fd : {master_, slave_, stopPipe_[0], stopPipe_[1]}) {
    if (fd >= 0) close(fd);
  }
}

ReplySink PtyLine::Sink() {
  return [this](std::string_view bytes, int delayMs) {
    Clock::time_point due = Clock::now() + std::chrono::milliseconds(std::max(delayMs, 0));
    // Replies never overtake earlier ones.
    if (!replies_.empty()) due = std::max(due, replies_.back().due);
    replies_.push_back({due, std::string(bytes)});
  };
}

void PtyLine::Start(Listener listener) {
  listener_ = std::move(listener);
  thread_ = std::thread([this] { Serve(); });
}

int PtyLine::NextTimeoutMs(Clock::time_point now) const {
  int timeout = -1;
  if (!pending_.empty()) timeout = MsUntil(now, lastByteAt_ + kCommandGap);
  if (!replies_.empty()) {
    const int replyIn = MsUntil(now, replies_.front().due);
    timeout = timeout < 0 ? replyIn : std::min(timeout, replyIn);
  }
  return timeout;
}

void PtyLine::ReadMaster(Clock::time_point now) {
  char buf[512];
  const ssize_t got = read(master_, buf, sizeof buf);
  if (got <= 0) return;
  pending_.append(buf, static_cast<size_t>(got));
  lastByteAt_ = now;
  std::lock_guard lock(mutex_);
  received_.append(buf, static_cast<size_t>(got));
}

void PtyLine::WriteDueReplies(Clock::time_point now) {
  while (!replies_.empty() && replies_.front().due <= now) {
    const std::string& bytes = replies_.front().bytes;
    (void)!write(master_, bytes.data(), bytes.size());
    replies_.pop_front();
  }
}

void PtyLine::Serve() {
  for (;;) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    poll(fds, 2, NextTimeoutMs(Clock::now()));
    if (fds[1].revents != 0) return;
    const Clock::time_point now = Clock::now();
    if ((fds[0].revents & POLLIN) != 0) ReadMaster(now);
    if (!pending_.empty() && now - lastByteAt_ >= kCommandGap) {
      const std::string command = std::move(pending_);
      pending_.clear();
      std::lock_guard lock(mutex_);
      if (listener_) listener_(command);
    }
    WriteDueReplies(Clock::now());
  }
}

}  // namespace zol::test
