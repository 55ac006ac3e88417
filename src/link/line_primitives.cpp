#include "link/line_primitives.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "base/clock.h"
#include "link/serial_service.h"

namespace zol {
namespace {

constexpr int kLf = 10;
constexpr int kCr = 13;

// Each thread has its own stopwatch, so a forced sample on the main thread
// never moves the deadline of a wait on the sampling thread.
thread_local TimeStamp t_startStamp;
thread_local TimeStamp t_currentStamp;

// A service that reports an error while waiting is polled again after this
// long, so a port that recovers (a device re-plugged) is heard before the
// deadline without the wait ever spinning.
constexpr int kErrorRetryMs = 100;

// The drain wait allows the time the bytes need at the slowest speed the
// program offers (300 baud, 10 bit times per byte) plus a margin.
constexpr int kSlowestBaud = 300;
constexpr int kBitsPerByte = 10;
constexpr int kDrainMarginMs = 1000;
// A transmit queue never holds more than this (the ports are opened with it).
constexpr int kTxQueueBytes = 1024;

TimeStamp MonotonicStamp() {
  const int64_t ms = MonotonicNowMs();
  const int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
  return TimeStamp{seconds, static_cast<uint16_t>(ms - seconds * 1000)};
}

int32_t LimitMs(uint16_t seconds) {
  return static_cast<int32_t>(seconds) * 1000;
}

// Blocks until data waits, `remainingMs` pass, or the wait is cancelled.
void WaitForData(int port, int32_t remainingMs) {
  if (SerialWaitRx(port, remainingMs) < 0) PauseMs(std::min(remainingMs, kErrorRetryMs));
}

// The next received byte, or -1 when the queue turned out empty (another
// thread cleared it between the count and the read, or the service failed).
int TakeByte(int port) {
  const int c = SerialGetc(port);
  if (c >= 0) return c & 0xFF;
  // The count said a byte waited; don't ask again at once.
  PauseMs(1);
  return -1;
}

bool IsLineEnd(int c) {
  return c == kLf || c == kCr;
}

int DrainLimitMs(int64_t bytes) {
  const int64_t transferMs = (bytes * kBitsPerByte * 1000 + kSlowestBaud - 1) / kSlowestBaud;
  return static_cast<int>(std::min<int64_t>(transferMs + kDrainMarginMs, INT32_MAX));
}

}  // namespace

void StartTimer() {
  t_startStamp = MonotonicStamp();
}

int32_t ElapsedMs() {
  t_currentStamp = MonotonicStamp();
  return ElapsedBetween(t_startStamp, t_currentStamp);
}

// Signed 32-bit arithmetic with wrap-around, done on unsigned values so that
// no input can overflow a signed type.
int32_t ElapsedBetween(const TimeStamp& start, const TimeStamp& now) {
  const uint32_t secondsDiff = static_cast<uint32_t>(static_cast<uint64_t>(now.seconds)) -
                               static_cast<uint32_t>(static_cast<uint64_t>(start.seconds));
  const int32_t millisDiff = static_cast<int32_t>(now.millis) - static_cast<int32_t>(start.millis);
  uint32_t result;
  if (millisDiff >= 0) {
    result = static_cast<uint32_t>(millisDiff) + 1000u * secondsDiff;
  } else if (secondsDiff == 0) {
    // A clock stepped back within one second: no second is borrowed.
    result = static_cast<uint32_t>(millisDiff + 1000);
  } else {
    result = static_cast<uint32_t>(millisDiff + 1000) + 1000u * (secondsDiff - 1u);
  }
  return static_cast<int32_t>(result);
}

int GetcTimed(int port, uint16_t seconds) {
  StartTimer();
  const int32_t limit = LimitMs(seconds);
  for (;;) {
    const int32_t elapsed = ElapsedMs();
    if (elapsed >= limit) return 0;
    if (SerialRxCount(port) > 0) {
      const int c = TakeByte(port);
      if (c >= 0) return c;
      continue;
    }
    WaitForData(port, limit - elapsed);
  }
}

int ReadLine(int port, char* buf, uint16_t len, uint16_t seconds) {
  if (buf == nullptr || len == 0) return 0;
  buf[0] = '\0';
  if (len < 2) return 0;  // no room for a character and its NUL
  StartTimer();
  const int32_t limit = LimitMs(seconds);
  int count = 0;
  for (;;) {
    const int32_t elapsed = ElapsedMs();
    if (elapsed >= limit) return count;
    if (SerialRxCount(port) <= 0) {
      WaitForData(port, limit - elapsed);
      continue;
    }
    // Read on while bytes wait: a line that is still arriving is finished
    // even past the time limit (the buffer's size bounds it).
    do {
      const int c = TakeByte(port);
      if (c < 0) break;
      if (IsLineEnd(c)) {
        if (count > 0) return count;
        // Leading line ends are skipped; an endless stream of them must not
        // hold the wait past its limit.
        if (ElapsedMs() >= limit) return 0;
        continue;
      }
      buf[count] = static_cast<char>(c);
      ++count;
      buf[count] = '\0';
      if (count >= len - 1) return count;
    } while (SerialRxCount(port) > 0);
  }
}

int SendString(int port, const char* text) {
  if (text == nullptr) return 1;
  int64_t queued = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') {
      SerialPutc(port, kCr);
      ++queued;
    }
    SerialPutc(port, static_cast<unsigned char>(*p));
    ++queued;
  }
  // Bytes queued earlier (another thread's) must drain too.
  const int64_t alreadyWaiting = std::clamp(SerialTxCount(port), 0, kTxQueueBytes);
  const int64_t pending = std::max(queued, alreadyWaiting);
  // A timeout or a service error ends the wait; the text has been handed over.
  SerialWaitTxEmpty(port, DrainLimitMs(pending));
  return 1;
}

}  // namespace zol
