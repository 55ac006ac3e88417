// The real zolsampler run on a pseudo-terminal console: the test types keys
// on the master side, reads what the program shows (line ends as the
// program wrote them: the terminal's "\r\n" turned back into "\n"), sends
// signals, and compares the terminal's settings before and after.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zol::test {

class SamplerProcess {
 public:
  // Without `keyboard` standard input is /dev/null (the console shows the
  // output all the same), as for a program started by a service manager.
  SamplerProcess(const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, const std::string& workDir,
                 bool keyboard = true);
  ~SamplerProcess();
  SamplerProcess(const SamplerProcess&) = delete;
  SamplerProcess& operator=(const SamplerProcess&) = delete;

  // Waits until the console shows `text` after what earlier Expects matched;
  // false after `timeoutMs`.
  bool Expect(const std::string& text, int timeoutMs = 10000);
  // Expect, then type `keys`.
  bool Answer(const std::string& prompt, const std::string& keys, int timeoutMs = 10000);
  void Type(const std::string& keys);
  void Signal(int signo);
  // The exit status, or -1 when the program did not end in time (it is then
  // killed) or ended by a signal.
  int Wait(int timeoutMs = 30000);
  std::string Console();
  // The program's process id while it runs (-1 once it has been waited for).
  pid_t Pid() const { return pid_; }

  // The terminal's settings when the program started, and now (once it was
  // waited for: as it left them).
  const termios& SettingsBefore() const { return before_; }
  termios SettingsNow() const;

 private:
  void ReadConsole();
  // Closes this side's slave and waits until the reader reached end of file.
  void TakeLastOutput();

  std::atomic<pid_t> pid_{-1};  // Signal may come from an instrument double's thread
  int master_ = -1;
  int slave_ = -1;
  int stopPipe_[2] = {-1, -1};
  termios before_{};
  termios after_{};
  bool readerEnded_ = false;
  std::mutex mutex_;
  std::condition_variable grew_;
  std::string raw_;
  size_t matched_ = 0;
  std::thread reader_;
};

// True when the two settings agree in every mode flag and control character.
bool SameTerminalSettings(const termios& a, const termios& b);

}  // namespace zol::test
