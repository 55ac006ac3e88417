#include "base/local_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/windows_build.h"

namespace zol {
namespace {

class LocalTimeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("TZ");
    SetTimeZoneOffset(0);
    SetDaylightFlag(0);
  }
  void UseZone(const char* tz) {
    setenv("TZ", tz, 1);
    LoadTimeZone();
  }
};

// 2024-01-15 12:34:56 UTC (winter) and 2024-07-15 12:34:56 UTC (summer).
constexpr int64_t kWinter = 1705322096;
constexpr int64_t kSummer = 1721046896;

TEST_F(LocalTimeTest, CtimeLayoutInUtc) {
  UseZone("UTC");
  EXPECT_EQ(std::string(FormatCtime(kWinter).text), "Mon Jan 15 12:34:56 2024\n");
  EXPECT_EQ(std::string(FormatCtime(0).text), "Thu Jan  1 00:00:00 1970\n");
  EXPECT_EQ(std::string(FormatCtimeUtc(kSummer).text), "Mon Jul 15 12:34:56 2024\n");
}

TEST_F(LocalTimeTest, ZonesEastWestAndHalfHour) {
  if (test::kWindowsBuild) GTEST_SKIP() << test::kNoZoneNames;
  UseZone("America/Los_Angeles");
  EXPECT_EQ(TimeZoneOffset(), 8 * 3600);
  EXPECT_EQ(DaylightFlag(), 1);
  EXPECT_EQ(std::string(FormatCtime(kWinter).text), "Mon Jan 15 04:34:56 2024\n");
  EXPECT_EQ(std::string(FormatCtime(kSummer).text), "Mon Jul 15 05:34:56 2024\n");

  UseZone("Asia/Kolkata");
  EXPECT_EQ(TimeZoneOffset(), -19800);
  EXPECT_EQ(std::string(FormatCtime(kWinter).text), "Mon Jan 15 18:04:56 2024\n");

  UseZone("Asia/Tokyo");
  EXPECT_EQ(std::string(FormatCtime(kWinter).text), "Mon Jan 15 21:34:56 2024\n");
}

TEST_F(LocalTimeTest, OperatorValuesOverrideTheZone) {
  // Under wine the runtime keeps the daylight dates of the first zone a
  // process set, so the system's summer here would be an earlier test's.
  if (test::kWindowsBuild) GTEST_SKIP() << "the runtime keeps one zone's daylight dates";
  UseZone("America/Los_Angeles");
  SetTimeZoneOffset(-5 * 3600);
  SetDaylightFlag(0);
  // Summer in the system's rules, but the flag is off: no extra hour.
  EXPECT_EQ(std::string(FormatCtime(kSummer).text), "Mon Jul 15 17:34:56 2024\n");
  SetDaylightFlag(1);
  EXPECT_EQ(std::string(FormatCtime(kSummer).text), "Mon Jul 15 18:34:56 2024\n");
  // Winter: the flag alone adds nothing.
  EXPECT_EQ(std::string(FormatCtime(kWinter).text), "Mon Jan 15 17:34:56 2024\n");
  EXPECT_EQ(ToLocalTime(kWinter).tm_hour, 17);
}

}  // namespace
}  // namespace zol
