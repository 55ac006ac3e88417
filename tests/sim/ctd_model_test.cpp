// The simulated CTD as the sampler meets it: the prompt, the reading line
// and its optional echo, the pump and sleep.
#include "sim/ctd_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "sim/model_driver.h"

namespace zol::sim::test {
namespace {

struct Reading {
  float pressure = 0;
  float temperature = 0;
  float salinity = 0;
};

// The sampler's reading of a CTD reply: a line holding "pts" is the echo and
// the next line is the reply, parsed with "%f, %f, %f".
bool ParseReply(const std::string& reply, Reading& reading) {
  std::string line = FirstLine(reply);
  if (line.find("pts") != std::string::npos) {
    line = FirstLine(reply.substr(reply.find(line) + line.size()));
  }
  return std::sscanf(line.c_str(), "%f, %f, %f", &reading.pressure, &reading.temperature,
                     &reading.salinity) == 3;
}

class CtdModelTest : public ::testing::Test {
 protected:
  CtdModel ctd_{CtdSettings{}, FaultInjector(), ModelDriver::kStartMs};
  ModelDriver line_{ctd_};
};

TEST_F(CtdModelTest, APokeBringsThePrompt) {
  EXPECT_EQ(ctd_.State(), CtdState::kAsleep);
  EXPECT_EQ(line_.Send("\r"), "\r\nS>");
  EXPECT_EQ(ctd_.State(), CtdState::kAwake);
  EXPECT_EQ(line_.Send("\n"), "") << "a line feed alone is nothing";
  EXPECT_EQ(line_.Send("hello\r"), "?CMD\r\nS>");
}

TEST_F(CtdModelTest, PtsGivesPressureTemperatureAndSalinity) {
  line_.Send("\r");
  std::string reply = line_.Send("pts\r");
  EXPECT_EQ(reply.size(), 30u) << reply;  // "  12.345, 15.1234, 33.5678\r\nS>"
  Reading reading;
  ASSERT_TRUE(ParseReply(reply, reading)) << reply;
  EXPECT_NEAR(reading.pressure, 12.3, 1.0);
  EXPECT_NEAR(reading.temperature, 15.1, 1.0);
  EXPECT_NEAR(reading.salinity, 33.55, 0.5);
  EXPECT_EQ(line_.Send("PTS\r").size(), 30u) << "commands are not case-sensitive";
}

TEST_F(CtdModelTest, ReadingsEvolveSlowly) {
  Reading first;
  Reading soon;
  Reading later;
  ASSERT_TRUE(ParseReply(line_.Send("pts\r", 10000), first));
  ASSERT_TRUE(ParseReply(line_.Send("pts\r", 300000), soon));
  ASSERT_TRUE(ParseReply(line_.Send("pts\r"), later));
  EXPECT_LT(std::fabs(soon.temperature - first.temperature), 0.05);
  EXPECT_LT(std::fabs(soon.pressure - first.pressure), 0.1);
  EXPECT_GT(std::fabs(later.pressure - soon.pressure), 0.01) << "five minutes move the probe";
}

TEST_F(CtdModelTest, PumpAndSleep) {
  EXPECT_EQ(line_.Send("\rpumpon\r"), "\r\nS>\r\nS>");
  EXPECT_TRUE(ctd_.PumpOn());
  EXPECT_EQ(line_.Send("pumpoff\r"), "\r\nS>");
  EXPECT_FALSE(ctd_.PumpOn());
  line_.Send("pumpon\r");
  EXPECT_EQ(line_.Send("QS\r"), "");
  EXPECT_EQ(ctd_.State(), CtdState::kAsleep);
  EXPECT_FALSE(ctd_.PumpOn()) << "asleep, the pump stops";
}

TEST(CtdEchoTest, TheEchoLineComesFirst) {
  CtdModel ctd(CtdSettings{true, 1}, FaultInjector(), 0);
  ModelDriver line(ctd, 0);
  EXPECT_EQ(line.Send("\r"), "\r\nS>");
  std::string reply = line.Send("pts\r");
  EXPECT_EQ(FirstLine(reply), "pts");
  Reading reading;
  EXPECT_TRUE(ParseReply(reply, reading)) << reply;
  EXPECT_EQ(line.Send("pumpon\r"), "pumpon\r\n\r\nS>");
}

TEST(CtdSeedTest, TheSameSeedGivesTheSameReadings) {
  auto run = [](uint64_t seed) {
    CtdModel ctd(CtdSettings{false, seed}, FaultInjector(), 0);
    ModelDriver line(ctd, 0);
    std::string out;
    for (int i = 0; i < 5; ++i)
      out += line.Send("\rpts\r", 60000);
    return out;
  };
  EXPECT_EQ(run(4), run(4));
  EXPECT_NE(run(4), run(5));
}

TEST(CtdVanishTest, GoesAwayOnItsCommandAndComesBackAsleep) {
  std::vector<Fault> faults;
  std::string error;
  ASSERT_TRUE(ParseFaults("vanish:1@pumpon", CtdFaultCommands(), faults, error));
  CtdModel ctd(CtdSettings{}, FaultInjector(faults, 1), 0);
  ModelDriver line(ctd, 0);
  EXPECT_EQ(line.Send("\rpumpon\r"), "") << "the prompt due with the vanish is lost too";
  EXPECT_EQ(ctd.TakeVanish(), 1.0);
  ctd.PowerUp(line.Now());
  EXPECT_EQ(ctd.State(), CtdState::kAsleep);
  EXPECT_FALSE(ctd.PumpOn());
  EXPECT_EQ(line.Send("\rpumpon\r"), "\r\nS>\r\nS>");
}

}  // namespace
}  // namespace zol::sim::test
