#include "app/schedule.h"

#include <algorithm>

namespace zol {

int32_t AlignmentWaitMs(int64_t now, int32_t syncMinute) {
  constexpr int64_t kHourMs = 3'600'000;
  // Floor division keeps the UTC minute and second right before 1970 too.
  const int64_t secondOfHour = ((now % 3600) + 3600) % 3600;
  const int64_t minute = secondOfHour / 60;
  const int64_t second = secondOfHour % 60;
  int64_t waitMs = (syncMinute - minute) * 60'000 - second * 1000;
  if (waitMs <= 0) waitMs += kHourMs;
  return static_cast<int32_t>(std::clamp<int64_t>(waitMs, 0, kHourMs));
}

int64_t WaitAfterCycleMs(int64_t nextSampleTime, int64_t now, uint16_t sampleRate) {
  const int64_t leftSeconds =
      std::clamp<int64_t>(nextSampleTime - now, 0, PeriodSeconds(sampleRate));
  return leftSeconds * 1000;
}

}  // namespace zol
