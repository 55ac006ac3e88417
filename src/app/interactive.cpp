#include "app/interactive.h"

#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/cycle_lock.h"
#include "app/keyboard.h"
#include "app/sampler_state.h"
#include "app/sampler_status.h"
#include "base/clock.h"
#include "base/console_out.h"
#include "console/keys.h"
#include "link/serial_service.h"

namespace zol {
namespace {

// Long enough that a wait ends only on data or on Stop.
constexpr int kEchoWaitMs = 24 * 3600 * 1000;

// Copies what the ZOL sends to the console, in blocks, on a thread of its
// own that blocks on the port while nothing comes.
class ZolEcho {
 public:
  explicit ZolEcho(int port) : port_(port), thread_([this] { Run(); }) {}
  ~ZolEcho() { Stop(); }
  ZolEcho(const ZolEcho&) = delete;
  ZolEcho& operator=(const ZolEcho&) = delete;

  void Stop() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
      // A cancel nobody takes would cut the next cycle's first wait short.
      if (!ended_) SerialCancelWait(port_);
    }
    thread_.join();
  }

 private:
  void Run() {
    for (;;) {
      const int waiting = SerialWaitRx(port_, kEchoWaitMs);
      std::lock_guard lock(mutex_);
      if (waiting < 0) {
        ended_ = true;
        return;
      }
      // Only the cancel of Stop gives 0 while stopping; keep waiting for it.
      if (waiting == 0 && stopping_) return;
      CopyToConsole();
    }
  }

  void CopyToConsole() {
    char block[256];
    std::size_t count = 0;
    for (int ch = SerialGetc(port_); ch >= 0; ch = SerialGetc(port_)) {
      block[count++] = static_cast<char>(ch);
      if (count == sizeof block) {
        ConsoleWrite(block, count);
        count = 0;
      }
    }
    if (count > 0) ConsoleWrite(block, count);
  }

  const int port_;
  std::mutex mutex_;
  bool stopping_ = false;
  bool ended_ = false;
  std::thread thread_;
};

}  // namespace

void InteractiveMode() {
  std::lock_guard lock(TheCycleLock());
  const TerminalOpenNote terminal;
  const int port = Settings().zolPort;
  ConsolePrintf("\n*** Starting Command Mode ( Type CTRL+K to exit )***\n\n");
  try {
    ZolEcho echo(port);
    for (;;) {
      const int key = GetKey();
      if (key < 0) return;
      if ((key & 0xFF) == kKeyLeaveInteractive) {
        echo.Stop();
        ConsolePrintf("\nGot CTRL+K - Exiting Command Mode\n");
        PauseMs(500);
        return;
      }
      // CTRL+\ is a control event like CTRL+C: the ZOL gets CTRL+C.
      const int byte = key & 0xFF;
      SerialPutc(port, byte == kKeyCtrlBackslash ? kKeyCtrlC : byte);
    }
  } catch (const std::system_error&) {
    ConsolePrintf("\nERROR Starting Command Mode\n");
  }
}

}  // namespace zol
