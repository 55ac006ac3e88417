// The program's own time-zone state: the offset of local standard time
// behind UTC and the daylight flag. Loaded from TZ (or the system's zone),
// changeable by the clock set-up, and used by every conversion to local time
// for the rest of the run.
#pragma once

#include <cstdint>
#include <ctime>

namespace zol {

// Loads offset and flag from TZ, or the system's zone when TZ is unset.
void LoadTimeZone();

// Seconds that local standard time lies behind UTC: positive west of Greenwich.
long TimeZoneOffset();
void SetTimeZoneOffset(long seconds);
// 1 when daylight saving is observed.
int DaylightFlag();
void SetDaylightFlag(int flag);

// Local time: UTC minus the offset, plus one hour when the flag is 1 and the
// system's rules say daylight saving is in effect at that moment.
std::tm ToLocalTime(int64_t seconds);
// The inverse, with mktime's rules: fields out of range are carried into the
// next larger ones, and `local` is rewritten with the normalised time.
int64_t FromLocalTime(std::tm* local);

// The 24-character ctime layout "Www Mmm dd hh:mm:ss yyyy" and its line end.
struct CtimeText {
  char text[40];
};
CtimeText FormatCtime(int64_t seconds);     // local time
CtimeText FormatCtimeUtc(int64_t seconds);  // UTC, the asctime of gmtime

}  // namespace zol
