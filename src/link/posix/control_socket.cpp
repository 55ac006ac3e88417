// The control channel over a Unix stream socket: non-blocking connections,
// poll() for every wait and an eventfd to wake it.
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/errno_text.h"
#include "base/posix/unique_fd.h"
#include "link/control_channel.h"

namespace zol {
namespace {

constexpr mode_t kSocketMode = 0660;
constexpr int kBacklog = 16;

bool MakeAddress(const std::string& path, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

// 0 when something accepts on `path`, else the errno of the attempt.
int ConnectError(int fd, const sockaddr_un& address) {
  return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0
                                                                                         : errno;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Clears the way for bind: a socket nobody accepts on is removed.
bool ClearStaleSocket(const std::string& path, const sockaddr_un& address, std::string* error) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return true;
  if (!S_ISSOCK(info.st_mode)) {
    *error = path + " exists and is not a socket";
    return false;
  }
  const UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int refused = probe.Valid() ? ConnectError(probe.Get(), address) : errno;
  if (refused == 0) {
    *error = path + " is in use by another sampler";
    return false;
  }
  if (refused != ECONNREFUSED) {
    *error = path + ": " + ErrnoText(refused);
    return false;
  }
  if (::unlink(path.c_str()) != 0) {
    *error = "cannot replace " + path + ": " + ErrnoText(errno);
    return false;
  }
  return true;
}

class SocketListener final : public ControlListener {
 public:
  SocketListener(UniqueFd listener, UniqueFd wake, std::string path, const struct stat& info)
      : listener_(std::move(listener)),
        wake_(std::move(wake)),
        path_(std::move(path)),
        device_(info.st_dev),
        inode_(info.st_ino) {}
  void Wait(std::vector<ChannelWatch>& watches, int timeoutMs) override {
    polled_.clear();
    polled_.push_back({wake_.Get(), POLLIN, 0});
    for (const ChannelWatch& watch : watches) {
      const int fd =
          watch.connection == ChannelWatch::kListener ? listener_.Get() : watch.connection;
      const short events =
          static_cast<short>((watch.read ? POLLIN : 0) | (watch.write ? POLLOUT : 0));
      polled_.push_back({fd, events, 0});
    }
    if (::poll(polled_.data(), polled_.size(), timeoutMs) <= 0) return;
    if ((polled_[0].revents & POLLIN) != 0) {
      eventfd_t count = 0;
      static_cast<void>(::eventfd_read(wake_.Get(), &count));
    }
    for (size_t i = 0; i < watches.size(); ++i) {
      const short got = polled_[i + 1].revents;
      watches[i].readable = (got & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
      watches[i].writable = (got & (POLLOUT | POLLERR)) != 0;
    }
  }

  int Accept(std::string* peer) override {
    const int fd = ::accept4(listener_.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return -1;
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0) {
      *peer = "uid " + std::to_string(credentials.uid);
    } else {
      *peer = "an unknown user";
    }
    return fd;
  }

  long Read(int connection, char* buffer, std::size_t size) override {
    const ssize_t got = ::recv(connection, buffer, size, MSG_DONTWAIT);
    if (got > 0) return static_cast<long>(got);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return 0;
    return -1;
  }

  long Write(int connection, const char* bytes, std::size_t size) override {
    const ssize_t sent = ::send(connection, bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<long>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    return -1;
  }

  void Close(int connection) override { ::close(connection); }

  void Wake() override { static_cast<void>(::eventfd_write(wake_.Get(), 1)); }

  void Unlink() override {
    struct stat info {};
    if (::lstat(path_.c_str(), &info) == 0 && info.st_dev == device_ && info.st_ino == inode_)
      ::unlink(path_.c_str());
  }

 private:
  UniqueFd listener_;
  UniqueFd wake_;
  std::string path_;
  dev_t device_;
  ino_t inode_;
  std::vector<pollfd> polled_;
};

class SocketLink final : public ControlLink {
 public:
  explicit SocketLink(UniqueFd fd) : fd_(std::move(fd)) {}

  bool WriteAll(const char* bytes, std::size_t size) override {
    while (size > 0) {
      const ssize_t sent = ::send(fd_.Get(), bytes, size, MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) return false;
      bytes += sent;
      size -= static_cast<size_t>(sent);
    }
    return true;
  }

  long Read(char* buffer, std::size_t size, bool alsoInput) override {
    for (;;) {
      pollfd polled[2] = {{fd_.Get(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
      const int ready = ::poll(polled, alsoInput ? 2 : 1, -1);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return 0;
      if (polled[0].revents != 0) {
        const ssize_t got = ::recv(fd_.Get(), buffer, size, 0);
        if (got < 0 && errno == EINTR) continue;
        return got > 0 ? static_cast<long>(got) : 0;
      }
      if (alsoInput && polled[1].revents != 0) return -1;
    }
  }

 private:
  UniqueFd fd_;
};

}  // namespace

std::unique_ptr<ControlListener> ListenOnControl(const std::string& path, std::string* error) {
  sockaddr_un address{};
  if (!MakeAddress(path, &address)) {
    *error = path + " is too long for a socket (at most " +
             std::to_string(sizeof address.sun_path - 1) + " bytes)";
    return nullptr;
  }
  if (!ClearStaleSocket(path, address, error)) return nullptr;
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  UniqueFd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (!fd.Valid() || !wake.Valid()) {
    *error = ErrnoText(errno);
    return nullptr;
  }
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int reason = errno;
    *error = reason == ENOENT ? "the folder " + FolderOf(path) + " does not exist"
                              : "cannot create " + path + ": " + ErrnoText(reason);
    return nullptr;
  }
  struct stat info {};
  // The mode is set, not left to the umask: the group may connect.
  if (::chmod(path.c_str(), kSocketMode) != 0 || ::listen(fd.Get(), kBacklog) != 0 ||
      ::lstat(path.c_str(), &info) != 0) {
    *error = path + ": " + ErrnoText(errno);
    ::unlink(path.c_str());
    return nullptr;
  }
  return std::make_unique<SocketListener>(std::move(fd), std::move(wake), path, info);
}

std::unique_ptr<ControlLink> ConnectToControl(const std::string& path, LinkFailure* failure,
                                              std::string* reason) {
  sockaddr_un address{};
  *failure = LinkFailure::kOther;
  if (!MakeAddress(path, &address)) {
    *reason = "too long for a socket";
    return nullptr;
  }
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int error = fd.Valid() ? ConnectError(fd.Get(), address) : errno;
  if (error == 0) {
    *failure = LinkFailure::kNone;
    return std::make_unique<SocketLink>(std::move(fd));
  }
  if (error == ENOENT || error == ECONNREFUSED || error == ENOTDIR)
    *failure = LinkFailure::kNoListener;
  if (error == EACCES || error == EPERM) *failure = LinkFailure::kPermission;
  *reason = ErrnoText(error);
  return nullptr;
}

std::string ControlPermissionHint() {
  return "join the group zolsampler";
}

std::string InstanceControlPath(const std::string& instance) {
  return "/run/zolsampler/" + instance + "/control";
}

}  // namespace zol
