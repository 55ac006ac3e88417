#include "app/interactive.h"

#include <condition_variable>
#include <mutex>
#include <system_error>

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

// Long enough that a wait ends only when it is notified.
constexpr int64_t kSampleWaitMs = int64_t{24} * 3600 * 1000;

struct TerminalClaims {
  std::mutex mutex;
  std::condition_variable samplesEnded;
  TerminalUser user = TerminalUser::kNone;
  int consoleSamples = 0;
};

TerminalClaims& Claims() {
  static TerminalClaims claims;
  return claims;
}

// Releases the claim when the console's terminal ends, however it ends.
struct ConsoleClaim {
  ~ConsoleClaim() { ReleaseTerminal(); }
};

}  // namespace

bool ClaimTerminal(TerminalUser user) {
  TerminalClaims& claims = Claims();
  std::lock_guard lock(claims.mutex);
  if (claims.user != TerminalUser::kNone) return false;
  claims.user = user;
  return true;
}

void ReleaseTerminal() {
  TerminalClaims& claims = Claims();
  std::lock_guard lock(claims.mutex);
  claims.user = TerminalUser::kNone;
}

bool BeginConsoleSample() {
  TerminalClaims& claims = Claims();
  std::lock_guard lock(claims.mutex);
  if (claims.user == TerminalUser::kControl) return false;
  ++claims.consoleSamples;
  return true;
}

void EndConsoleSample() {
  TerminalClaims& claims = Claims();
  {
    std::lock_guard lock(claims.mutex);
    --claims.consoleSamples;
  }
  claims.samplesEnded.notify_all();
}

void AwaitConsoleSamples() {
  TerminalClaims& claims = Claims();
  std::unique_lock lock(claims.mutex);
  while (claims.consoleSamples > 0)
    CurrentClock().WaitOn(claims.samplesEnded, lock, kSampleWaitMs);
}

void ShowTerminalInUse() {
  ConsolePrintf("\nThe ZOL terminal is in use by a control client; try again when it closes\n");
}

ZolEcho::ZolEcho(int port, Sink sink)
    : port_(port), sink_(std::move(sink)), thread_([this] { Run(); }) {}

void ZolEcho::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // A cancel nobody takes would cut the next cycle's first wait short.
    if (!ended_) SerialCancelWait(port_);
  }
  thread_.join();
}

void ZolEcho::Run() {
  for (;;) {
    const int waiting = SerialWaitRx(port_, kEchoWaitMs);
    std::lock_guard lock(mutex_);
    if (waiting < 0) {
      ended_ = true;
      return;
    }
    // Only the cancel of Stop gives 0 while stopping; keep waiting for it.
    if (waiting == 0 && stopping_) return;
    CopyToSink();
  }
}

void ZolEcho::CopyToSink() {
  char block[256];
  std::size_t count = 0;
  for (int ch = SerialGetc(port_); ch >= 0; ch = SerialGetc(port_)) {
    block[count++] = static_cast<char>(ch);
    if (count == sizeof block) {
      sink_(block, count);
      count = 0;
    }
  }
  if (count > 0) sink_(block, count);
}

void InteractiveMode() {
  if (!ClaimTerminal(TerminalUser::kConsole)) {
    ShowTerminalInUse();
    return;
  }
  const ConsoleClaim claim;
  std::lock_guard lock(TheCycleLock());
  const TerminalOpenNote terminal;
  const int port = Settings().zolPort;
  ConsolePrintf("\n*** Starting Command Mode ( Type CTRL+K to exit )***\n\n");
  try {
    ZolEcho echo(port, ConsoleWrite);
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
