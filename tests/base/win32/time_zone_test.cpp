// The time zone from the C runtime on Windows: TZ in the runtime's form
// (name, hours west of UTC, optional daylight name), the daylight hour from
// the runtime's rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/local_time.h"

namespace zol {
namespace {

class WindowsTimeZoneTest : public ::testing::Test {
 protected:
  void TearDown() override {
    _putenv_s("TZ", "");
    SetTimeZoneOffset(0);
    SetDaylightFlag(0);
  }
  void UseZone(const char* tz) {
    _putenv_s("TZ", tz);
    LoadTimeZone();
  }
};

// 2024-01-15 12:34:56 UTC (winter) and 2024-07-15 12:34:56 UTC (summer).
constexpr int64_t kWinter = 1705322096;
constexpr int64_t kSummer = 1721046896;

TEST_F(WindowsTimeZoneTest, ZonesWithAndWithoutDaylightSaving) {
  UseZone("PST8PDT");
  EXPECT_EQ(TimeZoneOffset(), 8 * 3600);
  EXPECT_EQ(DaylightFlag(), 1);
  EXPECT_EQ(std::string(FormatCtime(kWinter).text), "Mon Jan 15 04:34:56 2024\n");
  EXPECT_EQ(std::string(FormatCtime(kSummer).text), "Mon Jul 15 05:34:56 2024\n");

  UseZone("JST-9");
  EXPECT_EQ(TimeZoneOffset(), -9 * 3600);
  EXPECT_EQ(DaylightFlag(), 0);
  EXPECT_EQ(std::string(FormatCtime(kSummer).text), "Mon Jul 15 21:34:56 2024\n");

  UseZone("IST-5:30");
  EXPECT_EQ(TimeZoneOffset(), -19800);
  EXPECT_EQ(std::string(FormatCtime(kWinter).text), "Mon Jan 15 18:04:56 2024\n");
}

TEST_F(WindowsTimeZoneTest, LocalTimeGoesBackToTheSameSeconds) {
  UseZone("EST5EDT");
  for (const int64_t seconds : {kWinter, kSummer}) {
    std::tm local = ToLocalTime(seconds);
    EXPECT_EQ(FromLocalTime(&local), seconds);
  }
}

}  // namespace
}  // namespace zol
