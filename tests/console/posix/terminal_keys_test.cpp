#include "console/posix/terminal_keys.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

namespace zol {
namespace {

constexpr int kWaitMs = 10000;

// Reads up to `count` bytes, giving up after kWaitMs without data.
std::string ReadSome(int fd, size_t count, int timeoutMs = kWaitMs) {
  std::string out;
  while (out.size() < count) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) break;
    char buf[64];
    const ssize_t got = read(fd, buf, std::min(sizeof buf, count - out.size()));
    if (got <= 0) break;
    out.append(buf, static_cast<size_t>(got));
  }
  return out;
}

void WriteAll(int fd, const std::string& bytes) {
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
      read = fds[0];
      write = fds[1];
    }
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() {
    if (read >= 0) close(read);
    read = -1;
  }
  void CloseWrite() {
    if (write >= 0) close(write);
    write = -1;
  }
};

// A pseudo-terminal in its default (cooked) settings.
struct Pty {
  int master = -1;
  int slave = -1;
  termios original{};
  Pty() {
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) tcgetattr(slave, &original);
  }
  ~Pty() {
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
  }
  termios Now() const {
    termios t{};
    tcgetattr(slave, &t);
    return t;
  }
};

bool SameSettings(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

TEST(TerminalKeysTest, PipeBytesAreTheKeysAndEndIsNoKeyForever) {
  Pipe input;
  TerminalKeys keys(input.read);
  EXPECT_FALSE(keys.IsTerminal());
  EXPECT_FALSE(keys.KeyWaiting());
  WriteAll(input.write, "a\r\x1a");
  EXPECT_TRUE(keys.KeyWaiting());
  EXPECT_EQ(keys.GetKey(), 'a');
  EXPECT_EQ(keys.GetKey(), 13);
  EXPECT_EQ(keys.GetKey(), 26);
  EXPECT_FALSE(keys.KeyWaiting());
  input.CloseWrite();
  EXPECT_EQ(keys.GetKey(), kNoKey);
  EXPECT_EQ(keys.GetKey(), kNoKey);
  EXPECT_FALSE(keys.KeyWaiting());
}

TEST(TerminalKeysTest, HighBytesArriveWhole) {
  Pipe input;
  TerminalKeys keys(input.read);
  WriteAll(input.write, "\xff\x80");
  EXPECT_EQ(keys.GetKey(), 0xff);
  EXPECT_EQ(keys.GetKey(), 0x80);
}

TEST(TerminalKeysTest, ReadErrorIsNoKey) {
  TerminalKeys keys(-1);
  EXPECT_EQ(keys.GetKey(), kNoKey);
  EXPECT_EQ(keys.GetKey(), kNoKey);
}

TEST(TerminalKeysTest, InterruptEndsABlockedWait) {
  Pipe input;
  TerminalKeys keys(input.read);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    keys.InterruptKeyWait();
  });
  EXPECT_EQ(keys.GetKey(), kKeyInterrupted);
  stopper.join();
  // One interrupt ends one wait; keys flow again afterwards.
  WriteAll(input.write, "k");
  EXPECT_EQ(keys.GetKey(), 'k');
}

TEST(TerminalKeysTest, InterruptBeforeTheWaitIsKeptAndTakesPrecedence) {
  Pipe input;
  TerminalKeys keys(input.read);
  WriteAll(input.write, "x");
  keys.InterruptKeyWait();
  keys.InterruptKeyWait();
  EXPECT_EQ(keys.GetKey(), kKeyInterrupted);
  EXPECT_EQ(keys.GetKey(), 'x');
  input.CloseWrite();
  keys.InterruptKeyWait();
  EXPECT_EQ(keys.GetKey(), kKeyInterrupted);
  EXPECT_EQ(keys.GetKey(), kNoKey);
}

TEST(TerminalKeysTest, TerminalIsSwitchedForKeysAndRestored) {
  Pty pty;
  ASSERT_GE(pty.slave, 0);
  {
    TerminalKeys keys(pty.slave);
    ASSERT_TRUE(keys.IsTerminal());
    const termios raw = pty.Now();
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(raw.c_iflag & (IXON | ICRNL | INLCR | IGNCR), 0u);
    EXPECT_NE(raw.c_oflag & OPOST, 0u);
    EXPECT_EQ(raw.c_cc[VMIN], 1);
    EXPECT_EQ(raw.c_cc[VTIME], 0);

    WriteAll(pty.master, "\r\x03\x1a\x1c\x16q");
    EXPECT_EQ(keys.GetKey(), 13);
    EXPECT_EQ(keys.GetKey(), 3);
    EXPECT_EQ(keys.GetKey(), 26);
    EXPECT_EQ(keys.GetKey(), 28);
    EXPECT_EQ(keys.GetKey(), 22);
    EXPECT_EQ(keys.GetKey(), 'q');
    EXPECT_EQ(ReadSome(pty.master, 1, 100), "") << "the terminal echoed a key";

    // Output processing stays on: a newline starts a new line.
    WriteAll(pty.slave, "a\n");
    EXPECT_EQ(ReadSome(pty.master, 3), "a\r\n");
  }
  EXPECT_TRUE(SameSettings(pty.Now(), pty.original));
  // Restoring again changes nothing.
  RestoreTerminal();
  EXPECT_TRUE(SameSettings(pty.Now(), pty.original));
}

TEST(TerminalKeysTest, KeysTypedAheadAreKept) {
  Pty pty;
  ASSERT_GE(pty.slave, 0);
  TerminalKeys keys(pty.slave);
  WriteAll(pty.master, "ab");
  EXPECT_EQ(keys.GetKey(), 'a');
  EXPECT_TRUE(keys.KeyWaiting());
  EXPECT_EQ(keys.GetKey(), 'b');
  EXPECT_FALSE(keys.KeyWaiting());
}

TEST(TerminalKeysTest, HangUpIsNoKey) {
  Pty pty;
  ASSERT_GE(pty.slave, 0);
  TerminalKeys keys(pty.slave);
  close(pty.master);
  pty.master = -1;
  EXPECT_EQ(keys.GetKey(), kNoKey);
  EXPECT_EQ(keys.GetKey(), kNoKey);
}

// Every key GetKey gives until the input ends.
std::string KeysUntilEnd(TerminalKeys& keys) {
  std::string got;
  for (int key; (key = keys.GetKey()) >= 0;)
    got.push_back(static_cast<char>(key));
  return got;
}

TEST(TerminalKeysTest, DelFromAPipeIsBackspace) {
  Pipe input;
  TerminalKeys keys(input.read);
  WriteAll(input.write,
           "12\x7f"
           "3\r\b");
  input.CloseWrite();
  EXPECT_EQ(KeysUntilEnd(keys), "12\b3\r\b");
}

TEST(TerminalKeysTest, CursorAndFunctionKeySequencesAreSwallowedWhole) {
  Pipe input;
  TerminalKeys keys(input.read);
  // Up, Right, F1, Delete, CTRL+Right, F5, Home (SS3 form), then a key.
  WriteAll(input.write,
           "4\x1b[A\x1b[C\x1bOP\x1b[3~\x1b[1;5C\x1b[15~\x1bOH"
           "2\r");
  input.CloseWrite();
  EXPECT_EQ(KeysUntilEnd(keys), "42\r");
}

TEST(TerminalKeysTest, LoneEscapeIsDeliveredAndTheByteAfterItKept) {
  Pipe input;
  TerminalKeys keys(input.read);
  WriteAll(input.write, "\x1b");
  EXPECT_EQ(keys.GetKey(), 27);
  // An ESC followed by a key that starts no sequence gives both.
  WriteAll(input.write, "\x1bx\x1b\x1b[Dy");
  EXPECT_EQ(keys.GetKey(), 27);
  EXPECT_TRUE(keys.KeyWaiting());
  EXPECT_EQ(keys.GetKey(), 'x');
  EXPECT_EQ(keys.GetKey(), 27);
  EXPECT_EQ(keys.GetKey(), 'y');
  // A sequence cut short by the end of input leaves nothing behind.
  WriteAll(input.write, "\x1b[1;");
  input.CloseWrite();
  EXPECT_EQ(keys.GetKey(), kNoKey);
}

TEST(TerminalKeysTest, TheTerminalsEraseCharacterIsBackspace) {
  Pty pty;
  ASSERT_GE(pty.slave, 0);
  termios settings = pty.original;
  settings.c_cc[VERASE] = 0x1f;  // CTRL+_ as the erase character
  ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &settings), 0);
  {
    TerminalKeys keys(pty.slave);
    ASSERT_TRUE(keys.IsTerminal());
    WriteAll(pty.master, "a\x1f\x7f\b\x1b[Bz");
    EXPECT_EQ(keys.GetKey(), 'a');
    EXPECT_EQ(keys.GetKey(), 8);
    EXPECT_EQ(keys.GetKey(), 8);
    EXPECT_EQ(keys.GetKey(), 8);
    EXPECT_EQ(keys.GetKey(), 'z');
  }
  ASSERT_EQ(tcsetattr(pty.slave, TCSANOW, &pty.original), 0);
}

// Forks a child whose standard input and controlling terminal is the pty's
// slave, with the real reader installed there. The child tells the parent on
// `report` whether the terminal was switched ('R') and then runs `body`.
template <typename Body>
pid_t StartChildOnTerminal(Pty& pty, Pipe& report, Body body) {
  const pid_t child = fork();
  if (child == 0) {
    setsid();
    ioctl(pty.slave, TIOCSCTTY, 0);
    dup2(pty.slave, STDIN_FILENO);
    InstallStdinKeys();
    const termios now = pty.Now();
    const char ready = (now.c_lflag & (ICANON | ECHO | ISIG)) == 0 ? 'R' : 'X';
    if (write(report.write, &ready, 1) != 1) _exit(90);
    body();
    _exit(91);
  }
  return child;
}

// The wait status of a child that ends by itself.
template <typename Body>
int RunChildOnTerminal(Pty& pty, Pipe& report, Body body) {
  const pid_t child = StartChildOnTerminal(pty, report, body);
  int status = -1;
  if (child > 0) waitpid(child, &status, 0);
  return status;
}

// Killed by the signal, or ended by a sanitizer's report of it; not the
// child's own exits (90, 91), which would mean the signal was swallowed.
bool AbnormalEnd(int status) {
  if (WIFSIGNALED(status)) return true;
  if (!WIFEXITED(status)) return false;
  const int code = WEXITSTATUS(status);
  return code != 0 && code != 90 && code != 91;
}

TEST(TerminalKeysChildTest, ControlKeysReachTheProgramAndNothingSuspends) {
  Pty pty;
  Pipe report;
  ASSERT_GE(pty.slave, 0);
  const pid_t child = StartChildOnTerminal(pty, report, [&report] {
    for (int i = 0; i < 4; ++i) {
      const char key = static_cast<char>(Keys().GetKey());
      if (write(report.write, &key, 1) != 1) _exit(90);
    }
    std::exit(0);
  });
  ASSERT_GT(child, 0);
  ASSERT_EQ(ReadSome(report.read, 1), "R");
  WriteAll(pty.master, "\r\x03\x1a\x1c");
  const std::string keys = ReadSome(report.read, 4);
  int status = -1;
  if (keys.size() != 4) kill(child, SIGKILL);
  waitpid(child, &status, WUNTRACED);
  EXPECT_EQ(keys, "\r\x03\x1a\x1c");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_EQ(ReadSome(pty.master, 1, 100), "") << "the terminal echoed a key";
  EXPECT_TRUE(SameSettings(pty.Now(), pty.original));
}

TEST(TerminalKeysChildTest, RestoredAfterStdExit) {
  Pty pty;
  Pipe report;
  ASSERT_GE(pty.slave, 0);
  const int status = RunChildOnTerminal(pty, report, [] { std::exit(3); });
  EXPECT_EQ(ReadSome(report.read, 1), "R");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << "status " << status;
  EXPECT_TRUE(SameSettings(pty.Now(), pty.original));
}

TEST(TerminalKeysChildTest, RestoredAfterAbort) {
  Pty pty;
  Pipe report;
  ASSERT_GE(pty.slave, 0);
  const int status = RunChildOnTerminal(pty, report, [] { std::abort(); });
  EXPECT_EQ(ReadSome(report.read, 1), "R");
  EXPECT_TRUE(AbnormalEnd(status)) << "status " << status;
  EXPECT_TRUE(SameSettings(pty.Now(), pty.original));
}

TEST(TerminalKeysChildTest, RestoredFromABackgroundGroupWithoutStopping) {
  Pty pty;
  Pipe report;
  ASSERT_GE(pty.slave, 0);
  const pid_t leader = fork();
  if (leader == 0) {
    setsid();
    ioctl(pty.slave, TIOCSCTTY, 0);
    dup2(pty.slave, STDIN_FILENO);
    const pid_t program = fork();
    if (program == 0) {
      InstallStdinKeys();
      setpgid(0, 0);  // no longer the terminal's foreground group
      std::exit(0);
    }
    int status = -1;
    waitpid(program, &status, WUNTRACED);
    if (WIFSTOPPED(status)) {
      kill(program, SIGKILL);
      _exit(5);
    }
    _exit(WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 6);
  }
  int status = -1;
  waitpid(leader, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_TRUE(SameSettings(pty.Now(), pty.original));
}

class CrashSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(CrashSignalTest, RestoredAndTheSignalTakesItsCourse) {
  Pty pty;
  Pipe report;
  ASSERT_GE(pty.slave, 0);
  const int signal = GetParam();
  const int status = RunChildOnTerminal(pty, report, [signal] { raise(signal); });
  EXPECT_EQ(ReadSome(report.read, 1), "R");
  EXPECT_TRUE(AbnormalEnd(status)) << "status " << status;
  EXPECT_TRUE(SameSettings(pty.Now(), pty.original));
}

INSTANTIATE_TEST_SUITE_P(Signals, CrashSignalTest,
                         ::testing::Values(SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT));

TEST(TerminalKeysChildTest, RestoredAfterARealFault) {
  Pty pty;
  Pipe report;
  ASSERT_GE(pty.slave, 0);
  const int status = RunChildOnTerminal(pty, report, [] {
    volatile uintptr_t nowhere = 16;  // not mapped in any process
    *reinterpret_cast<volatile int*>(nowhere) = 1;
  });
  EXPECT_EQ(ReadSome(report.read, 1), "R");
  EXPECT_TRUE(AbnormalEnd(status)) << "status " << status;
  EXPECT_TRUE(SameSettings(pty.Now(), pty.original));
}

}  // namespace
}  // namespace zol
