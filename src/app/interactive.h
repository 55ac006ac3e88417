// The pass-through terminal (CTRL+I): keys go to the ZOL as they are typed
// and what the ZOL sends reaches the console unchanged, until CTRL+K. The
// control socket's terminal shares its echo and its claim.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>

namespace zol {

inline constexpr int kKeyLeaveInteractive = 11;  // CTRL+K

// Holds the ZOL port (the cycle lock) until CTRL+K; also gives it back when
// the keyboard is gone or a stop is asked for, so sampling never waits on it.
// While a control client has the terminal it prints a line and returns.
void InteractiveMode();

// Who has the pass-through terminal: one at a time.
enum class TerminalUser { kNone, kConsole, kControl };
// False when another user has it.
bool ClaimTerminal(TerminalUser user);
void ReleaseTerminal();

// A console forced sample (CTRL+F) checks and claims in one step, so that it
// never waits behind a control client's terminal: false, with nothing
// claimed, while that terminal holds the ZOL. While one runs, a control
// terminal may be claimed but waits (AwaitConsoleSamples) before it takes
// the cycle lock.
bool BeginConsoleSample();
void EndConsoleSample();
void AwaitConsoleSamples();

// The line the console shows when a key asks for the ZOL while a control
// client has the terminal.
void ShowTerminalInUse();

// Copies what the ZOL sends to `sink`, in blocks, on a thread of its own
// that blocks on the port while nothing comes. The holder of the cycle lock
// owns it.
class ZolEcho {
 public:
  using Sink = std::function<void(const char* bytes, std::size_t count)>;
  ZolEcho(int port, Sink sink);
  ~ZolEcho() { Stop(); }
  ZolEcho(const ZolEcho&) = delete;
  ZolEcho& operator=(const ZolEcho&) = delete;

  void Stop();

 private:
  void Run();
  void CopyToSink();

  const int port_;
  const Sink sink_;
  std::mutex mutex_;
  bool stopping_ = false;
  bool ended_ = false;
  std::thread thread_;  // last: starts once the rest exists
};

}  // namespace zol
