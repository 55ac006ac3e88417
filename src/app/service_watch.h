// The sampler as a watched service: it tells the service manager when it is
// ready, what the last cycle did and when it stops; it keeps the watchdog
// fed while it is healthy; and it raises an alarm when scheduled cycles in a
// row store no record, and says when records come again. Outside a service
// manager, and in an attended run without ZOLSAMPLER_ALARM_AFTER, none of it
// shows.
#pragma once

#include <cstdint>
#include <string>

#include "app/sample_cycle.h"

namespace zol {

// The longest a scheduled cycle can legitimately take: every ZOL and CTD
// exchange of a cycle with the pump sample, each running to its last retry
// and its time limit (docs/service.md shows the sum). A cycle older than
// this is stuck, and the watchdog is no longer fed.
inline constexpr int64_t kLongestCycleMs = int64_t{10} * 60 * 1000;

// Counts scheduled cycles in a row that stored no record; `after` 0 never
// raises.
class NoRecordAlarm {
 public:
  enum class Change { kNone, kRaised, kRecovered };
  explicit NoRecordAlarm(int after) : after_(after) {}
  Change Count(bool stored);
  int Missed() const { return missed_; }
  bool Raised() const { return raised_; }

 private:
  int after_;
  int missed_ = 0;
  bool raised_ = false;
};

// A count from a setting: digits only, 0 to `most`; false leaves `count`.
bool ParseSettingCount(const char* text, int most, int* count);

// Reads ZOLSAMPLER_ALARM_AFTER, ZOLSAMPLER_ALARM_COMMAND and the service
// manager's WATCHDOG_USEC. A bad alarm count ends the program with status 1
// and the reason on standard error, before any port is opened.
void LoadServiceSettings();

// READY=1, and the watchdog from here on. Call once sampling runs.
void ServiceReady();
// Around each scheduled cycle (the sampling thread, holding the cycle lock).
void ScheduledCycleBegins();
void ScheduledCycleEnded(uint32_t cycle, const CycleOutcome& outcome, int64_t nextSampleTime);
// STOPPING=1 and the watchdog ends: an orderly stop has begun.
void ServiceStopping();

// The STATUS= text after a cycle.
std::string CycleStatus(uint32_t cycle, const CycleOutcome& outcome, int missed,
                        int64_t nextSampleTime, bool alarmRaised);

// True while the watchdog may be fed: waiting for the next sample time, or
// in a cycle begun no longer ago than kLongestCycleMs (`cycleStartMs` -1:
// waiting).
bool WatchdogHealthy(int64_t cycleStartMs, int64_t nowMs);

// Forgets the settings and the count (tests).
void ResetServiceWatch();

}  // namespace zol
