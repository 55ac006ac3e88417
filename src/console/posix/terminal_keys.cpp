#include "console/posix/terminal_keys.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace zol {
namespace {

// The terminal whose settings RestoreTerminal gives back. The settings are
// written before the flag is raised, so a signal handler that sees the flag
// sees them complete.
int g_savedFd = -1;
termios g_savedSettings{};
std::atomic<bool> g_haveSaved{false};
static_assert(std::atomic<bool>::is_always_lock_free, "needed in signal handlers");

// GetKey: read again after a spurious wake-up.
constexpr int kReadAgain = -100;

constexpr int kBackspaceKey = 8;
constexpr int kEscapeKey = 27;
constexpr int kDeleteKey = 127;
// How long the bytes after an ESC may trail it: a key's sequence is written
// in one piece, so it is there at once on a local terminal and within a few
// milliseconds over a network. A lone ESC is delivered after this wait.
constexpr int kSequenceGapMs = 25;
// No sequence of a key is longer; anything beyond is taken as keys again.
constexpr int kMaxSequenceBytes = 16;

bool IsSequenceIntroducer(int byte) {
  return byte == '[' || byte == 'O';
}
// The byte that ends a control sequence.
bool IsFinalByte(int byte) {
  return byte >= 0x40 && byte <= 0x7E;
}

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kCrashSignalCount = sizeof kCrashSignals / sizeof kCrashSignals[0];
struct sigaction g_previousActions[kCrashSignalCount];

// A stack of its own for the crash handler, so that it still runs when the
// main thread has overflowed its stack.
alignas(16) char g_crashStack[64 * 1024];

// tcsetattr, again when a signal cut it short; 0 or -1 with errno.
int SetTerminal(int fd, const termios& settings) {
  int result;
  do {
    result = tcsetattr(fd, TCSANOW, &settings);
  } while (result != 0 && errno == EINTR);
  return result;
}

termios KeyAtATime(const termios& original) {
  termios raw = original;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
  raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  return raw;
}

void OnCrashSignal(int signal) {
  const int savedErrno = errno;
  RestoreTerminal();
  // Hand the signal to whoever had it before (the default action, or a
  // sanitizer's report); it is delivered when this handler returns.
  for (int i = 0; i < kCrashSignalCount; ++i) {
    if (kCrashSignals[i] == signal) sigaction(signal, &g_previousActions[i], nullptr);
  }
  (void)raise(signal);  // nothing is left to do when even this fails
  errno = savedErrno;
}

void UseCrashStack() {
  stack_t current{};
  if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) return;
  stack_t own{};
  own.ss_sp = g_crashStack;
  own.ss_size = sizeof g_crashStack;
  sigaltstack(&own, nullptr);
}

void InstallCrashHandlers() {
  UseCrashStack();
  struct sigaction action {};
  action.sa_handler = OnCrashSignal;
  action.sa_flags = SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kCrashSignalCount; ++i) {
    sigaction(kCrashSignals[i], &action, &g_previousActions[i]);
  }
}

void RestoreTerminalAtExit() {
  RestoreTerminal();
}

}  // namespace

RawTerminal::RawTerminal(int fd) {
  termios original{};
  if (!isatty(fd) || tcgetattr(fd, &original) != 0) return;
  if (g_haveSaved.load()) return;  // another terminal is switched already
  erase_ = original.c_cc[VERASE] != _POSIX_VDISABLE ? original.c_cc[VERASE] : 0;
  g_savedFd = fd;
  g_savedSettings = original;
  g_haveSaved.store(true);
  // Switched at once (TCSANOW), so that keys typed ahead are kept.
  const termios raw = KeyAtATime(original);
  if (SetTerminal(fd, raw) != 0) {
    g_haveSaved.store(false);
    return;
  }
  active_ = true;
}

RawTerminal::~RawTerminal() {
  if (active_) RestoreTerminal();
}

void RestoreTerminal() {
  if (!g_haveSaved.exchange(false)) return;
  const int savedErrno = errno;
  // From a background process group the change would stop the process on
  // SIGTTOU instead of letting it end.
  sigset_t ttou;
  sigset_t previous;
  sigemptyset(&ttou);
  sigaddset(&ttou, SIGTTOU);
  const bool masked = pthread_sigmask(SIG_BLOCK, &ttou, &previous) == 0;
  // Nobody is left to tell when this fails: the process is ending.
  [[maybe_unused]] const int restored = SetTerminal(g_savedFd, g_savedSettings);
  if (masked) pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = savedErrno;
}

TerminalKeys::TerminalKeys(int fd) : fd_(fd), terminal_(fd) {
  if (fd < 0) ended_.store(true);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) == 0) {
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
  }
}

TerminalKeys::~TerminalKeys() {
  if (wakeRead_ >= 0) close(wakeRead_);
  if (wakeWrite_ >= 0) close(wakeWrite_);
}

bool TerminalKeys::TakeInterrupt() {
  if (wakeRead_ < 0) return false;
  bool interrupted = false;
  char drained[16];
  while (read(wakeRead_, drained, sizeof drained) > 0)
    interrupted = true;
  return interrupted;
}

int TerminalKeys::ReadOneKey() {
  unsigned char key = 0;
  const ssize_t got = read(fd_, &key, 1);
  if (got == 1) return key;
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return kReadAgain;
  ended_.store(true);  // end of input, or the terminal went away
  return kNoKey;
}

// The next byte of input, taken ahead or read: a byte, kNoKey or
// kKeyInterrupted.
int TerminalKeys::NextByte() {
  if (pending_ >= 0) return std::exchange(pending_, -1);
  for (;;) {
    if (TakeInterrupt()) return kKeyInterrupted;
    if (ended_.load()) return kNoKey;
    pollfd watched[2] = {{fd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      ended_.store(true);
      return kNoKey;
    }
    if ((watched[1].revents & POLLIN) != 0) continue;  // the interrupt is taken above
    if (watched[0].revents != 0) {
      const int key = ReadOneKey();
      if (key != kReadAgain) return key;
    }
  }
}

// A byte that follows at once (within kSequenceGapMs), or -1.
int TerminalKeys::ReadFollowingByte() {
  if (ended_.load()) return -1;
  pollfd watched{fd_, POLLIN, 0};
  if (poll(&watched, 1, kSequenceGapMs) <= 0 || (watched.revents & POLLIN) == 0) return -1;
  const int byte = ReadOneKey();
  return byte >= 0 ? byte : -1;
}

// After an ESC: true when a cursor or function key's sequence followed and
// has been read up to its final byte. Any other byte is kept as the next key.
bool TerminalKeys::SwallowEscapeSequence() {
  const int introducer = ReadFollowingByte();
  if (introducer < 0) return false;
  if (!IsSequenceIntroducer(introducer)) {
    pending_ = introducer;
    return false;
  }
  for (int count = 0; count < kMaxSequenceBytes; ++count) {
    const int byte = ReadFollowingByte();
    if (byte < 0 || IsFinalByte(byte)) break;
  }
  return true;
}

int TerminalKeys::Translate(int byte) const {
  const bool erase = terminal_.erase() != 0 && byte == terminal_.erase();
  return erase || byte == kDeleteKey ? kBackspaceKey : byte;
}

int TerminalKeys::GetKey() {
  for (;;) {
    const int byte = NextByte();
    if (byte < 0) return byte;
    if (byte != kEscapeKey) return Translate(byte);
    if (!SwallowEscapeSequence()) return kEscapeKey;
  }
}

bool TerminalKeys::KeyWaiting() {
  if (pending_ >= 0) return true;
  if (ended_.load()) return false;
  pollfd watched{fd_, POLLIN, 0};
  return poll(&watched, 1, 0) > 0 && (watched.revents & POLLIN) != 0;
}

void TerminalKeys::InterruptKeyWait() {
  if (wakeWrite_ < 0) return;
  const int savedErrno = errno;
  const char wake = 1;
  // A full pipe already holds an interrupt; nothing is lost.
  [[maybe_unused]] const ssize_t written = write(wakeWrite_, &wake, 1);
  errno = savedErrno;
}

KeySource& StdinKeySource() {
  // Never destroyed: a signal thread may interrupt it while the process ends.
  static TerminalKeys* const keys = new TerminalKeys(STDIN_FILENO);
  return *keys;
}

void InstallStdinKeys() {
  static std::once_flag once;
  std::call_once(once, [] {
    KeySource& keys = StdinKeySource();
    // Fails only past the 32 handlers the C library always takes; the
    // program registers two.
    (void)std::atexit(RestoreTerminalAtExit);
    InstallCrashHandlers();
    InstallKeySource(&keys);
  });
}

}  // namespace zol
