#include "support/sampler_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace zol::test {
namespace {

std::string WithoutTerminalCr(const std::string& raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out.push_back(raw[i]);
  }
  return out;
}

// Program arguments and environment, ready before the fork: the child may
// only make async-signal-safe calls until it execs.
struct ExecImage {
  std::vector<std::string> args;
  std::vector<std::string> env;
  std::vector<char*> argv;
  std::vector<char*> envp;

  ExecImage(const std::vector<std::string>& arguments,
            const std::map<std::string, std::string>& overrides)
      : args(arguments) {
    for (char** var = environ; *var != nullptr; ++var) {
      const std::string entry = *var;
      if (overrides.count(entry.substr(0, entry.find('='))) == 0) env.push_back(entry);
    }
    for (const auto& [name, value] : overrides)
      env.push_back(name + "=" + value);
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    for (std::string& entry : env)
      envp.push_back(entry.data());
    envp.push_back(nullptr);
  }
};

// `input` is the slave, or another descriptor for standard input.
[[noreturn]] void RunChild(int slave, int input, const ExecImage& image, const char* workDir) {
  setsid();
  ioctl(slave, TIOCSCTTY, 0);
  dup2(input, 0);
  for (int fd = 1; fd <= 2; ++fd)
    dup2(slave, fd);
  if (chdir(workDir) != 0) _exit(126);
  execve(image.argv[0], image.argv.data(), image.envp.data());
  _exit(127);
}

}  // namespace

SamplerProcess::SamplerProcess(const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& env,
                               const std::string& workDir, bool keyboard) {
  if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  tcgetattr(slave_, &before_);
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) return;
  const ExecImage image(args, env);
  const int noInput = keyboard ? -1 : open("/dev/null", O_RDONLY | O_CLOEXEC);
  const pid_t pid = fork();
  if (pid == 0) RunChild(slave_, keyboard ? slave_ : noInput, image, workDir.c_str());
  if (noInput >= 0) close(noInput);
  pid_ = pid;
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  reader_ = std::thread([this] { ReadConsole(); });
}

SamplerProcess::~SamplerProcess() {
  if (pid_ > 0) Wait(0);
  if (reader_.joinable()) {
    const char stop = 's';
    (void)!write(stopPipe_[1], &stop, 1);
    reader_.join();
  }
  for (int fd : {master_, slave_, stopPipe_[0], stopPipe_[1]}) {
    if (fd >= 0) close(fd);
  }
}

void SamplerProcess::ReadConsole() {
  for (;;) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) break;
    char buf[1024];
    const ssize_t got = read(master_, buf, sizeof buf);
    if (got <= 0) break;  // end of file: every slave side is closed
    {
      std::lock_guard lock(mutex_);
      raw_.append(buf, static_cast<size_t>(got));
    }
    grew_.notify_all();
  }
  {
    std::lock_guard lock(mutex_);
    readerEnded_ = true;
  }
  grew_.notify_all();
}

void SamplerProcess::TakeLastOutput() {
  // With the program gone and our slave side closed, the master reads what
  // is still queued and then end of file.
  tcgetattr(slave_, &after_);
  close(slave_);
  slave_ = -1;
  std::unique_lock lock(mutex_);
  // A program of the test's own forked while the slave was still open could
  // hold it; the bound keeps such a test from hanging here.
  grew_.wait_for(lock, std::chrono::seconds(10), [this] { return readerEnded_; });
}

bool SamplerProcess::Expect(const std::string& text, int timeoutMs) {
  std::unique_lock lock(mutex_);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const std::string console = WithoutTerminalCr(raw_);
    const size_t at = console.find(text, matched_);
    if (at != std::string::npos) {
      matched_ = at + text.size();
      return true;
    }
    if (grew_.wait_until(lock, deadline) == std::cv_status::timeout) return false;
  }
}

bool SamplerProcess::Answer(const std::string& prompt, const std::string& keys, int timeoutMs) {
  if (!Expect(prompt, timeoutMs)) return false;
  Type(keys);
  return true;
}

void SamplerProcess::Type(const std::string& keys) {
  (void)!write(master_, keys.data(), keys.size());
}

void SamplerProcess::Signal(int signo) {
  if (const pid_t pid = pid_; pid > 0) kill(pid, signo);
}

int SamplerProcess::Wait(int timeoutMs) {
  const pid_t pid = pid_;
  if (pid <= 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    if (waitpid(pid, &status, WNOHANG) == pid) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      pid_ = -1;
      TakeLastOutput();
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  pid_ = -1;
  TakeLastOutput();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string SamplerProcess::Console() {
  std::lock_guard lock(mutex_);
  return WithoutTerminalCr(raw_);
}

termios SamplerProcess::SettingsNow() const {
  if (slave_ < 0) return after_;
  termios now{};
  tcgetattr(slave_, &now);
  return now;
}

bool SameTerminalSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

}  // namespace zol::test
