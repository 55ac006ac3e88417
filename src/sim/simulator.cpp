#include "sim/simulator.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "base/clock.h"
#include "sim/ctd_model.h"
#include "sim/zol_model.h"

namespace zol::sim {
namespace {

// How often a watched process is looked for when the kernel offers no
// process descriptor to wait on.
constexpr int kPidCheckMs = 250;

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7f || c == '\\') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// SIGINT, SIGTERM and SIGHUP arrive as readable data instead of
// interrupting the loop; the previous mask comes back on destruction.
class StopSignals {
 public:
  StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
      sigaddset(&set, signal);
    sigprocmask(SIG_BLOCK, &set, &previous_);
    fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    (void)signal(SIGPIPE, SIG_IGN);  // fails only for a signal that does not exist
  }
  ~StopSignals() {
    if (fd_ >= 0) close(fd_);
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  int Fd() const { return fd_; }
  // Takes the signal that arrived, so that it is not delivered again once
  // the mask is restored; its number, or 0.
  int Take() {
    signalfd_siginfo info{};
    if (read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
    return static_cast<int>(info.ssi_signo);
  }

 private:
  int fd_ = -1;
  sigset_t previous_;
};

// A process to outlive us: a pidfd turns readable when it ends.
class WatchedProcess {
 public:
  explicit WatchedProcess(pid_t pid) : pid_(pid) {
    if (pid_ <= 0) return;
    fd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (fd_ < 0 && errno == ESRCH) gone_ = true;
  }
  ~WatchedProcess() {
    if (fd_ >= 0) close(fd_);
  }
  WatchedProcess(const WatchedProcess&) = delete;
  WatchedProcess& operator=(const WatchedProcess&) = delete;

  int Fd() const { return fd_; }
  // Without a pidfd the loop must look now and then.
  bool NeedsChecks() const { return pid_ > 0 && fd_ < 0 && !gone_; }
  bool Gone() {
    if (NeedsChecks() && kill(pid_, 0) != 0 && errno == ESRCH) gone_ = true;
    return gone_;
  }
  void MarkGone() { gone_ = true; }

 private:
  pid_t pid_;
  int fd_ = -1;
  bool gone_ = false;
};

}  // namespace

Simulator::Simulator(const SimOptions& options) : options_(options), startMs_(MonotonicNowMs()) {
  int64_t now = startMs_;
  ZolSettings zol;
  zol.identity.kind = options.kind;
  zol.identity.serialNumber = options.serialNumber;
  zol.identity.measureMs = std::llround(options.measureSeconds * 1000.0);
  zol.gapMs = options.gapMs;
  zol.clockSeconds = WallNow() + options.clockOffsetSeconds;
  zol.seed = options.seed;
  // Faults draw from their own streams, so that adding one leaves the
  // values of a seeded run as they were.
  AddLine("ZOL", options.zolCom, options.zolLink,
          std::make_unique<ZolModel>(zol, FaultInjector(options.zolFaults, options.seed ^ 0x5A0Lu),
                                     now));
  if (!options.noCtd) {
    CtdSettings ctd{options.ctdEcho, options.seed ^ 0xC7D0u};
    AddLine("CTD", options.ctdCom, options.ctdLink,
            std::make_unique<CtdModel>(
                ctd, FaultInjector(options.ctdFaults, options.seed ^ 0xC7D1u), now));
  }
}

void Simulator::AddLine(const char* name, int comNumber, const std::string& linkPath,
                        std::unique_ptr<Instrument> model) {
  SimLine& line = lines_.emplace_back();
  line.name = name;
  line.comNumber = comNumber;
  line.linkPath = linkPath;
  line.model = std::move(model);
}

int Simulator::Run() {
  std::fprintf(stderr, "zolsim: %s ZOL, serial %04d, seed %llu%s\n",
               std::string(SensorKindName(options_.kind)).c_str(), options_.serialNumber,
               static_cast<unsigned long long>(options_.seed), options_.noCtd ? ", no CTD" : "");
  // Signals first: a stop that comes while the links are made still
  // removes them.
  StopSignals signals;
  if (signals.Fd() < 0) {
    std::fprintf(stderr, "zolsim: signalfd: %s\n", std::strerror(errno));
    return 1;
  }
  WatchedProcess watched(options_.exitWithPid);
  int64_t now = MonotonicNowMs();
  for (SimLine& line : lines_) {
    if (!BringUp(line, now)) return 1;
  }
  for (;;) {
    now = MonotonicNowMs();
    for (SimLine& line : lines_) {
      if (!line.pty && now >= line.backAtMs && !BringUp(line, now)) return 1;
      if (line.pty) Service(line, now);
    }
    if (watched.Gone()) break;

    std::vector<pollfd> fds = {{signals.Fd(), POLLIN, 0}, {watched.Fd(), POLLIN, 0}};
    for (const SimLine& line : lines_) {
      short events = static_cast<short>(line.unsent.empty() ? POLLIN : POLLIN | POLLOUT);
      fds.push_back({line.pty ? line.pty->Fd() : -1, events, 0});
    }
    int timeout = PollTimeoutMs(now);
    if (watched.NeedsChecks()) timeout = timeout < 0 ? kPidCheckMs : std::min(timeout, kPidCheckMs);
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
      std::fprintf(stderr, "zolsim: poll: %s\n", std::strerror(errno));
      return 1;
    }
    if (fds[0].revents != 0) {
      int signal = signals.Take();
      std::fprintf(stderr, "zolsim: stopping on %s\n", signal != 0 ? strsignal(signal) : "signal");
      break;
    }
    if (fds[1].revents != 0) {
      watched.MarkGone();
      continue;
    }
    now = MonotonicNowMs();
    for (size_t i = 0; i < lines_.size(); ++i) {
      if ((fds[i + 2].revents & POLLIN) != 0) Receive(lines_[i], now);
      if ((fds[i + 2].revents & POLLOUT) != 0) Flush(lines_[i]);
    }
  }
  if (options_.exitWithPid > 0 && watched.Gone()) {
    std::fprintf(stderr, "zolsim: process %d has ended, stopping\n",
                 static_cast<int>(options_.exitWithPid));
  }
  return 0;
}

bool Simulator::BringUp(SimLine& line, int64_t nowMs) {
  std::string error;
  line.pty = PtyPort::Open(error);
  if (line.pty && !line.linkPath.empty() &&
      !line.link.Create(line.linkPath, line.pty->DevicePath(), error)) {
    line.pty.reset();
  }
  if (!line.pty) {
    std::fprintf(stderr, "zolsim: %s: %s\n", line.name.c_str(), error.c_str());
    return false;
  }
  if (line.backAtMs != kNever) {
    line.model->PowerUp(nowMs);
    std::fprintf(stderr, "zolsim: %s is back on %s\n", line.name.c_str(),
                 line.pty->DevicePath().c_str());
  }
  line.backAtMs = kNever;
  const std::string& path = line.linkPath.empty() ? line.pty->DevicePath() : line.linkPath;
  std::fprintf(stdout, "ZOLSAMPLER_COM%d=%s\n", line.comNumber, path.c_str());
  std::fflush(stdout);
  return true;
}

void Simulator::TakeDown(SimLine& line, double seconds, int64_t nowMs) {
  std::fprintf(stderr, "zolsim: %s has gone away for %.3g s\n", line.name.c_str(), seconds);
  line.link.Remove();
  line.pty.reset();
  line.unsent.clear();
  line.backAtMs = nowMs + std::llround(seconds * 1000.0);
}

void Simulator::Service(SimLine& line, int64_t nowMs) {
  std::string out = line.model->Poll(nowMs);
  if (std::optional<double> seconds = line.model->TakeVanish()) {
    TakeDown(line, *seconds, nowMs);
    return;
  }
  if (out.empty()) return;
  Log(line, "->", out);
  line.unsent += out;
  Flush(line);
}

void Simulator::Receive(SimLine& line, int64_t nowMs) {
  std::array<char, 4096> buffer{};
  ssize_t count = read(line.pty->Fd(), buffer.data(), buffer.size());
  if (count <= 0) return;  // nothing after all, or nobody on the other side
  std::string bytes(buffer.data(), static_cast<size_t>(count));
  Log(line, "<-", bytes);
  line.model->Feed(bytes, nowMs);
}

void Simulator::Flush(SimLine& line) {
  while (!line.unsent.empty()) {
    ssize_t count = write(line.pty->Fd(), line.unsent.data(), line.unsent.size());
    if (count < 0) {
      // A full queue waits for POLLOUT; any other failure loses the bytes,
      // as a line with nobody listening would.
      if (errno != EAGAIN && errno != EINTR) line.unsent.clear();
      return;
    }
    line.unsent.erase(0, static_cast<size_t>(count));
  }
}

int Simulator::PollTimeoutMs(int64_t nowMs) const {
  int64_t next = kNever;
  for (const SimLine& line : lines_) {
    next = std::min(next, line.pty ? line.model->NextWakeMs() : line.backAtMs);
  }
  if (next == kNever) return -1;
  return static_cast<int>(std::clamp<int64_t>(next - nowMs, 0, 60000));
}

void Simulator::Log(const SimLine& line, const char* direction, const std::string& bytes) const {
  if (!options_.verbose) return;
  double seconds = static_cast<double>(MonotonicNowMs() - startMs_) / 1000.0;
  std::fprintf(stderr, "zolsim: %9.3f %s %s \"%s\"\n", seconds, line.name.c_str(), direction,
               Printable(bytes).c_str());
}

}  // namespace zol::sim
