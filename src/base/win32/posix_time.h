// The thread-safe time conversions of POSIX over the C runtime's, so that
// the shared time code builds unchanged on Windows (included first by the
// Windows build). The zone itself comes from the runtime: _tzset reads TZ
// (or the system's zone) into _timezone and _daylight.
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
