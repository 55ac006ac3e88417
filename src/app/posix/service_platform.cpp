// systemd's notify protocol (one datagram per message to the AF_UNIX socket
// NOTIFY_SOCKET names, '@' for the abstract namespace) is a few lines, so the
// program needs no library for it and the Windows build shares the callers.
#include "app/service_platform.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "base/errno_text.h"
#include "base/posix/unique_fd.h"

extern char** environ;

namespace zol {
namespace {

std::mutex g_childrenMutex;
std::vector<pid_t> g_children;

}  // namespace

bool NotifyServiceManager(const std::string& message) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (path == nullptr || path[0] == '\0') return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t length = std::strlen(path);
  if ((path[0] != '/' && path[0] != '@') || length >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path, length);
  if (path[0] == '@') address.sun_path[0] = '\0';
  const UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return false;
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  return ::sendto(fd.Get(), message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                  reinterpret_cast<const sockaddr*>(&address),
                  size) == static_cast<ssize_t>(message.size());
}

int64_t ServiceWatchdogMs() {
  const char* usec = std::getenv("WATCHDOG_USEC");
  if (usec == nullptr) return 0;
  const char* pid = std::getenv("WATCHDOG_PID");
  if (pid != nullptr && std::strtoll(pid, nullptr, 10) != static_cast<long long>(::getpid()))
    return 0;
  const long long value = std::strtoll(usec, nullptr, 10);
  return value > 0 ? value / 1000 : 0;
}

bool StandardErrorIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (stream == nullptr) return false;
  unsigned long long device = 0;
  unsigned long long inode = 0;
  if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat info {};
  if (::fstat(STDERR_FILENO, &info) != 0) return false;
  return info.st_dev == device && info.st_ino == inode;
}

bool KeyboardIsTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}

unsigned long ProcessId() {
  return static_cast<unsigned long>(::getpid());
}

bool StartAlarmCommand(const std::string& command, const std::vector<std::string>& environment,
                       std::string* error) {
  std::vector<std::string> words = {"/bin/sh", "-c", command};
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> own = environment;
  std::vector<char*> envp;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    const size_t nameLength = equals == nullptr ? std::strlen(*entry) : equals - *entry;
    bool replaced = false;
    for (const std::string& added : own)
      replaced = replaced || added.compare(0, nameLength + 1, *entry, nameLength + 1) == 0;
    if (!replaced) envp.push_back(*entry);
  }
  for (std::string& added : own)
    envp.push_back(added.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  // Standard input from nowhere; output and errors where the sampler's go
  // (the journal under systemd). No other descriptor, so no port, survives.
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  // The sampler blocks its control signals and ignores SIGPIPE; the command
  // starts with neither, in a session of its own (a console CTRL+C is not
  // its business).
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signo : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP})
    sigaddset(&defaults, signo);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    *error = std::string("cannot start /bin/sh: ") + ErrnoText(failed);
    return false;
  }
  std::lock_guard lock(g_childrenMutex);
  g_children.push_back(pid);
  return true;
}

void ReapAlarmCommands(std::vector<std::string>* failures) {
  std::lock_guard lock(g_childrenMutex);
  for (auto it = g_children.begin(); it != g_children.end();) {
    int status = 0;
    const pid_t done = ::waitpid(*it, &status, WNOHANG);
    if (done == 0) {
      ++it;
      continue;
    }
    char reason[64] = "";
    if (done < 0) {
      std::snprintf(reason, sizeof reason, "lost: %s", ErrnoText(errno).c_str());
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
      std::snprintf(reason, sizeof reason, "ended with status %d", WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
      std::snprintf(reason, sizeof reason, "killed by signal %d", WTERMSIG(status));
    }
    if (reason[0] != '\0') failures->push_back(reason);
    it = g_children.erase(it);
  }
}

}  // namespace zol
