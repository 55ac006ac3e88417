// The instruments of the bench must split the sampler's unterminated
// commands exactly as the sampler sends them, or every figure is wrong.
#include "command_framer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace bench {
namespace {

using Z = ZolCommand;

struct ZolCase {
  const char* name;
  std::string wire;
  std::vector<ZolCommand> commands;
  std::vector<size_t> starts;  // positions of the commands' first bytes
};

class ZolFramingTest : public ::testing::TestWithParam<ZolCase> {};

TEST_P(ZolFramingTest, SplitsTheWire) {
  const ZolCase& c = GetParam();
  ZolCommandFramer framer;
  std::vector<ZolCommand> commands;
  std::vector<size_t> starts;
  for (size_t i = 0; i < c.wire.size(); ++i) {
    const FramedByte framed = framer.Feed(static_cast<unsigned char>(c.wire[i]));
    if (framed.startsCommand) starts.push_back(i);
    if (framed.completed != Z::kNone) commands.push_back(framed.completed);
  }
  EXPECT_EQ(commands, c.commands);
  EXPECT_EQ(starts, c.starts);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ZolFramingTest,
    ::testing::Values(
        ZolCase{"Wake", "W", {Z::kWake}, {0}},
        ZolCase{"WakeThenMode", "WMODE,1", {Z::kWake, Z::kMode}, {0, 1}},
        ZolCase{"ModeAcknowledged", "MODE,2ACK\r\n", {Z::kMode, Z::kAck}, {0, 6}},
        ZolCase{"RecordAfterWake", "WSL", {Z::kWake, Z::kGetSample}, {0, 1}},
        ZolCase{"SleepIsNotARecord", "SLPSLP", {Z::kSleep, Z::kSleep}, {0, 3}},
        ZolCase{"SleepAfterRecord", "WSLSLP", {Z::kWake, Z::kGetSample, Z::kSleep}, {0, 1, 3}},
        ZolCase{"Measure", "WTS", {Z::kWake, Z::kTakeSample}, {0, 1}},
        ZolCase{"WaterValues",
                "WCTD,1000,12.3400,35.5000,-5.00NAK\r\n",
                {Z::kWake, Z::kCtd, Z::kNak},
                {0, 1, 31}},
        ZolCase{"WaterValuesUnfinished", "CTD,1000,12.3400,35.5000,-5.0", {}, {0}},
        ZolCase{"CtrlC", "\x03W", {Z::kCtrlC, Z::kWake}, {0, 1}},
        ZolCase{"LineEndsBetweenCommands", "\r\nW\n", {Z::kWake}, {2}},
        ZolCase{"NoiseIsDropped", "XYW", {Z::kWake}, {0, 1, 2}}),
    [](const ::testing::TestParamInfo<ZolCase>& param) { return param.param.name; });

TEST(ZolFramingTest, KeepsTheTextOfTheLastCommand) {
  ZolCommandFramer framer;
  for (char c : std::string("CTD,1705322096,15.1234,33.5678,12.35")) {
    framer.Feed(static_cast<unsigned char>(c));
  }
  EXPECT_EQ(framer.Text(), "CTD,1705322096,15.1234,33.5678,12.35");
}

struct CtdCase {
  const char* name;
  std::string wire;
  std::vector<CtdCommand> commands;
  std::vector<size_t> lengths;
};

class CtdFramingTest : public ::testing::TestWithParam<CtdCase> {};

TEST_P(CtdFramingTest, SplitsAtCarriageReturns) {
  const CtdCase& c = GetParam();
  CtdCommandFramer framer;
  std::vector<CtdCommand> commands;
  std::vector<size_t> lengths;
  int starts = 0;
  for (char byte : c.wire) {
    const FramedCtdByte framed = framer.Feed(static_cast<unsigned char>(byte));
    starts += framed.startsCommand ? 1 : 0;
    if (framed.completed == CtdCommand::kNone) continue;
    commands.push_back(framed.completed);
    lengths.push_back(framer.Length());
  }
  EXPECT_EQ(commands, c.commands);
  EXPECT_EQ(lengths, c.lengths);
  EXPECT_EQ(starts, static_cast<int>(c.commands.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CtdFramingTest,
    ::testing::Values(CtdCase{"Poke", "\r", {CtdCommand::kPoke}, {1}},
                      CtdCase{
                          "Measure", "\rpts\r", {CtdCommand::kPoke, CtdCommand::kMeasure}, {1, 4}},
                      CtdCase{"Pump",
                              "pumpon\rpumpoff\rQS\r",
                              {CtdCommand::kPumpOn, CtdCommand::kPumpOff, CtdCommand::kRelease},
                              {7, 8, 3}},
                      CtdCase{"Other", "xyz\r", {CtdCommand::kOther}, {4}}),
    [](const ::testing::TestParamInfo<CtdCase>& param) { return param.param.name; });

}  // namespace
}  // namespace bench
