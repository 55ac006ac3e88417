#include "app/clock_setup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "app/sampler_state.h"
#include "base/local_time.h"
#include "support/instrument_peers.h"
#include "support/test_rig.h"
#include "support/windows_build.h"

namespace zol {
namespace {

using test::TestRig;
using test::ZolPeer;

constexpr int kZolPort = 0;
// The fake clock's start: Mon 15 Jan 2024 12:34:56 UTC.
constexpr int64_t kStart = 1705322096;

const std::string kOffsetQuestion =
    "\nEnter local time zone offset in hours ( W is [+], E is [-] ) >";
const std::string kDaylightQuestion = "\nEnter Daylight Observation, [0]=False [1]=True >";
const std::string kTimeout = "\n\nInput Timeout!\n";

// The end of the text, as long as `ending`, compared with it.
void ExpectEnding(const std::string& text, const std::string& ending) {
  const size_t from = text.size() < ending.size() ? 0 : text.size() - ending.size();
  EXPECT_EQ(text.substr(from), ending) << "in: " << text;
}

class ClockSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ"); tz != nullptr) savedTz_ = tz;
    hadTz_ = std::getenv("TZ") != nullptr;
    UseZone("UTC");
    State().zolPort = kZolPort;
    State().ctdPort = -1;
    rig.serial.Open(kZolPort, 1024, 1024);
  }
  void TearDown() override {
    if (hadTz_) {
      setenv("TZ", savedTz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void UseZone(const char* tz) {
    if (tz != nullptr) {
      setenv("TZ", tz, 1);
    } else {
      unsetenv("TZ");
    }
  }
  // Everything printed from "***Getting ZOL Time***" on.
  std::string ZolPart() {
    const std::string all = rig.console.Text();
    const size_t at = all.find("\n***Getting ZOL Time***");
    return at == std::string::npos ? all : all.substr(at);
  }
  bool Sent(const std::string& command) const {
    for (const std::string& c : zol.commands) {
      if (c == command) return true;
    }
    return false;
  }

  TestRig rig;
  ZolPeer zol{rig.serial, rig.clock, kZolPort};

 private:
  std::string savedTz_;
  bool hadTz_ = false;
};

struct ShowCase {
  const char* name;
  int64_t zolAhead;
  std::optional<std::string> rtcReply;
  const char* keys;
  std::string screen;
};

TEST_F(ClockSetupTest, ShowTimesSideBySideInUtc) {
  const ShowCase cases[] = {
      {"behind", -3600, std::nullopt, "\r",
       "ZOL Date/Time = Mon 15 Jan 2024 11:34:56\n"
       "PC  Date/Time = Mon 15 Jan 2024 12:34:56\n"
       "\nSync ZOL RTC to PC? (Yes/No) [N]\n"},
      {"zero clock", 0, "RTC,?,0", "n\r",
       "ZOL Date/Time = Thu 01 Jan 1970 00:00:00\n"
       "PC  Date/Time = Mon 15 Jan 2024 12:34:56\n"
       "\nSync ZOL RTC to PC? (Yes/No) [N]n\n"},
  };
  UseZone("Asia/Tokyo");  // the display is UTC whatever the zone
  for (const ShowCase& c : cases) {
    zol.clockOffset = c.zolAhead;
    zol.rtcQueryReply = c.rtcReply;
    rig.keys.Push(c.keys);
    rig.console.Take();
    ShowTimes();
    EXPECT_EQ(rig.console.Take(), c.screen) << c.name;
  }
  // Without synchronisation nothing sends the ZOL back to sleep.
  EXPECT_FALSE(Sent("SLP"));
  EXPECT_FALSE(zol.asleep);
}

TEST_F(ClockSetupTest, ShowTimesWithoutReplyPrintsALineAndGoesOn) {
  zol.silent = true;
  rig.keys.Push("\r");
  ShowTimes();
  const std::string all = rig.console.Text();
  const std::string pcLine = std::string("PC  Date/Time = ");
  EXPECT_EQ(all.substr(0, all.find(pcLine)), "ZOL Date/Time = (no reply, ret = -2)\n");
  EXPECT_NE(all.find(pcLine), std::string::npos);
  ExpectEnding(all, "\nSync ZOL RTC to PC? (Yes/No) [N]\n");
}

TEST_F(ClockSetupTest, SyncRunsTheSetUpAndSetsTheClock) {
  zol.clockOffset = 30;
  rig.keys.Push("y\r\r\ry\r");
  ShowTimes();
  const std::string all = rig.console.Text();
  EXPECT_EQ(all.substr(0, all.find("\n***Getting ZOL Time***")),
            "ZOL Date/Time = Mon 15 Jan 2024 12:35:26\n"
            "PC  Date/Time = Mon 15 Jan 2024 12:34:56\n"
            "\nSync ZOL RTC to PC? (Yes/No) [N]y"
            "\n***Getting Local Time Zone Offset***\n"
            "TZ environment var = UTC\n"
            "Local Time Zone Offset from GMT = +0 hrs, 0 secs\n"
            "Modify (Yes/No) [N]\n"
            "\n***Getting Local Daylight Savings Setting***\n"
            "Daylight Observation = FALSE\n"
            "Modify (Yes/No) [N]\n");
  const std::string zolPart = ZolPart();
  EXPECT_EQ(zolPart.substr(0, zolPart.find("\nSetZolTime()")),
            "\n***Getting ZOL Time***\n"
            "PC  Time (GMT) = 1705322096 = Mon Jan 15 12:34:56 2024\n"
            "ZOL Time (GMT) = 1705322126 = Mon Jan 15 12:35:26 2024\n"
            "Time Delta      = 30 secs\n"
            "\nTransfer PC Time to ZOL (Yes/No) [N]y");
  ExpectEnding(all, "\nZOL Time has been set!\n");
  EXPECT_EQ(zol.lastSetTime, kStart);
  // Woken in mode 1, and asleep once the time is set.
  EXPECT_TRUE(Sent("MODE,1"));
  EXPECT_EQ(zol.commands.back(), "SLP");
  EXPECT_TRUE(zol.asleep);
}

TEST_F(ClockSetupTest, DeltaIsAbsolute) {
  for (const int64_t offset : {-30, 30}) {
    zol.clockOffset = offset;
    rig.console.Take();
    rig.keys.Push("\r\r\r");
    SetupClock(kZolPort);
    EXPECT_NE(rig.console.Take().find("Time Delta      = 30 secs\n"), std::string::npos) << offset;
  }
}

struct ZoneCase {
  const char* tz;
  const char* tzLine;
  const char* offsetLine;
  const char* daylightLine;
};

TEST_F(ClockSetupTest, TimeZoneFromTheEnvironment) {
  if (test::kWindowsBuild) GTEST_SKIP() << test::kNoZoneNames;
  const ZoneCase cases[] = {
      {"UTC", "TZ environment var = UTC\n", "Local Time Zone Offset from GMT = +0 hrs, 0 secs\n",
       "Daylight Observation = FALSE\n"},
      {"America/Los_Angeles", "TZ environment var = America/Los_Angeles\n",
       "Local Time Zone Offset from GMT = +8 hrs, 28800 secs\n", "Daylight Observation = TRUE\n"},
      // glibc reports daylight saving for any zone that ever observed it.
      {"Asia/Tokyo", "TZ environment var = Asia/Tokyo\n",
       "Local Time Zone Offset from GMT = -9 hrs, -32400 secs\n", "Daylight Observation = TRUE\n"},
      {"JST-9", "TZ environment var = JST-9\n",
       "Local Time Zone Offset from GMT = -9 hrs, -32400 secs\n", "Daylight Observation = FALSE\n"},
      {"EST5EDT", "TZ environment var = EST5EDT\n",
       "Local Time Zone Offset from GMT = +5 hrs, 18000 secs\n", "Daylight Observation = TRUE\n"},
      {"Europe/Berlin", "TZ environment var = Europe/Berlin\n",
       "Local Time Zone Offset from GMT = -1 hrs, -3600 secs\n", "Daylight Observation = TRUE\n"},
      {"Asia/Kolkata", "TZ environment var = Asia/Kolkata\n",
       "Local Time Zone Offset from GMT = -5 hrs, -19800 secs\n", "Daylight Observation = TRUE\n"},
      {"IST-5:30", "TZ environment var = IST-5:30\n",
       "Local Time Zone Offset from GMT = -5 hrs, -19800 secs\n", "Daylight Observation = FALSE\n"},
  };
  for (const ZoneCase& c : cases) {
    UseZone(c.tz);
    rig.console.Take();
    rig.keys.Push("\r\r\r");
    SetupClock(kZolPort);
    const std::string expected = std::string("\n***Getting Local Time Zone Offset***\n") +
                                 c.tzLine + c.offsetLine + "Modify (Yes/No) [N]\n" +
                                 "\n***Getting Local Daylight Savings Setting***\n" +
                                 c.daylightLine + "Modify (Yes/No) [N]\n";
    EXPECT_EQ(rig.console.Take().substr(0, expected.size()), expected) << c.tz;
  }
}

TEST_F(ClockSetupTest, UnsetTzIsShownAsNull) {
  UseZone(nullptr);
  rig.keys.Push("\r\r\r");
  SetupClock(kZolPort);
  const std::string expected =
      "\n***Getting Local Time Zone Offset***\nTZ environment var = NULL!\n";
  EXPECT_EQ(rig.console.Text().substr(0, expected.size()), expected);
}

TEST_F(ClockSetupTest, OffsetMustChangeAndStayInRange) {
  if (test::kWindowsBuild) GTEST_SKIP() << test::kNoZoneNames;
  UseZone("Asia/Kolkata");
  // Modify; the shown hours again; Enter; 13; -13; then -12.
  rig.keys.Push("y\r-5\r\r13\r-13\r-12\r\r\r");
  SetupClock(kZolPort);
  const std::string asked = kOffsetQuestion + " [-5] ? ";
  const std::string rangeError = "\nInput Error, Time Zone Offset Range=[-12L, 12L], try again!\n";
  const std::string expected =
      "Local Time Zone Offset from GMT = -5 hrs, -19800 secs\n"
      "Modify (Yes/No) [N]y" +
      asked + "-5" + asked + asked + "13" + rangeError + asked + "-13" + rangeError + asked +
      "-12" +
      "\nThe New Local Time Zone Offset = -12 hrs, -43200 secs\n"
      "\n***Getting Local Daylight Savings Setting***\n";
  const std::string all = rig.console.Text();
  EXPECT_NE(all.find(expected), std::string::npos) << all;
  EXPECT_EQ(TimeZoneOffset(), -43200);
  // Every later local time uses the operator's offset.
  EXPECT_EQ(std::string(FormatCtime(kStart).text), "Tue Jan 16 00:34:56 2024\n");
}

TEST_F(ClockSetupTest, WestmostOffsetAndAnAbandonedAnswerAskAgain) {
  rig.keys.Push(
      "y\r\x03"
      "12\r\r\r");
  SetupClock(kZolPort);
  const std::string asked = kOffsetQuestion + " [0] ? ";
  const std::string all = rig.console.Text();
  EXPECT_NE(all.find("Modify (Yes/No) [N]y" + asked + asked + "12" +
                     "\nThe New Local Time Zone Offset = +12 hrs, 43200 secs\n"),
            std::string::npos)
      << all;
  EXPECT_EQ(TimeZoneOffset(), 43200);
}

TEST_F(ClockSetupTest, DaylightFlagMustChangeAndBeZeroOrOne) {
  if (test::kWindowsBuild) GTEST_SKIP() << test::kNoZoneNames;
  UseZone("America/Los_Angeles");
  rig.keys.Push("\ry\r1\r2\r0\r\r");
  SetupClock(kZolPort);
  const std::string asked = kDaylightQuestion + " [1] ? ";
  const std::string expected =
      "Daylight Observation = TRUE\nModify (Yes/No) [N]y" + asked + "1" + asked + "2" +
      "\nInput Error, Daylight Adjustment Range=[0, 1], try again!\n" + asked + "0" +
      "\nThe New Daylight Adjusment = 0\n" + "\n***Getting ZOL Time***\n";
  const std::string all = rig.console.Text();
  EXPECT_NE(all.find(expected), std::string::npos) << all;
  EXPECT_EQ(DaylightFlag(), 0);
  EXPECT_EQ(TimeZoneOffset(), 28800);
}

TEST_F(ClockSetupTest, DaylightFlagCanBeSwitchedOn) {
  rig.keys.Push("\ry\r1\r\r");
  SetupClock(kZolPort);
  EXPECT_NE(rig.console.Text().find("\nThe New Daylight Adjusment = 1\n"), std::string::npos);
  EXPECT_EQ(DaylightFlag(), 1);
}

TEST_F(ClockSetupTest, ClosedKeyboardEndsBothLoopsWithTheValuesKept) {
  if (test::kWindowsBuild) GTEST_SKIP() << test::kNoZoneNames;
  UseZone("America/Los_Angeles");
  rig.keys.Push("y\r7");  // the input ends in the middle of the offset answer
  SetupClock(kZolPort);
  EXPECT_EQ(TimeZoneOffset(), 28800);
  EXPECT_EQ(DaylightFlag(), 1);
  const std::string all = rig.console.Text();
  EXPECT_NE(all.find("Modify (Yes/No) [N]y" + kOffsetQuestion + " [8] ? 7" + kTimeout +
                     "\n***Getting Local Daylight Savings Setting***\n"
                     "Daylight Observation = TRUE\n"
                     "Modify (Yes/No) [N]" +
                     kTimeout + "\n\n***Getting ZOL Time***\n"),
            std::string::npos)
      << all;
  // The transfer question cannot be answered either: declined, ZOL asleep.
  ExpectEnding(all, "\nTransfer PC Time to ZOL (Yes/No) [N]" + kTimeout + "\n");
  EXPECT_EQ(zol.commands.back(), "SLP");
}

TEST_F(ClockSetupTest, ClosedKeyboardInTheDaylightLoop) {
  rig.keys.Push("\ry\r");
  SetupClock(kZolPort);
  EXPECT_EQ(DaylightFlag(), 0);
  EXPECT_NE(rig.console.Text().find(kDaylightQuestion + " [0] ? " + kTimeout +
                                    "\n***Getting ZOL Time***\n"),
            std::string::npos);
}

TEST_F(ClockSetupTest, ZolThatDoesNotWakeEndsOnlyTheSetUp) {
  zol.silent = true;
  rig.keys.Push("\r\r");
  SetupClock(kZolPort);
  EXPECT_EQ(ZolPart(), "\n***Getting ZOL Time***\n\nERROR Waking ZOL, ret = -2, exiting!\n");
  EXPECT_FALSE(Sent("RTC,?"));
  EXPECT_FALSE(Sent("SLP"));
}

TEST_F(ClockSetupTest, UnreadableZolClock) {
  zol.rtcQueryReply = "RTC,?,0";
  rig.keys.Push("\r\r");
  SetupClock(kZolPort);
  EXPECT_EQ(ZolPart(), "\n***Getting ZOL Time***\n\nERROR Getting ZOL Time, ret = 0\n");
  EXPECT_FALSE(Sent("SLP"));
}

TEST_F(ClockSetupTest, DeclinedTransferSendsTheZolToSleep) {
  rig.keys.Push("\r\rn\r");
  SetupClock(kZolPort);
  const std::string all = rig.console.Text();
  ExpectEnding(all, "\nTransfer PC Time to ZOL (Yes/No) [N]n\n");
  EXPECT_EQ(zol.commands.back(), "SLP");
  EXPECT_TRUE(zol.asleep);
  EXPECT_EQ(zol.lastSetTime, 0);
}

TEST_F(ClockSetupTest, RefusedTransferLeavesTheZolAwake) {
  zol.rtcSetReply = "ACK,RTC,SET,5";
  rig.keys.Push("\r\ry\r");
  SetupClock(kZolPort);
  const std::string all = rig.console.Text();
  ExpectEnding(all, "\nERROR Setting ZOL Time, ret = 0\n");
  EXPECT_FALSE(Sent("SLP"));
  EXPECT_FALSE(zol.asleep);
}

TEST_F(ClockSetupTest, UnansweredTransfer) {
  zol.rtcSetReply = "";  // a bare line end: no reply line
  rig.keys.Push("\r\ry\r");
  SetupClock(kZolPort);
  ExpectEnding(rig.console.Text(), "\nERROR Setting ZOL Time, ret = -2\n");
  EXPECT_FALSE(Sent("SLP"));
}

}  // namespace
}  // namespace zol
