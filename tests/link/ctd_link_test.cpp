// The CTD exchanges against a scripted probe: wake-up line, pokes, commands,
// the order of events on the port and the waits on the driven clock.
#include "link/ctd_link.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/instrument_peers.h"
#include "support/test_rig.h"
#include "support/trickle_line.h"

namespace zol::test {
namespace {

constexpr int kPort = 1;

class CtdLinkTest : public ::testing::Test {
 protected:
  int64_t Elapsed() { return rig.clock.MonotonicMs() - start; }
  std::vector<std::string> Log() { return rig.serial.Log(kPort); }

  TestRig rig;
  CtdPeer ctd{rig.serial, kPort};
  int64_t start = rig.clock.MonotonicMs();
};

TEST_F(CtdLinkTest, WakeCtdPokesOnceAndDiscardsTheRest) {
  ctd.prompt = "S>more text";
  EXPECT_EQ(WakeCtd(kPort), 1);
  const std::vector<std::string> expected = {"line:C", "rxclear", "tx:\r", "rxclear"};
  EXPECT_EQ(Log(), expected);
  // A second of settling, a quarter for the poke, 5 ms for the answer.
  EXPECT_EQ(Elapsed(), 1000 + 250 + 5);
  EXPECT_EQ(rig.serial.PendingBytes(kPort), 0);
}

TEST_F(CtdLinkTest, WakeCtdDiscardsWhatCameBeforeThePoke) {
  rig.serial.Deliver(kPort, "stale >", 0);
  ctd.silent = true;
  EXPECT_EQ(WakeCtd(kPort), -2);
}

TEST_F(CtdLinkTest, WakeCtdGivesUpAfterTenAttemptsAndAssertsTheLine) {
  ctd.silent = true;
  EXPECT_EQ(WakeCtd(kPort), -2);
  const std::vector<std::string> expected = {"line:C", "rxclear", "tx:" + std::string(10, '\r'),
                                             "line:S"};
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(Elapsed(), 1000 + 10 * (250 + 2000));
}

TEST_F(CtdLinkTest, WakeCtdReadsAtMostThirtyCharactersPerAttempt) {
  ctd.prompt = std::string(100, 'x');  // each poke answered by 102 characters
  EXPECT_EQ(WakeCtd(kPort), -2);
  EXPECT_EQ(rig.serial.Sent(kPort), std::string(10, '\r'));
  EXPECT_EQ(rig.serial.PendingBytes(kPort), 10 * 102 - 10 * 30);
  EXPECT_EQ(Log().back(), "line:S");
}

TEST_F(CtdLinkTest, WakeCtdSurvivesAnEndlessBabble) {
  TrickleLine line(rig.clock, "babble", 1, true);
  InstallSerialService(&line);
  EXPECT_EQ(WakeCtd(kPort), -2);
  EXPECT_EQ(line.Taken(), 10 * 30);
}

TEST_F(CtdLinkTest, ANulEndsTheAttempt) {
  ctd.prompt = std::string("\0>", 2);
  EXPECT_EQ(WakeCtd(kPort), 1);
  // The first attempt stopped at the NUL; the second found the '>' behind it.
  EXPECT_EQ(rig.serial.Sent(kPort), "\r\r");
}

TEST_F(CtdLinkTest, GetCtdDatReadsTheLineAndReleasesTheCtd) {
  char buf[1024];
  EXPECT_EQ(GetCtdDat(kPort, buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "12.345, 15.1234, 33.5678");
  const std::vector<std::string> expected = {"line:C",  "rxclear",      "tx:\r",
                                             "rxclear", "tx:pts\rQS\r", "line:S"};
  EXPECT_EQ(Log(), expected);
  // Wake-up, the reply half a second later, 50 ms either side of "QS".
  EXPECT_EQ(Elapsed(), 1255 + 505 + 100);
}

TEST_F(CtdLinkTest, GetCtdDatSkipsTheEchoOfItsCommand) {
  ctd.echo = true;
  char buf[1024];
  EXPECT_EQ(GetCtdDat(kPort, buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "12.345, 15.1234, 33.5678");
}

TEST_F(CtdLinkTest, GetCtdDatWithAnEchoAndNoDataGivesAnEmptyLine) {
  rig.serial.SetPeer(kPort, [this](int, std::string_view command) {
    if (command == "\r") rig.serial.Deliver(kPort, "S>", 5);
    if (command == "pts\r") rig.serial.Deliver(kPort, "pts\r\n", 5);
  });
  char buf[1024];
  EXPECT_EQ(GetCtdDat(kPort, buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "");
  // Each of the two reads has its own 45 s.
  EXPECT_EQ(Elapsed(), 1255 + 5 + 45000 + 100);
  EXPECT_EQ(Log().back(), "line:S");
}

TEST_F(CtdLinkTest, GetCtdDatWithoutAReplyLeavesTheLineCleared) {
  ctd.noData = true;
  char buf[1024];
  EXPECT_EQ(GetCtdDat(kPort, buf, sizeof buf), -2);
  EXPECT_EQ(Log().back(), "tx:pts\r");
  EXPECT_EQ(Elapsed(), 1255 + 45000);
}

TEST_F(CtdLinkTest, GetCtdDatWithoutAWakeUpSendsNoCommand) {
  ctd.silent = true;
  char buf[1024];
  EXPECT_EQ(GetCtdDat(kPort, buf, sizeof buf), 0);
  EXPECT_EQ(rig.serial.Sent(kPort), std::string(10, '\r'));
}

TEST_F(CtdLinkTest, GetCtdDatKeepsAHugeReplyWithinTheBuffer) {
  ctd.dataLine = std::string(3000, '7');
  std::string buf(1024 + 16, 'Z');
  EXPECT_EQ(GetCtdDat(kPort, buf.data(), 1024), 1);
  EXPECT_EQ(std::string(buf.c_str()), std::string(1023, '7'));
  EXPECT_EQ(buf.substr(1024), std::string(16, 'Z'));
}

TEST_F(CtdLinkTest, PumpOnThenOffWakesTwiceAndEndsWithTheLineAsserted) {
  EXPECT_EQ(CtdPump(kPort, 1), 1);
  EXPECT_TRUE(ctd.pumpOn);
  EXPECT_EQ(CtdPump(kPort, 0), 1);
  EXPECT_FALSE(ctd.pumpOn);
  const std::vector<std::string> expected = {
      "line:C",  "rxclear", "tx:\r",   "rxclear",          "tx:pumpon\r", "line:C",
      "rxclear", "tx:\r",   "rxclear", "tx:pumpoff\rQS\r", "line:S"};
  EXPECT_EQ(Log(), expected);
}

TEST_F(CtdLinkTest, PumpRefusesABadSwitchAndASleepingCtd) {
  EXPECT_EQ(CtdPump(kPort, 2), 0);
  EXPECT_TRUE(Log().empty());
  ctd.silent = true;
  EXPECT_EQ(CtdPump(kPort, 1), 0);
  EXPECT_EQ(rig.serial.Sent(kPort), std::string(10, '\r'));
  EXPECT_EQ(Log().back(), "line:S");
}

struct ParseCase {
  const char* reply;
  int32_t result;
  int expected;
  // Values after the call; the sentinel 99 means untouched.
  float pressure, temp, sal;
};

TEST(ParseCtdDatTest, ReadsPressureTemperatureSalinity) {
  const std::vector<ParseCase> cases = {
      {"12.345, 15.1234, 33.5678", 1, 1, 12.345f, 15.1234f, 33.5678f},
      {"12.5,15.25,33.75", 1, 1, 12.5f, 15.25f, 33.75f},
      {"  1.5e1,\t-2.5E-1,\n3 trailing text", 1, 1, 15.0f, -0.25f, 3.0f},
      {"+1,  -0,   .5,", 1, 1, 1.0f, -0.0f, 0.5f},
      {"1e-50, 2, 3", 1, 1, 0.0f, 2.0f, 3.0f},
      {"12.5 , 15.25 , 33.75", 1, 0, 12.5f, 99, 99},
      {"12.5; 15.25; 33.75", 1, 0, 12.5f, 99, 99},
      {"1, 2", 1, 0, 1.0f, 2.0f, 99},
      {"1, 2,", 1, 0, 1.0f, 2.0f, 99},
      {"", 1, 0, 99, 99, 99},
      {"pts", 1, 0, 99, 99, 99},
      {"1e39, 2, 3", 1, 0, 99, 99, 99},
      {"1, 1e400, 3", 1, 0, 1.0f, 99, 99},
      {"1, 2, -3.5e38", 1, 0, 1.0f, 2.0f, 99},
      {"12.345, 15.1234, 33.5678", 0, 0, 99, 99, 99},
      {"12.345, 15.1234, 33.5678", -2, 0, 99, 99, 99},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.reply);
    TestRig rig;
    int64_t time = 99;
    float pressure = 99, temp = 99, sal = 99;
    EXPECT_EQ(ParseCtdDat(c.reply, &time, &temp, &sal, &pressure, c.result), c.expected);
    EXPECT_EQ(time, c.expected == 1 ? rig.clock.WallSeconds() : 99);
    EXPECT_EQ(pressure, c.pressure);
    EXPECT_EQ(temp, c.temp);
    EXPECT_EQ(sal, c.sal);
  }
}

TEST(ParseCtdDatTest, ReadsInfinityAndNotANumberAsTheFormatDoes) {
  float pressure = 0, temp = 0, sal = 0;
  EXPECT_EQ(ScanCtdValues("inf, nan, -inf", &pressure, &temp, &sal), 3);
  EXPECT_TRUE(std::isinf(pressure));
  EXPECT_TRUE(std::isnan(temp));
  EXPECT_LT(sal, 0.0f);
  EXPECT_EQ(ScanCtdValues(nullptr, &pressure, &temp, &sal), 0);
}

}  // namespace
}  // namespace zol::test
