// The sampling thread's schedule arithmetic, free of clocks and threads.
#pragma once

#include <cstdint>

namespace zol {

// The wait before the first cycle when no minute is chosen.
inline constexpr int32_t kFirstWaitMs = 5;

// Milliseconds from `now` to the next start of the UTC minute `syncMinute`
// of an hour; the current minute itself waits for the next hour.
int32_t AlignmentWaitMs(int64_t now, int32_t syncMinute);

// Milliseconds from `now` to `nextSampleTime`. A cycle that ended at or
// after that time gets 0 (the next cycle starts at once); a wall clock that
// stepped back never makes the wait longer than one period.
int64_t WaitAfterCycleMs(int64_t nextSampleTime, int64_t now, uint16_t sampleRate);

// Seconds in a sampling period of `sampleRate` minutes.
inline int64_t PeriodSeconds(uint16_t sampleRate) {
  return 60 * static_cast<int64_t>(sampleRate);
}

}  // namespace zol
