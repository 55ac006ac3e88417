// The POSIX time names over the C runtime's, so that the shared time code
// builds unchanged on Windows (included first by the Windows build). The
// zone comes from the runtime: _tzset reads TZ (or the system's zone) into
// _timezone and _daylight. The runtime's exports under the old POSIX names
// do not read the same variables (daylight came back as a letter of the
// zone's name), so the names are mapped here.
#pragma once

#include <time.h>

inline struct tm* localtime_r(const time_t* seconds, struct tm* out) {
  return localtime_s(out, seconds) == 0 ? out : nullptr;
}

inline struct tm* gmtime_r(const time_t* seconds, struct tm* out) {
  return gmtime_s(out, seconds) == 0 ? out : nullptr;
}

inline time_t timegm(struct tm* fields) {
  return _mkgmtime(fields);
}

#define tzset _tzset
#define timezone _timezone
#define daylight _daylight
