#include "support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>

extern char** environ;

namespace zol::test {
namespace {

// The test's environment with the overrides on top; a later override of
// the same name wins.
std::vector<std::string> MergedEnvironment(const EnvOverrides& overrides) {
  std::map<std::string, std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string line = *entry;
    const size_t equals = line.find('=');
    if (equals != std::string::npos) variables[line.substr(0, equals)] = line.substr(equals + 1);
  }
  for (const auto& [name, value] : overrides)
    variables[name] = value;
  std::vector<std::string> merged;
  for (const auto& [name, value] : variables)
    merged.push_back(name + "=" + value);
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (std::string& word : words)
    pointers.push_back(word.data());
  pointers.push_back(nullptr);
  return pointers;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Reads both pipes until both end or the deadline passes.
bool Collect(int outFd, int errFd, ProgramResult& result, int64_t deadline) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    const int64_t left = deadline - NowMs();
    if (left <= 0) return false;
    if (::poll(fds, 2, static_cast<int>(left)) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  return true;
}

}  // namespace

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const EnvOverrides& env, int timeoutMs, const std::string& workDir) {
  ProgramResult result;
  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
  std::vector<std::string> argWords = args;
  std::vector<std::string> envWords = MergedEnvironment(env);
  std::vector<char*> argv = Pointers(argWords);
  std::vector<char*> envp = Pointers(envWords);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (spawned == 0) {
    result.timedOut = !Collect(outPipe[0], errPipe[0], result, NowMs() + timeoutMs);
    if (result.timedOut) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  return result;
}

}  // namespace zol::test
