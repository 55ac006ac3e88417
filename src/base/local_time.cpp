#include "base/local_time.h"

#include <time.h>
#include <atomic>
#include <cstdio>

namespace zol {
namespace {

std::atomic<long> g_offset{0};
std::atomic<int> g_daylight{0};

bool SystemSaysDaylight(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  std::tm local{};
  return localtime_r(&t, &local) != nullptr && local.tm_isdst > 0;
}

CtimeText FormatBrokenDown(const std::tm* tm) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  CtimeText out{};
  if (tm == nullptr || tm->tm_wday < 0 || tm->tm_wday > 6 || tm->tm_mon < 0 || tm->tm_mon > 11) {
    std::snprintf(out.text, sizeof out.text, "??? ??? ?? ??:??:?? ????\n");
    return out;
  }
  std::snprintf(out.text, sizeof out.text, "%s %s %2d %02d:%02d:%02d %d\n", kDays[tm->tm_wday],
                kMonths[tm->tm_mon], tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec,
                tm->tm_year + 1900);
  return out;
}

}  // namespace

void LoadTimeZone() {
  tzset();
  g_offset.store(timezone);
  // Any nonzero value says the zone observes daylight saving (wine's runtime
  // gives a letter of the zone's name); the program compares with 1.
  g_daylight.store(daylight != 0 ? 1 : 0);
}

long TimeZoneOffset() {
  return g_offset.load();
}
void SetTimeZoneOffset(long seconds) {
  g_offset.store(seconds);
}
int DaylightFlag() {
  return g_daylight.load();
}
void SetDaylightFlag(int flag) {
  g_daylight.store(flag);
}

namespace {
// Null when the time has no broken-down form.
const std::tm* BreakDownLocal(int64_t seconds, std::tm* out) {
  int64_t shifted = seconds - g_offset.load();
  if (g_daylight.load() == 1 && SystemSaysDaylight(seconds)) shifted += 3600;
  const time_t t = static_cast<time_t>(shifted);
  return gmtime_r(&t, out);
}
}  // namespace

std::tm ToLocalTime(int64_t seconds) {
  std::tm out{};
  if (BreakDownLocal(seconds, &out) == nullptr) out = std::tm{};
  return out;
}

int64_t FromLocalTime(std::tm* local) {
  std::tm fields = *local;
  fields.tm_isdst = 0;
  int64_t seconds = static_cast<int64_t>(timegm(&fields)) + g_offset.load();
  // A wall time inside daylight saving lies one hour nearer to UTC.
  if (g_daylight.load() == 1 && SystemSaysDaylight(seconds - 3600)) seconds -= 3600;
  *local = ToLocalTime(seconds);
  return seconds;
}

CtimeText FormatCtime(int64_t seconds) {
  std::tm broken{};
  return FormatBrokenDown(BreakDownLocal(seconds, &broken));
}

CtimeText FormatCtimeUtc(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  std::tm broken{};
  return FormatBrokenDown(gmtime_r(&t, &broken));
}

}  // namespace zol
