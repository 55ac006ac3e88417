#include "reference_primitives.h"

#include <atomic>
#include <cstdint>

#include "app/sampler_state.h"
#include "base/clock.h"
#include "base/console_out.h"
#include "console/keys.h"
#include "link/serial_service.h"

namespace zol {
namespace {

constexpr int kLf = 10;
constexpr int kCr = 13;
constexpr int kCtrlK = 11;

// One start stamp for the whole process, as in the polling design. Atomic only so
// that two threads meeting here are not undefined behaviour.
std::atomic<int64_t> g_startMs{0};

}  // namespace

void StartTimer() {
  g_startMs.store(MonotonicNowMs(), std::memory_order_relaxed);
}

int32_t ElapsedMs() {
  return static_cast<int32_t>(MonotonicNowMs() - g_startMs.load(std::memory_order_relaxed));
}

int GetcTimed(int port, uint16_t seconds) {
  StartTimer();
  const int32_t limit = static_cast<int32_t>(seconds) * 1000;
  while (ElapsedMs() < limit) {
    if (SerialRxCount(port) != 0) return SerialGetc(port);
  }
  return 0;
}

int ReadLine(int port, char* buf, uint16_t len, uint16_t seconds) {
  StartTimer();
  const int32_t limit = static_cast<int32_t>(seconds) * 1000;
  buf[0] = '\0';
  int count = 0;
  for (;;) {
    if (ElapsedMs() >= limit) return count;
    if (SerialRxCount(port) == 0) {
      PauseMs(1);
      continue;
    }
    // Take bytes while the queue holds some; leading line ends are skipped.
    while (SerialRxCount(port) != 0) {
      const int c = SerialGetc(port);
      if (c == kLf || c == kCr) {
        if (count > 0) return count;
        continue;
      }
      buf[count] = static_cast<char>(c);
      ++count;
      buf[count] = '\0';
      if (count == len - 1) return count;
    }
    PauseMs(1);
  }
}

int SendString(int port, const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') SerialPutc(port, kCr);
    SerialPutc(port, static_cast<unsigned char>(*p));
  }
  // The design polls "until 0"; an error ends it too, so that the bench cannot
  // hang on a port that went away.
  while (SerialTxCount(port) > 0) {
  }
  return 1;
}

void InteractiveMode() {
  const int port = State().zolPort;
  ConsolePrintf("\n*** Starting Command Mode ( Type CTRL+K to exit )***\n\n");
  for (;;) {
    if (KeyWaiting()) {
      const int key = GetKey() & 0xFF;
      if (key == kCtrlK) {
        ConsolePrintf("\nGot CTRL+K - Exiting Command Mode\n");
        PauseMs(500);
        return;
      }
      SerialPutc(port, key);
    }
    const int c = SerialGetc(port);
    if (c >= 0) {
      ConsolePutc(c);
      continue;
    }
    PauseMs(1);
  }
}

}  // namespace zol
