// Runs a program of the build as a child process and talks to it: its
// standard output line by line, its exit, and the ptys it offers.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

#include "support/temp_dir.h"

namespace zol::sim::test {

// Milliseconds left until `deadline`, for poll().
inline int MsUntil(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

using zol::test::TempDir;

class ChildProcess {
 public:
  // Starts `program` with `args`; standard output and error come back
  // through pipes, standard input is the given descriptor (or /dev/null).
  ChildProcess(const std::string& program, const std::vector<std::string>& args, int stdinFd = -1) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    } else {
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<std::string> words = {program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
      argv.push_back(word.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (pid_ > 0) pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  }
  ~ChildProcess() {
    if (Running()) {
      kill(pid_, SIGKILL);
      WaitExit(5000);
    }
    for (int fd : {out_, err_, pidFd_}) {
      if (fd >= 0) close(fd);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  bool Started() const { return pid_ > 0 && pidFd_ >= 0; }
  bool Running() const { return Started() && !status_; }

  // The next line of standard output, without its line end.
  std::optional<std::string> ReadLine(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      size_t end = outBuffer_.find('\n');
      if (end != std::string::npos) {
        std::string line = outBuffer_.substr(0, end);
        outBuffer_.erase(0, end + 1);
        return line;
      }
      if (!ReadMore(out_, outBuffer_, MsUntil(deadline))) return std::nullopt;
    }
  }

  // Everything the child wrote to standard error so far (after its exit:
  // all of it).
  std::string Errors() {
    while (ReadMore(err_, errBuffer_, 0)) {
    }
    return errBuffer_;
  }

  // The exit status, or -signal; nullopt while it still runs after timeoutMs.
  std::optional<int> WaitExit(int timeoutMs) {
    if (status_) return status_;
    pollfd fd{pidFd_, POLLIN, 0};
    if (poll(&fd, 1, timeoutMs) <= 0) return std::nullopt;
    int raw = 0;
    if (waitpid(pid_, &raw, 0) != pid_) return std::nullopt;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
    return status_;
  }

  std::optional<int> Stop(int signal = SIGTERM, int timeoutMs = 5000) {
    if (Running()) kill(pid_, signal);
    return WaitExit(timeoutMs);
  }

 private:
  static bool ReadMore(int fd, std::string& buffer, int timeoutMs) {
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, timeoutMs) <= 0) return false;
    char chunk[4096];
    ssize_t count = read(fd, chunk, sizeof chunk);
    if (count <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(count));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  int pidFd_ = -1;
  std::string outBuffer_;
  std::string errBuffer_;
  std::optional<int> status_;
};

// The sampler's side of a simulated serial line.
class PtyClient {
 public:
  explicit PtyClient(const std::string& path)
      : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
    termios settings{};
    if (fd_ >= 0 && tcgetattr(fd_, &settings) == 0) {
      cfmakeraw(&settings);
      tcsetattr(fd_, TCSANOW, &settings);
    }
  }
  ~PtyClient() {
    if (fd_ >= 0) close(fd_);
  }
  PtyClient(const PtyClient&) = delete;
  PtyClient& operator=(const PtyClient&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  bool Write(std::string_view bytes) {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Reads until `until` has come (returns all read up to and including it)
  // or the time is up (returns what came). Sets HungUp() when the line died.
  std::string ReadUntil(std::string_view until, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string got;
    while (got.find(until) == std::string::npos) {
      pollfd waiting{fd_, POLLIN, 0};
      if (poll(&waiting, 1, MsUntil(deadline)) <= 0) break;
      char chunk[4096];
      ssize_t count = read(fd_, chunk, sizeof chunk);
      if (count <= 0) {
        if (count < 0 && errno == EAGAIN) continue;
        hungUp_ = true;
        break;
      }
      got.append(chunk, static_cast<size_t>(count));
    }
    return got;
  }
  bool HungUp() const { return hungUp_; }

 private:
  int fd_;
  bool hungUp_ = false;
};

}  // namespace zol::sim::test
