#include "app/clock_setup.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>

#include "app/sampler_state.h"
#include "app/unattended.h"
#include "base/clock.h"
#include "base/console_out.h"
#include "base/local_time.h"
#include "console/prompts.h"
#include "link/zol_protocol.h"

namespace zol {
namespace {

constexpr long kSecondsPerHour = 3600;
constexpr int32_t kMaxOffsetHours = 12;

// "%a %d %b %Y %H:%M:%S" of the UTC time; 24 characters.
struct UtcDate {
  char text[64];
};

UtcDate FormatUtcDate(int64_t seconds) {
  UtcDate out{};
  const time_t t = static_cast<time_t>(seconds);
  std::tm utc{};
  if (gmtime_r(&t, &utc) == nullptr ||
      std::strftime(out.text, sizeof out.text, "%a %d %b %Y %H:%M:%S", &utc) == 0) {
    out.text[0] = '\0';
  }
  return out;
}

// Whole hours, truncated toward zero (a half-hour zone shows its whole hours).
long OffsetHours() {
  return TimeZoneOffset() / kSecondsPerHour;
}

// On the wire and on the screen the clocks are unsigned 32-bit numbers.
unsigned long Wire32(int64_t seconds) {
  return static_cast<unsigned long>(static_cast<uint32_t>(seconds));
}

// True when the operator cannot answer any more: a loop that waits for a
// changed value must then end with the value it has.
bool NoKeyCanBeRead(int16_t result) {
  return result == 0 && LastLineEnd() == LineEnd::kNoKey;
}

void ShowTimeZone() {
  ConsolePrintf("\n***Getting Local Time Zone Offset***\n");
  if (const char* tz = std::getenv("TZ"); tz != nullptr) {
    ConsolePrintf("TZ environment var = %s\n", tz);
  } else {
    ConsolePrintf("TZ environment var = NULL!\n");
  }
  LoadTimeZone();
  ConsolePrintf("Local Time Zone Offset from GMT = %+02ld hrs, %ld secs\n", OffsetHours(),
                TimeZoneOffset());
}

// Asks until the operator gives another offset in range.
void ModifyTimeZoneOffset() {
  for (;;) {
    const int32_t current = static_cast<int32_t>(OffsetHours());
    int32_t hours = current;
    AnswerNumber(&StartAnswers::tzOffsetHours, current);
    const int16_t answered = PromptNumber(
        "\nEnter local time zone offset in hours ( W is [+], E is [-] ) >", "%ld", "%ld", &hours);
    if (NoKeyCanBeRead(answered)) return;
    if (hours == current) continue;
    if (hours < -kMaxOffsetHours || hours > kMaxOffsetHours) {
      ConsolePrintf("\nInput Error, Time Zone Offset Range=[-12L, 12L], try again!\n");
      continue;
    }
    SetTimeZoneOffset(hours * kSecondsPerHour);
    ConsolePrintf("\nThe New Local Time Zone Offset = %+02ld hrs, %ld secs\n",
                  static_cast<long>(hours), hours * kSecondsPerHour);
    return;
  }
}

// Asks until the operator gives the other of 0 and 1.
void ModifyDaylightFlag() {
  for (;;) {
    const int32_t current = DaylightFlag();
    int32_t flag = current;
    AnswerNumber(&StartAnswers::daylight, current);
    const int16_t answered =
        PromptNumber("\nEnter Daylight Observation, [0]=False [1]=True >", "%lu", "%lu", &flag);
    if (NoKeyCanBeRead(answered)) return;
    if (flag == current) continue;
    if (static_cast<uint32_t>(flag) > 1) {
      ConsolePrintf("\nInput Error, Daylight Adjustment Range=[0, 1], try again!\n");
      continue;
    }
    SetDaylightFlag(flag);
    ConsolePrintf("\nThe New Daylight Adjusment = %d\n", static_cast<int>(flag));
    return;
  }
}

void ReviewTimeZone() {
  ShowTimeZone();
  AnswerChange(&StartAnswers::tzOffsetHours, static_cast<int32_t>(OffsetHours()));
  if (PromptYesNo("Modify", 0) != 0) {
    ModifyTimeZoneOffset();
  } else {
    ConsolePrintf("\n");
  }
  ConsolePrintf("\n***Getting Local Daylight Savings Setting***\n");
  ConsolePrintf(DaylightFlag() == 1 ? "Daylight Observation = TRUE\n"
                                    : "Daylight Observation = FALSE\n");
  AnswerChange(&StartAnswers::daylight, DaylightFlag());
  if (PromptYesNo("Modify", 0) != 0) {
    ModifyDaylightFlag();
  } else {
    ConsolePrintf("\n");
  }
}

void TransferClock(int port) {
  AnswerYesNo(&StartAnswers::transferPcTime, false);
  if (PromptYesNo("\nTransfer PC Time to ZOL", 0) == 0) {
    ZolSleep(port);
    ConsolePrintf("\n");
    return;
  }
  const int set = SetZolTime(port);
  if (set == kReplyOk) {
    ZolSleep(port);
    ConsolePrintf("\nZOL Time has been set!\n");
  } else {
    ConsolePrintf("\nERROR Setting ZOL Time, ret = %d\n", set);
  }
}

}  // namespace

void ShowTimes() {
  const int port = Settings().zolPort;
  const int64_t zolTime = GetZolTime(port);
  if (zolTime >= 0) {
    ConsolePrintf("ZOL Date/Time = %s\n", FormatUtcDate(zolTime).text);
  } else {
    // No reply: a negative time has no date to show.
    ConsolePrintf("ZOL Date/Time = (no reply, ret = %lld)\n", static_cast<long long>(zolTime));
  }
  ConsolePrintf("PC  Date/Time = %s\n", FormatUtcDate(WallNow()).text);
  AnswerYesNo(&StartAnswers::syncZolClock, false);
  if (PromptYesNo("\nSync ZOL RTC to PC?", 0) != 0) {
    SetupClock(port);
  } else {
    ConsolePrintf("\n");
  }
}

void SetupClock(int port) {
  ReviewTimeZone();
  ConsolePrintf("\n***Getting ZOL Time***\n");
  const int woke = WakeZolMode(port, 1);
  if (woke != kReplyOk) {
    ConsolePrintf("\nERROR Waking ZOL, ret = %d, exiting!\n", woke);
    return;
  }
  const int64_t zolTime = GetZolTime(port);
  if (zolTime <= 0) {
    ConsolePrintf("\nERROR Getting ZOL Time, ret = %d\n", static_cast<int>(zolTime));
    return;
  }
  const int64_t pcTime = WallNow();
  ConsolePrintf("PC  Time (GMT) = %lu = %s", Wire32(pcTime), FormatCtimeUtc(pcTime).text);
  ConsolePrintf("ZOL Time (GMT) = %lu = %s", Wire32(zolTime), FormatCtimeUtc(zolTime).text);
  const int64_t delta = pcTime > zolTime ? pcTime - zolTime : zolTime - pcTime;
  ConsolePrintf("Time Delta      = %.0lf secs\n", static_cast<double>(delta));
  TransferClock(port);
}

}  // namespace zol
