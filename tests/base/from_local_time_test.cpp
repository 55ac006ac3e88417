#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "base/local_time.h"
#include "support/windows_build.h"

namespace zol {
namespace {

class FromLocalTimeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    unsetenv("TZ");
    tzset();
    SetTimeZoneOffset(0);
    SetDaylightFlag(0);
  }
  static void UseZone(const char* tz) {
    setenv("TZ", tz, 1);
    LoadTimeZone();
  }
  static std::tm Fields(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
  }
};

// 2024-01-15 12:34:56 UTC (winter) and 2024-07-15 12:34:56 UTC (summer).
constexpr int64_t kWinter = 1705322096;
constexpr int64_t kSummer = 1721046896;

struct InverseCase {
  const char* tz;
  std::tm local;
  int64_t seconds;
};

TEST_F(FromLocalTimeTest, InverseOfTheProgramsLocalTime) {
  if (test::kWindowsBuild) GTEST_SKIP() << test::kNoZoneNames;
  const InverseCase cases[] = {
      {"UTC", Fields(2024, 1, 15, 12, 34, 56), kWinter},
      {"America/Los_Angeles", Fields(2024, 1, 15, 4, 34, 56), kWinter},
      {"America/Los_Angeles", Fields(2024, 7, 15, 5, 34, 56), kSummer},
      {"Asia/Kolkata", Fields(2024, 1, 15, 18, 4, 56), kWinter},
      {"Asia/Tokyo", Fields(2024, 7, 15, 21, 34, 56), kSummer},
  };
  for (const InverseCase& c : cases) {
    UseZone(c.tz);
    std::tm local = c.local;
    EXPECT_EQ(FromLocalTime(&local), c.seconds) << c.tz;
    EXPECT_EQ(FromLocalTime(&local), c.seconds) << c.tz << " again";
  }
}

TEST_F(FromLocalTimeTest, OperatorsOffsetAndFlagApply) {
  if (test::kWindowsBuild) GTEST_SKIP() << test::kNoZoneNames;
  UseZone("America/Los_Angeles");
  SetTimeZoneOffset(-5 * 3600);
  SetDaylightFlag(0);
  std::tm local = Fields(2024, 7, 15, 17, 34, 56);
  EXPECT_EQ(FromLocalTime(&local), kSummer);
  SetDaylightFlag(1);
  local = Fields(2024, 7, 15, 18, 34, 56);
  EXPECT_EQ(FromLocalTime(&local), kSummer);
}

TEST_F(FromLocalTimeTest, FieldsAreNormalised) {
  UseZone("UTC");
  std::tm local = Fields(2024, 13, 1, 0, 0, 0);  // month 13
  local.tm_sec = 90;
  FromLocalTime(&local);
  EXPECT_EQ(local.tm_year, 125);
  EXPECT_EQ(local.tm_mon, 0);
  EXPECT_EQ(local.tm_min, 1);
  EXPECT_EQ(local.tm_sec, 30);
  EXPECT_EQ(local.tm_wday, 3);  // 1 Jan 2025 was a Wednesday
}

}  // namespace
}  // namespace zol
