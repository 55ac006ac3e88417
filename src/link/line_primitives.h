// The serial line primitives both instrument protocols are built on: a
// millisecond stopwatch, a wait for one character, a line reader and a
// string sender. Every wait blocks on the line (no spinning) and measures its
// own time from its own start on the monotonic clock.
#pragma once

#include <cstdint>

namespace zol {

// The stopwatch of the calling thread.
void StartTimer();
int32_t ElapsedMs();

// A time stamp as whole seconds and the milliseconds within that second.
struct TimeStamp {
  int64_t seconds = 0;
  uint16_t millis = 0;
};
// Milliseconds from `start` to `now` with the stopwatch's borrow arithmetic
// (a clock stepped back within one second gives 1..999, never negative).
int32_t ElapsedBetween(const TimeStamp& start, const TimeStamp& now);

// The character received (low 8 bits count), or 0 when none came in time.
int GetcTimed(int port, uint16_t seconds);
// Characters stored in buf (0..len-1, NUL-terminated); 0 when no character
// other than CR or LF came in time. A line cut at the timeout counts as a line.
int ReadLine(int port, char* buf, uint16_t len, uint16_t seconds);
// Sends text with a CR before every LF, then waits for the transmitter to
// drain (bounded). Always 1.
int SendString(int port, const char* text);

}  // namespace zol
