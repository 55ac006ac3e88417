#include "support/mqtt_broker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <utility>
#include <vector>

#include "base/posix/unique_fd.h"

extern char** environ;

namespace zol::test {
namespace {

constexpr int kStartMs = 10000;

bool RunQuietly(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::vector<std::string> words = args;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

uint16_t FreeTcpPort() {
  const UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  auto* any = reinterpret_cast<sockaddr*>(&address);
  if (::bind(fd.Get(), any, length) != 0 || ::getsockname(fd.Get(), any, &length) != 0) return 0;
  return ntohs(address.sin_port);
}

MqttBroker::MqttBroker(std::string dir, BrokerOptions options)
    : dir_(std::move(dir)), options_(std::move(options)), port_(FreeTcpPort()) {}

MqttBroker::~MqttBroker() {
  Stop();
}

std::string MqttBroker::Url() const {
  return std::string(options_.certFile.empty() ? "mqtt" : "mqtts") +
         "://127.0.0.1:" + std::to_string(port_);
}

bool MqttBroker::Start() {
  const std::string config = dir_ + "/mosquitto.conf";
  {
    std::ofstream out(config);
    out << "listener " << port_ << " 127.0.0.1\n"
        << "persistence true\npersistence_location " << dir_ << "/\n"
        << "autosave_interval 0\n"
        << "log_dest stderr\nlog_type error\nlog_type warning\nlog_type notice\nlog_type "
           "information\n"
        << "max_queued_messages 0\n";
    // Run by root, it would change to a user that cannot reach the files.
    if (::getuid() == 0) out << "user root\n";
    if (options_.user.empty()) {
      out << "allow_anonymous true\n";
    } else {
      const std::string passwords = dir_ + "/passwords";
      std::ofstream(passwords) << options_.user << ":" << options_.password << "\n";
      ::chmod(passwords.c_str(), 0600);
      if (!RunQuietly({"mosquitto_passwd", "-U", passwords})) return false;
      out << "allow_anonymous false\npassword_file " << passwords << "\n";
    }
    if (!options_.certFile.empty())
      out << "certfile " << options_.certFile << "\nkeyfile " << options_.keyFile << "\n";
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return false;
  UniqueFd readEnd(pipeFds[0]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  std::string program = "mosquitto";
  std::string option = "-c";
  std::string file = config;
  char* argv[] = {program.data(), option.data(), file.data(), nullptr};
  const int spawned = posix_spawnp(&pid_, "mosquitto", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    pid_ = -1;
    return false;
  }
  // The log is read to its end so the broker never blocks on it; it says
  // " running" once it listens.
  {
    std::lock_guard lock(mutex_);
    log_.clear();
    logEnded_ = false;
  }
  reader_ = std::thread([this, fd = std::move(readEnd)] {
    char buffer[512];
    for (;;) {
      const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      std::lock_guard lock(mutex_);
      if (got <= 0) {
        logEnded_ = true;
        changed_.notify_all();
        return;
      }
      log_.append(buffer, static_cast<size_t>(got));
      changed_.notify_all();
    }
  });
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(kStartMs), [this] {
    return logEnded_ || log_.find(" running") != std::string::npos;
  }) && !logEnded_;
}

std::string MqttBroker::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

void MqttBroker::Stop() {
  if (pid_ < 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (reader_.joinable()) reader_.join();
}

}  // namespace zol::test
