#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "ctl/terminal_mode.h"

namespace zol::ctl {
namespace {

termios g_saved{};
volatile sig_atomic_t g_raw = 0;
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE};

void Restore() {
  if (g_raw != 0) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved);
  g_raw = 0;
}

// Puts the terminal back, then ends the program as the signal would.
void RestoreAndEnd(int signal) {
  Restore();
  // Nothing is left to do if either fails: the program is ending anyway.
  static_cast<void>(::signal(signal, SIG_DFL));
  static_cast<void>(::raise(signal));
}

}  // namespace

RawTerminal::RawTerminal() {
  if (::isatty(STDIN_FILENO) != 1 || ::tcgetattr(STDIN_FILENO, &g_saved) != 0) return;
  for (const int signal : kEndingSignals)
    static_cast<void>(::signal(signal, RestoreAndEnd));
  termios raw = g_saved;
  ::cfmakeraw(&raw);
  // Output keeps its line ends as the ZOL sends them.
  raw.c_oflag = g_saved.c_oflag;
  if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) == 0) g_raw = 1;
}

RawTerminal::~RawTerminal() {
  Restore();
  for (const int signal : kEndingSignals)
    static_cast<void>(::signal(signal, SIG_DFL));
}

long ReadInput(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, buffer, size);
    if (got < 0 && errno == EINTR) continue;
    return got > 0 ? static_cast<long>(got) : 0;
  }
}

void WriteOutput(const char* bytes, std::size_t count) {
  while (count > 0) {
    const ssize_t written = ::write(STDOUT_FILENO, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    count -= static_cast<std::size_t>(written);
  }
}

}  // namespace zol::ctl
