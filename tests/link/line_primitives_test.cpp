// The line primitives decide what is taken from the receive queue, what
// stays, and how long each wait lasts; both protocols rest on that.
#include "link/line_primitives.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "link/serial_service.h"
#include "support/test_rig.h"
#include "support/trickle_line.h"

namespace zol::test {
namespace {

constexpr int kPort = 0;

// Lets late bytes arrive, then takes everything the program left queued.
std::string Leftover(TestRig& rig) {
  rig.clock.Advance(1000);
  std::string rest;
  for (int c = rig.serial.Getc(kPort); c >= 0; c = rig.serial.Getc(kPort))
    rest.push_back(static_cast<char>(c));
  return rest;
}

struct ElapsedCase {
  TimeStamp start;
  TimeStamp now;
  int32_t expected;
};

TEST(ElapsedBetweenTest, BorrowsAcrossTheSecondAndNeverGoesNegative) {
  const std::vector<ElapsedCase> cases = {
      {{100, 900}, {101, 100}, 200},   // borrow across one second
      {{100, 900}, {100, 800}, 900},   // clock stepped back within the second
      {{100, 100}, {102, 50}, 1950},   // borrow across two seconds
      {{100, 100}, {101, 600}, 1500},  // no borrow
      {{100, 100}, {100, 100}, 0},
      {{100, 0}, {145, 999}, 45999},
      // The seconds count as their low 32 bits.
      {{0xFFFFFFFFLL, 500}, {0x100000000LL, 400}, 900},
  };
  for (const ElapsedCase& c : cases) {
    EXPECT_EQ(ElapsedBetween(c.start, c.now), c.expected)
        << c.start.seconds << "." << c.start.millis << " -> " << c.now.seconds << "."
        << c.now.millis;
  }
}

class LinePrimitivesTest : public ::testing::Test {
 protected:
  int64_t Elapsed() { return rig.clock.MonotonicMs() - start; }

  TestRig rig;
  int64_t start = rig.clock.MonotonicMs();
};

TEST_F(LinePrimitivesTest, StopwatchMeasuresOnlyItsOwnThreadsStart) {
  StartTimer();
  rig.clock.Advance(500);
  // A wait on another thread starts its own stopwatch.
  std::thread other([] { StartTimer(); });
  other.join();
  rig.clock.Advance(734);
  EXPECT_EQ(ElapsedMs(), 1234);
}

struct ReadLineCase {
  const char* name;
  std::string delivered;
  int deliverDelayMs;
  uint16_t len;
  uint16_t seconds;
  int expectedCount;
  std::string expectedLine;
  std::string leftover;
  int64_t elapsedMs;
};

TEST(ReadLineTest, TakesOneLineAndLeavesTheRest) {
  const std::string forty(40, 'q');
  const std::vector<ReadLineCase> cases = {
      {"skips leading ends, keeps LF of CR LF", "\r\nOK\r\n", 0, 32, 2, 2, "OK", "\n", 0},
      {"CR ends the line before LF", "AB\rCD\n", 0, 32, 2, 2, "AB", "CD\n", 0},
      {"full buffer", forty + "\r\n", 0, 32, 2, 31, forty.substr(0, 31), forty.substr(31) + "\r\n",
       0},
      {"smallest buffer", "XYZ\r", 0, 2, 2, 1, "X", "YZ\r", 0},
      {"partial line at the timeout", "abc", 0, 32, 2, 3, "abc", "", 2000},
      {"nothing", "", 0, 32, 2, 0, "", "", 2000},
      {"only line ends", "\r\n\n\r", 0, 32, 2, 0, "", "", 2000},
      {"timeout 0 reads nothing", "OK\r\n", 0, 32, 0, 0, "", "OK\r\n", 0},
      {"NUL and high bytes are characters", std::string("A\0B\xff\x80\r", 6), 0, 32, 2, 5,
       std::string("A\0B\xff\x80", 5), "", 0},
      {"reply arriving late", "LATE\r\n", 1500, 32, 2, 4, "LATE", "\n", 1500},
      {"reply arriving after the limit", "LATE\r\n", 2500, 32, 2, 0, "", "LATE\r\n", 2000},
      {"long limit", "DAT\r\n", 24000, 32, 25, 3, "DAT", "\n", 24000},
  };
  for (const ReadLineCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestRig rig;
    const int64_t begin = rig.clock.MonotonicMs();
    rig.serial.Deliver(kPort, c.delivered, c.deliverDelayMs);
    // Guard bytes after the buffer catch any write past its end.
    std::string buf(c.len + 8u, 'Z');
    const int count = ReadLine(kPort, buf.data(), c.len, c.seconds);
    EXPECT_EQ(count, c.expectedCount);
    EXPECT_EQ(buf.substr(0, static_cast<size_t>(count)), c.expectedLine);
    EXPECT_EQ(buf[static_cast<size_t>(count)], '\0');
    EXPECT_EQ(buf.substr(c.len), std::string(8, 'Z'));
    EXPECT_EQ(rig.clock.MonotonicMs() - begin, c.elapsedMs);
    EXPECT_EQ(Leftover(rig), c.leftover);
  }
}

TEST_F(LinePrimitivesTest, NextReadLineSkipsTheLeftoverLineEnd) {
  rig.serial.Deliver(kPort, "\r\nOK\r\nNEXT\r\n");
  char buf[32];
  ASSERT_EQ(ReadLine(kPort, buf, sizeof buf, 2), 2);
  EXPECT_STREQ(buf, "OK");
  ASSERT_EQ(ReadLine(kPort, buf, sizeof buf, 2), 4);
  EXPECT_STREQ(buf, "NEXT");
  EXPECT_EQ(Leftover(rig), "\n");
}

TEST_F(LinePrimitivesTest, ReadLineRefusesBuffersWithNoRoomForACharacter) {
  rig.serial.Deliver(kPort, "OK\r\n");
  char one = 'Z';
  EXPECT_EQ(ReadLine(kPort, &one, 1, 2), 0);
  EXPECT_EQ(one, '\0');
  EXPECT_EQ(ReadLine(kPort, nullptr, 32, 2), 0);
  EXPECT_EQ(Leftover(rig), "OK\r\n");
}

// The babbling line: bytes that never stop coming.
class TrickleTest : public ::testing::Test {
 protected:
  TestRig rig;
  int64_t start = rig.clock.MonotonicMs();
  int64_t Elapsed() { return rig.clock.MonotonicMs() - start; }
};

TEST_F(TrickleTest, ALineStillArrivingAtTheLimitIsReadToItsEnd) {
  TrickleLine line(rig.clock, "abcdefghij\r\nrest", 300, false);
  InstallSerialService(&line);
  char buf[32];
  EXPECT_EQ(ReadLine(kPort, buf, sizeof buf, 2), 10);
  EXPECT_STREQ(buf, "abcdefghij");
  EXPECT_EQ(Elapsed(), 11 * 300);
  EXPECT_EQ(line.Taken(), 11);
}

TEST_F(TrickleTest, AnEndlessLineStopsAtTheBufferLimit) {
  TrickleLine line(rig.clock, "x", 1, true);
  InstallSerialService(&line);
  char buf[1024];
  EXPECT_EQ(ReadLine(kPort, buf, sizeof buf, 45), 1023);
  EXPECT_EQ(line.Taken(), 1023);
  EXPECT_EQ(std::string(buf), std::string(1023, 'x'));
}

TEST_F(TrickleTest, AnEndlessStreamOfLineEndsStopsAtTheLimit) {
  TrickleLine line(rig.clock, "\r\n", 1, true);
  InstallSerialService(&line);
  char buf[32];
  EXPECT_EQ(ReadLine(kPort, buf, sizeof buf, 2), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_GE(Elapsed(), 2000);
  EXPECT_LE(Elapsed(), 2001);
}

struct GetcCase {
  const char* name;
  std::string delivered;
  int deliverDelayMs;
  uint16_t seconds;
  int expected;
  std::string leftover;
  int64_t elapsedMs;
};

TEST(GetcTimedTest, TakesOneCharacterOrTimesOut) {
  const std::vector<GetcCase> cases = {
      {"waiting character", "AB", 0, 2, 'A', "B", 0},
      {"nothing", "", 0, 2, 0, "", 2000},
      {"timeout 0 reads nothing", "A", 0, 0, 0, "A", 0},
      {"NUL looks like a timeout but is taken", std::string("\0B", 2), 0, 2, 0, "B", 0},
      {"high byte", "\xff", 0, 2, 255, "", 0},
      {"late character", ">", 700, 2, '>', "", 700},
      {"too late", ">", 2001, 2, 0, ">", 2000},
  };
  for (const GetcCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestRig rig;
    const int64_t begin = rig.clock.MonotonicMs();
    rig.serial.Deliver(kPort, c.delivered, c.deliverDelayMs);
    EXPECT_EQ(GetcTimed(kPort, c.seconds), c.expected);
    EXPECT_EQ(rig.clock.MonotonicMs() - begin, c.elapsedMs);
    EXPECT_EQ(Leftover(rig), c.leftover);
  }
}

TEST_F(LinePrimitivesTest, AFailingPortEndsWaitsAtTheirLimitWithoutSpinning) {
  rig.serial.SetWaitRxError(kPort, kSerialSystemError);
  char buf[32];
  EXPECT_EQ(ReadLine(kPort, buf, sizeof buf, 2), 0);
  EXPECT_EQ(Elapsed(), 2000);
  EXPECT_EQ(GetcTimed(kPort, 2), 0);
  EXPECT_EQ(Elapsed(), 4000);
  // The port is retried a few times a second, not in a tight loop.
  EXPECT_LE(rig.serial.WaitRxCalls(kPort), 2 * 25);
}

TEST_F(LinePrimitivesTest, ACancelledWaitDoesNotCutTheTimeoutShort) {
  SerialCancelWait(kPort);
  rig.serial.Deliver(kPort, "OK\r\n", 1500);
  char buf[32];
  EXPECT_EQ(ReadLine(kPort, buf, sizeof buf, 2), 2);
  EXPECT_EQ(Elapsed(), 1500);
}

TEST_F(LinePrimitivesTest, SendStringPutsCrBeforeEveryLf) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ACK\n", "ACK\r\n"}, {"", ""},
      {"TS", "TS"},         {"A\r\nB", "A\r\r\nB"},
      {"\n\n", "\r\n\r\n"}, {"pumpoff\r", "pumpoff\r"},
      {"MODE,2", "MODE,2"},
  };
  for (const auto& [text, wire] : cases) {
    EXPECT_EQ(SendString(kPort, text.c_str()), 1);
    EXPECT_EQ(rig.serial.TakeSent(kPort), wire) << text;
  }
  EXPECT_EQ(Elapsed(), 0);
}

TEST_F(LinePrimitivesTest, SendStringsDrainWaitIsBounded) {
  rig.serial.SetTxStuck(kPort, true);
  EXPECT_EQ(SendString(kPort, "ACK\n"), 1);
  // Five bytes need 167 ms at 300 baud; the wait allows that and a margin.
  EXPECT_GE(Elapsed(), 167);
  EXPECT_LE(Elapsed(), 167 + 2000);
  // An empty text still waits for earlier bytes to drain.
  const int64_t before = Elapsed();
  EXPECT_EQ(SendString(kPort, ""), 1);
  EXPECT_GT(Elapsed(), before);
}

TEST_F(LinePrimitivesTest, SendStringsDrainWaitEndsOnAServiceError) {
  rig.serial.SetTxError(kPort, kSerialSystemError);
  EXPECT_EQ(SendString(kPort, "ACK\n"), 1);
  EXPECT_EQ(rig.serial.Sent(kPort), "ACK\r\n");
  EXPECT_EQ(Elapsed(), 0);
}

}  // namespace
}  // namespace zol::test
