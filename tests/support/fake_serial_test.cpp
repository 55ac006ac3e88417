// The in-memory serial service is what every protocol test stands on, so its
// own timing and framing rules are pinned down here.
#include "support/fake_serial.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_clock.h"
#include "support/instrument_peers.h"

namespace zol::test {
namespace {

std::string Drain(FakeSerial& serial, int port) {
  std::string out;
  for (int c = serial.Getc(port); c >= 0; c = serial.Getc(port))
    out.push_back(static_cast<char>(c));
  return out;
}

TEST(FakeSerialTest, PeerHearsOneCommandWhenTheProgramListens) {
  FakeClock clock;
  FakeSerial serial(clock);
  std::vector<std::string> heard;
  serial.SetPeer(0, [&](int, std::string_view bytes) { heard.emplace_back(bytes); });
  for (char c : std::string("SLP"))
    serial.Putc(0, c);
  EXPECT_TRUE(heard.empty());
  EXPECT_EQ(serial.WaitTxEmpty(0, 100), 0);
  EXPECT_EQ(heard, std::vector<std::string>{"SLP"});
  EXPECT_EQ(serial.Sent(0), "SLP");
}

TEST(FakeSerialTest, WaitsAdvanceTheDrivenClockToTheReplyOrTheDeadline) {
  FakeClock clock;
  FakeSerial serial(clock);
  const int64_t start = clock.MonotonicMs();
  serial.Deliver(0, "OK", 700);
  EXPECT_EQ(serial.RxCount(0), 0);
  EXPECT_EQ(serial.WaitRx(0, 2000), 2);
  EXPECT_EQ(clock.MonotonicMs() - start, 700);
  EXPECT_EQ(Drain(serial, 0), "OK");
  EXPECT_EQ(serial.WaitRx(0, 2000), 0);
  EXPECT_EQ(clock.MonotonicMs() - start, 2700);
}

TEST(FakeSerialTest, ClearDiscardsOnlyWhatHasArrived) {
  FakeClock clock;
  FakeSerial serial(clock);
  serial.Deliver(0, "old", 0);
  serial.Deliver(0, "new", 50);
  serial.RxClear(0);
  EXPECT_EQ(serial.PendingBytes(0), 3);
  clock.Advance(50);
  EXPECT_EQ(Drain(serial, 0), "new");
}

TEST(FakeSerialTest, CancelEndsAWaitWithNothing) {
  FakeClock clock;
  FakeSerial serial(clock);
  serial.CancelWait(0);
  const int64_t start = clock.MonotonicMs();
  EXPECT_EQ(serial.WaitRx(0, 5000), 0);
  EXPECT_EQ(clock.MonotonicMs(), start);
}

// A wait must hand the peer what is sent at any moment, also between its
// look at the line and its sleep (the pass-through terminal's other thread
// sends so). The peer sends that byte itself here, at exactly that moment;
// the reply must end the wait at once, not at its limit.
TEST(FakeSerialTest, BytesSentJustBeforeAWaitSleepsReachThePeer) {
  FakeClock clock;
  FakeSerial serial(clock);
  serial.Open(0, 1024, 1024);
  std::vector<std::string> heard;
  serial.SetPeer(0, [&](int port, std::string_view bytes) {
    heard.emplace_back(bytes);
    if (bytes == "A") serial.Putc(port, 'B');
    if (bytes == "B") serial.Deliver(port, "ok");
  });
  serial.Putc(0, 'A');
  const int64_t start = clock.MonotonicMs();
  EXPECT_EQ(serial.WaitRx(0, 3000), 2);
  EXPECT_EQ(clock.MonotonicMs(), start);
  EXPECT_EQ(heard, (std::vector<std::string>{"A", "B"}));
}

TEST(InstrumentPeersTest, ZolAnswersWakeAndSleepCtdAnswersPoke) {
  FakeClock clock;
  FakeSerial serial(clock);
  ZolPeer zol(serial, clock, 0);
  CtdPeer ctd(serial, 1);
  serial.Putc(0, 'W');
  ASSERT_GT(serial.WaitRx(0, 2000), 0);
  EXPECT_EQ(Drain(serial, 0), "ACK\r\n");
  serial.Write(0, "SLP", 3);
  ASSERT_GT(serial.WaitRx(0, 2000), 0);
  EXPECT_EQ(Drain(serial, 0), "ACK,SLP\r\n");
  EXPECT_TRUE(zol.asleep);
  serial.Putc(1, '\r');
  ASSERT_GT(serial.WaitRx(1, 2000), 0);
  EXPECT_EQ(Drain(serial, 1), "\r\nS>");
  EXPECT_EQ(ctd.commands, std::vector<std::string>{"\r"});
}

}  // namespace
}  // namespace zol::test
