// Fault lists as the operator writes them, and what each fault does to the
// instruments' replies.
#include "sim/faults.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/ctd_model.h"
#include "sim/model_driver.h"
#include "sim/zol_model.h"

namespace zol::sim::test {
namespace {

std::vector<Fault> Parse(std::string_view text,
                         const FaultCommands& commands = ZolFaultCommands()) {
  std::vector<Fault> faults;
  std::string error;
  EXPECT_TRUE(ParseFaults(text, commands, faults, error)) << text << ": " << error;
  return faults;
}

TEST(FaultListTest, ReadsKindsValuesAndScopes) {
  std::vector<Fault> faults =
      Parse("late:2500@TS+sl,drop:0.25,overlong,overlong:2048@C,vanish:1.5");
  ASSERT_EQ(faults.size(), 5u);
  EXPECT_EQ(faults[0].kind, FaultKind::kLate);
  EXPECT_EQ(faults[0].value, 2500);
  EXPECT_EQ(faults[0].scope, (std::vector<std::string>{"TS", "SL"}));
  EXPECT_EQ(faults[1].kind, FaultKind::kDrop);
  EXPECT_EQ(faults[1].value, 0.25);
  EXPECT_TRUE(faults[1].scope.empty());
  EXPECT_EQ(faults[2].value, kDefaultOverlongLength);
  EXPECT_EQ(faults[3].value, 2048);
  EXPECT_EQ(faults[4].kind, FaultKind::kVanish);
  EXPECT_EQ(faults[4].value, 1.5);

  // A plain nak refuses what the protocol can refuse, not the wake-up.
  EXPECT_EQ(Parse("nak")[0].scope, ZolFaultCommands().refusable);
  EXPECT_EQ(Parse("nak@W")[0].scope, (std::vector<std::string>{"W"}));
  EXPECT_EQ(Parse("silent@poke", CtdFaultCommands())[0].scope, (std::vector<std::string>{"POKE"}));
}

TEST(FaultListTest, RefusesWhatItCannotMeanExactly) {
  for (const char* bad : {"", "slow", "late", "late:", "late:-1", "late:abc", "late:1e9",
                          "drop:1.5", "drop:0.5x", "silent:3", "nak@", "nak@PTS", "garbage@TS+",
                          "overlong:1000", "vanish:0", "silent,,nak", "late: 5"}) {
    std::vector<Fault> faults;
    std::string error;
    EXPECT_FALSE(ParseFaults(bad, ZolFaultCommands(), faults, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(FaultInjectorTest, ShapesOnlyRepliesInScope) {
  FaultInjector faults(Parse("garbage@SL,late:300@SL+TS"), 1);
  std::optional<ShapedReply> other = faults.Shape("W", "ACK\r\n");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->bytes, "ACK\r\n");
  EXPECT_EQ(other->delayMs, 0);
  std::optional<ShapedReply> record = faults.Shape("SL", "1234, ZOL0042\r\n");
  ASSERT_TRUE(record);
  EXPECT_NE(record->bytes, "1234, ZOL0042\r\n");
  EXPECT_EQ(record->delayMs, 300);
  EXPECT_EQ(faults.Shape("TS", "ACK,TS,CMD\r\n")->bytes, "ACK,TS,CMD\r\n");
}

TEST(FaultInjectorTest, ContentFaultsKeepTheLineStructure) {
  const std::string reply = "\r\nS>first line\r\nsecond\r\n";
  FaultInjector garbage(Parse("garbage"), 3);
  std::string garbled = garbage.Shape("W", reply)->bytes;
  ASSERT_EQ(garbled.size(), reply.size());
  for (size_t i = 0; i < reply.size(); ++i) {
    bool lineEnd = reply[i] == '\r' || reply[i] == '\n';
    EXPECT_EQ(garbled[i] == '\r' || garbled[i] == '\n', lineEnd) << i;
    EXPECT_NE(garbled[i], '>') << "garbage never passes for a prompt";
  }
  EXPECT_EQ(FaultInjector(Parse("nul"), 3).Shape("W", "ACK\r\n")->bytes,
            std::string("\0\0\0\r\n", 5));

  std::string lengthened = FaultInjector(Parse("overlong:1100"), 3).Shape("W", reply)->bytes;
  EXPECT_EQ(lengthened.size(), reply.size() + (1100 - 12) + (1100 - 6));
  EXPECT_TRUE(lengthened.starts_with("\r\nS>first line"));
  EXPECT_EQ(FirstLine(lengthened).size(), 1100u);
}

TEST(FaultInjectorTest, LossesFollowTheProbabilityAndTheSeed) {
  auto losses = [](std::string_view list, uint64_t seed) {
    FaultInjector faults(Parse(list), seed);
    std::string pattern;
    for (int i = 0; i < 1000; ++i)
      pattern += faults.Shape("W", "ACK\r\n") ? '.' : 'x';
    return pattern;
  };
  EXPECT_EQ(losses("drop:0", 1), std::string(1000, '.'));
  EXPECT_EQ(losses("drop:1", 1), std::string(1000, 'x'));
  EXPECT_EQ(losses("silent", 1), std::string(1000, 'x'));
  std::string half = losses("drop:0.5", 7);
  long lost = std::count(half.begin(), half.end(), 'x');
  EXPECT_GT(lost, 420);
  EXPECT_LT(lost, 580);
  EXPECT_EQ(half, losses("drop:0.5", 7));
  EXPECT_NE(half, losses("drop:0.5", 8));
}

TEST(FaultInjectorTest, DelaysAddUpAndAVanishFiresOnce) {
  FaultInjector faults(Parse("late:100,late:250,vanish:4@TS"), 1);
  EXPECT_EQ(faults.Shape("W", "ACK\r\n")->delayMs, 350);
  EXPECT_FALSE(faults.VanishOn("W"));
  EXPECT_EQ(faults.VanishOn("TS"), 4.0);
  EXPECT_FALSE(faults.VanishOn("TS"));
}

// What a sampler sees of the ZOL under each fault.
struct ZolFaultCase {
  const char* faults;
  const char* command;
  int64_t waitMs;
  const char* expected;  // bytes within waitMs of the command
};

void PrintTo(const ZolFaultCase& c, std::ostream* out) {
  *out << c.faults << " / " << c.command;
}

class ZolFaultTest : public ::testing::TestWithParam<ZolFaultCase> {};

TEST_P(ZolFaultTest, ChangesTheReplyAsDocumented) {
  const ZolFaultCase& c = GetParam();
  ZolSettings settings;
  settings.clockSeconds = 1733660000;
  ZolModel zol(settings, FaultInjector(Parse(c.faults), 2), ModelDriver::kStartMs);
  ModelDriver line(zol);
  if (std::string_view(c.command) != "W") line.Send("W");
  EXPECT_EQ(line.Send(c.command, c.waitMs), c.expected) << c.faults << " / " << c.command;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ZolFaultTest,
    ::testing::Values(
        ZolFaultCase{"silent", "W", 5000, ""},
        ZolFaultCase{"silent@SL", "TS", 100, "ACK,TS,CMD\r\n"},
        ZolFaultCase{"late:2500", "W", 2400, ""}, ZolFaultCase{"late:2500", "W", 2600, "ACK\r\n"},
        ZolFaultCase{"late:1500@RTC", "RTC,?", 1600, "RTC,?,1733660000\r\n"},
        ZolFaultCase{"nak", "W", 100, "ACK\r\n"}, ZolFaultCase{"nak", "C", 100, "NAK\r\n"},
        ZolFaultCase{"nak", "MODE,1", 100, "NAK,MODE\r\n"},
        ZolFaultCase{"nak", "CTD,1,2.0000,3.0000,4.00", 100, "NAK,CTD\r\n"},
        ZolFaultCase{"nak", "TS", 100, "NAK,TS\r\n"}, ZolFaultCase{"nak", "SL", 100, "NAK,SL\r\n"},
        ZolFaultCase{"nak", "SLP", 100, "NAK,SLP\r\n"},
        ZolFaultCase{"nak", "RTC,?", 100, "NAK,RTC\r\n"},
        ZolFaultCase{"nak@W", "W", 100, "NAK\r\n"}, ZolFaultCase{"drop:1@SLP", "SLP", 100, ""},
        ZolFaultCase{"vanish:3@SLP", "SLP", 5000, ""}));

TEST(ZolFaultEffectTest, NulGarbageAndOverlongRepliesStillArrive) {
  ZolModel nul(ZolSettings{}, FaultInjector(Parse("nul"), 2), 0);
  ModelDriver nulLine(nul, 0);
  EXPECT_EQ(nulLine.Send("W"), std::string("\0\0\0\r\n", 5));
  EXPECT_EQ(nul.State(), ZolState::kAwake) << "the ZOL woke, only its reply is spoiled";

  ZolModel garbage(ZolSettings{}, FaultInjector(Parse("garbage@SLP"), 2), 0);
  ModelDriver garbageLine(garbage, 0);
  EXPECT_EQ(garbageLine.Send("W"), "ACK\r\n");
  std::string garbled = garbageLine.Send("SLP");
  EXPECT_EQ(garbled.size(), 9u);
  EXPECT_EQ(garbled.find("ACK,SLP"), std::string::npos);

  ZolModel overlong(ZolSettings{}, FaultInjector(Parse("overlong"), 2), 0);
  ModelDriver overlongLine(overlong, 0);
  std::string ack = overlongLine.Send("W");
  EXPECT_EQ(ack.size(), 1502u);
  EXPECT_TRUE(ack.starts_with("ACKXXX"));
}

TEST(ZolFaultEffectTest, AVanishedZolHearsNothingUntilItPowersUpAgain) {
  ZolModel zol(ZolSettings{}, FaultInjector(Parse("vanish:2@TS"), 2), 0);
  ModelDriver line(zol, 0);
  ASSERT_EQ(line.Send("W"), "ACK\r\n");
  EXPECT_EQ(line.Send("TS", 20000), "");
  EXPECT_EQ(zol.TakeVanish(), 2.0);
  EXPECT_FALSE(zol.TakeVanish()) << "reported once";
  EXPECT_EQ(line.Send("W"), "");
  zol.PowerUp(line.Now());
  EXPECT_EQ(zol.State(), ZolState::kAsleep);
  EXPECT_EQ(line.Send("W"), "ACK\r\n");
  EXPECT_EQ(line.Send("TS"), "ACK,TS,CMD\r\n") << "the vanish happens once";
}

TEST(CtdFaultEffectTest, RefusalsSilenceAndGarbage) {
  struct Case {
    const char* faults;
    const char* command;
    const char* expected;
  };
  const Case cases[] = {
      {"nak", "\r", "\r\nS>"}, {"nak", "pts\r", "?CMD\r\nS>"}, {"nak@poke", "\r", "\r\n?CMD\r\n"},
      {"silent", "\r", ""},    {"silent@pts", "\r", "\r\nS>"}, {"late:3000", "\r", ""},
  };
  for (const Case& c : cases) {
    CtdModel ctd(CtdSettings{}, FaultInjector(Parse(c.faults, CtdFaultCommands()), 2), 0);
    ModelDriver line(ctd, 0);
    EXPECT_EQ(line.Send(c.command), c.expected) << c.faults << " / " << c.command;
  }
  CtdModel ctd(CtdSettings{}, FaultInjector(Parse("garbage", CtdFaultCommands()), 2), 0);
  ModelDriver line(ctd, 0);
  std::string garbled = line.Send("\r");
  EXPECT_EQ(garbled.size(), 4u);
  EXPECT_EQ(garbled.find('>'), std::string::npos);
}

}  // namespace
}  // namespace zol::sim::test
