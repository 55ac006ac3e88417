// The simulated ZOL as the sampler meets it: command recognition by the
// inter-character gap, the replies' exact bytes, its states, its records.
#include "sim/zol_model.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sim/model_driver.h"

namespace zol::sim::test {
namespace {

constexpr int64_t kClockAtStart = 1733660000;
constexpr int64_t kMeasureMs = 2000;

ZolSettings Settings(SensorKind kind = SensorKind::kKirn, uint64_t seed = 5) {
  ZolSettings settings;
  settings.identity.kind = kind;
  settings.identity.measureMs = kMeasureMs;
  settings.gapMs = 30;
  settings.clockSeconds = kClockAtStart;
  settings.seed = seed;
  return settings;
}

std::vector<Fault> Faults(std::string_view text) {
  std::vector<Fault> faults;
  std::string error;
  if (text.empty()) return faults;
  EXPECT_TRUE(ParseFaults(text, ZolFaultCommands(), faults, error)) << error;
  return faults;
}

class ZolModelTest : public ::testing::Test {
 protected:
  explicit ZolModelTest(ZolSettings settings = Settings(), std::string_view faults = "")
      : zol_(settings, FaultInjector(Faults(faults), 9), ModelDriver::kStartMs), line_(zol_) {}

  // Wakes the ZOL, takes a measurement and returns the record.
  std::string Sample() {
    EXPECT_EQ(line_.Send("W"), "ACK\r\n");
    EXPECT_EQ(line_.Send("TS", kMeasureMs + 100), "ACK,TS,CMD\r\nACK,TS,DAT\r\n");
    std::string reply = line_.Send("SL");
    EXPECT_TRUE(reply.ends_with("\r\n")) << reply;
    return reply.substr(0, reply.size() - 2);
  }

  ZolModel zol_;
  ModelDriver line_;
};

TEST_F(ZolModelTest, AsleepItHearsOnlyTheW) {
  EXPECT_EQ(zol_.State(), ZolState::kAsleep);
  EXPECT_EQ(line_.Send("SL"), "");
  EXPECT_EQ(line_.Send("\r", 500), "");
  EXPECT_EQ(line_.Send("RTC,?"), "");
  EXPECT_EQ(zol_.State(), ZolState::kAsleep);
  EXPECT_EQ(line_.Send("W"), "ACK\r\n");
  EXPECT_EQ(zol_.State(), ZolState::kAwake);
}

struct Exchange {
  const char* command;
  const char* reply;
};

TEST_F(ZolModelTest, AnswersEveryCommandOfTheTable) {
  const Exchange exchanges[] = {
      {"W", "ACK\r\n"},
      {"MODE,1", "ACK,MODE,1\r\n"},
      {"MODE,2", "ACK,MODE,2\r\n"},
      {"MODE,3", "NAK,MODE\r\n"},
      {"CTD,1000,12.3400,35.5000,-5.00", "CTD,1000,12.3400,35.5000,-5.00\r\n"},
      {"CTD,1000,12.34,35.5", "NAK,CTD\r\n"},
      {"CTD,1000,x,35.5000,-5.00", "NAK,CTD\r\n"},
      {"SL", "NAK,SL\r\n"},  // nothing measured yet
      {"RTC,?", "RTC,?,1733660000\r\n"},
      {"RTC,1700000000", "ACK,RTC,SET,1700000000\r\n"},
      {"RTC,-5", "NAK,RTC\r\n"},
      {"RTC,99999999999", "NAK,RTC\r\n"},
      {"HELLO", "NAK,CMD\r\n"},
      {"TS", "ACK,TS,CMD\r\n"},
  };
  ASSERT_EQ(line_.Send("W"), "ACK\r\n");
  for (const Exchange& exchange : exchanges) {
    EXPECT_EQ(line_.Send(exchange.command), exchange.reply) << exchange.command;
  }
  EXPECT_EQ(line_.Send("SLP"), "ACK,SLP\r\n");
  EXPECT_EQ(zol_.State(), ZolState::kAsleep);
}

TEST_F(ZolModelTest, ACommandEndsOnlyAfterTheGap) {
  Sample();
  // S, L, P each inside the gap form one command.
  EXPECT_EQ(line_.Send("S", 20), "");
  EXPECT_EQ(line_.Send("L", 20), "");
  EXPECT_EQ(line_.Send("P", 20), "");
  EXPECT_EQ(line_.Wait(20), "ACK,SLP\r\n");
  EXPECT_EQ(zol_.State(), ZolState::kAsleep);
}

TEST_F(ZolModelTest, SlAndSlpAreToldApartByTheSilenceAfterThem) {
  std::string record = Sample();
  EXPECT_EQ(line_.Send("SL"), record + "\r\n");
  EXPECT_EQ(zol_.State(), ZolState::kAwake);
  // "SL", a gap, then "P": the record, then an unknown command.
  EXPECT_EQ(line_.Send("SL", 40), record + "\r\n");
  EXPECT_EQ(line_.Send("P"), "NAK,CMD\r\n");
  EXPECT_EQ(line_.Send("SLP"), "ACK,SLP\r\n");
}

TEST_F(ZolModelTest, TheMeasurementTakesItsTime) {
  ASSERT_EQ(line_.Send("W"), "ACK\r\n");
  EXPECT_EQ(line_.Send("TS", 100), "ACK,TS,CMD\r\n");
  EXPECT_EQ(zol_.State(), ZolState::kSampling);
  EXPECT_EQ(line_.Send("TS"), "NAK,TS\r\n");
  EXPECT_EQ(line_.Send("SL"), "NAK,SL\r\n");
  EXPECT_EQ(line_.Send("W"), "ACK\r\n");
  EXPECT_EQ(line_.Wait(kMeasureMs - 450), "");
  EXPECT_EQ(line_.Wait(100), "ACK,TS,DAT\r\n");
  EXPECT_EQ(zol_.State(), ZolState::kAwake);
  EXPECT_EQ(zol_.SamplesTaken(), 1);
}

TEST_F(ZolModelTest, SleepAbortsAMeasurement) {
  ASSERT_EQ(line_.Send("W"), "ACK\r\n");
  ASSERT_EQ(line_.Send("TS"), "ACK,TS,CMD\r\n");
  EXPECT_EQ(line_.Send("SLP", kMeasureMs), "ACK,SLP\r\n");
  EXPECT_EQ(zol_.SamplesTaken(), 0);
}

TEST_F(ZolModelTest, ValuesCountOnceTheSamplerAcknowledgesTheEcho) {
  ASSERT_EQ(line_.Send("W"), "ACK\r\n");
  ASSERT_EQ(line_.Send("CTD,1000,12.3400,35.5000,-5.00"), "CTD,1000,12.3400,35.5000,-5.00\r\n");
  EXPECT_EQ(line_.Send("ACK\r\n"), "");
  EXPECT_EQ(zol_.State(), ZolState::kAwake) << "the CR LF of ACK must not open the menu";
  EXPECT_FLOAT_EQ(zol_.Water().temperature, 12.34f);
  EXPECT_FLOAT_EQ(zol_.Water().salinity, 35.5f);
  EXPECT_FLOAT_EQ(zol_.Water().pressure, -5.0f);

  ASSERT_EQ(line_.Send("CTD,1060,15.1234,33.5678,12.35"), "CTD,1060,15.1234,33.5678,12.35\r\n");
  EXPECT_EQ(line_.Send("NAK\r\n"), "");
  EXPECT_FLOAT_EQ(zol_.Water().temperature, 12.34f) << "refused values are dropped";

  ASSERT_EQ(line_.Send("CTD,1120,16.0000,30.0000,1.00"), "CTD,1120,16.0000,30.0000,1.00\r\n");
  std::vector<std::string> fields = Fields(Sample());  // no ACK came: the values lapse
  EXPECT_EQ(fields[4], "-5.00");
  EXPECT_EQ(fields[5], "12.3400");
  EXPECT_EQ(fields[6], "35.5000");
}

// The sampler reads the clock as the number after the first ',' that
// follows the first '?', and a set clock as the number after the third ','.
long NumberAfterQuestionMark(const std::string& line) {
  size_t question = line.find('?');
  size_t comma = line.find(',', question);
  return question == std::string::npos || comma == std::string::npos
             ? 0
             : std::strtol(line.c_str() + comma + 1, nullptr, 10);
}

long NumberAfterThirdComma(const std::string& line) {
  size_t at = std::string::npos;
  for (int i = 0, from = 0; i < 3; ++i, from = static_cast<int>(at) + 1) {
    at = line.find(',', from);
    if (at == std::string::npos) return 0;
  }
  return std::strtol(line.c_str() + at + 1, nullptr, 10);
}

TEST_F(ZolModelTest, ClockRepliesCarryTheirNumbersWhereTheSamplerLooks) {
  ASSERT_EQ(line_.Send("W"), "ACK\r\n");
  EXPECT_EQ(NumberAfterQuestionMark(FirstLine(line_.Send("RTC,?"))), kClockAtStart);
  line_.Wait(5000);
  EXPECT_EQ(NumberAfterQuestionMark(FirstLine(line_.Send("RTC,?"))), kClockAtStart + 5);

  EXPECT_EQ(NumberAfterThirdComma(FirstLine(line_.Send("RTC,1800000000"))), 1800000000);
  EXPECT_EQ(line_.Send("ACK\n"), "") << "the four-byte acknowledgment is taken silently";
  EXPECT_EQ(zol_.State(), ZolState::kAwake);
  line_.Wait(2000);
  EXPECT_EQ(zol_.ClockSeconds(line_.Now()), 1800000002);
  EXPECT_EQ(NumberAfterQuestionMark(FirstLine(line_.Send("RTC,?"))), 1800000002);
}

TEST_F(ZolModelTest, TheConfigurationDumpIsADozenShortLines) {
  ASSERT_EQ(line_.Send("W"), "ACK\r\n");
  std::string dump = line_.Send("C");
  ASSERT_TRUE(dump.ends_with("\r\n"));
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = dump.find("\r\n", start)) != std::string::npos;
       start = end + 2) {
    lines.push_back(dump.substr(start, end - start));
  }
  EXPECT_GE(lines.size(), 12u);
  for (const std::string& line : lines) {
    EXPECT_FALSE(line.empty());
    EXPECT_LE(line.size(), 127u) << line;  // the sampler reads 127 characters a line
    EXPECT_EQ(line.find("NAK"), std::string::npos) << line;
  }
}

// The column lines of the data files, as the sampler writes them.
constexpr const char* kKirnColumnLine =
    "CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
    "COUNTER, KIRN_ERROR COUNTER, SYS_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, "
    "INPUT VOLTAGE, INPUT CURRENT, MAX LAMP INTEN, MIN LAMP INTEN, DC MEAN, DC STDDEV, KIRN "
    "SALINITY, KIRN NITRATE, FIT ERROR, DAT PIXEL BEG, DAT PIXEL END, PACKED HEX DATA, SW DC";
constexpr const char* kPadoColumnLine =
    "CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
    "COUNTER, PADO_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, INPUT VOLTAGE, INPUT "
    "CURRENT, FOOBAR PH VALUE, BACKUP BATTERY, VRS VOLTS, VRS STDDEV, VK VOLTS, VK STDDEV, IK "
    "AMPS, IB AMPS";

struct LayoutCase {
  SensorKind kind;
  const char* columnLine;
};

class ZolRecordLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ZolRecordLayoutTest, RecordsHaveTheFieldsOfTheColumnLine) {
  std::vector<std::string> columns = Fields(GetParam().columnLine);
  const std::vector<std::string_view>& known = RecordColumns(GetParam().kind);
  EXPECT_EQ(std::vector<std::string>(known.begin(), known.end()), columns);

  ZolModel zol(Settings(GetParam().kind), FaultInjector(), ModelDriver::kStartMs);
  ModelDriver line(zol);
  ASSERT_EQ(line.Send("W"), "ACK\r\n");
  ASSERT_EQ(line.Send("CTD,1000,15.1234,33.5678,12.35"), "CTD,1000,15.1234,33.5678,12.35\r\n");
  ASSERT_EQ(line.Send("ACK\r\n"), "");
  for (int sample = 1; sample <= 3; ++sample) {
    ASSERT_EQ(line.Send("TS", kMeasureMs + 100), "ACK,TS,CMD\r\nACK,TS,DAT\r\n");
    std::string reply = line.Send("SL");
    EXPECT_LE(reply.size(), 1023u) << "the sampler keeps 1023 characters of a record";
    std::string record = FirstLine(reply);
    std::vector<std::string> fields = Fields(record);
    ASSERT_EQ(fields.size(), columns.size()) << record;
    EXPECT_EQ(std::count(record.begin(), record.end(), ','), columns.size() - 1) << record;
    int64_t clock = zol.ClockSeconds(line.Now());
    EXPECT_EQ(fields[2], UtcDateTime(std::stoll(fields[3])));
    EXPECT_LE(clock - std::stoll(fields[3]), 1);
    EXPECT_EQ(fields[4], "12.35");
    EXPECT_EQ(fields[5], "15.1234");
    EXPECT_EQ(fields[6], "33.5678");
    EXPECT_EQ(fields[7], std::to_string(sample));
  }
}

// Named by kind: the default name would print the case's bytes, pointers
// included, which differ from run to run.
INSTANTIATE_TEST_SUITE_P(Kinds, ZolRecordLayoutTest,
                         ::testing::Values(LayoutCase{SensorKind::kKirn, kKirnColumnLine},
                                           LayoutCase{SensorKind::kPado, kPadoColumnLine}),
                         [](const ::testing::TestParamInfo<LayoutCase>& param) {
                           return param.index == 0 ? "Kirn" : "Pado";
                         });

TEST_F(ZolModelTest, ReadingsDriftSlowly) {
  // KIRN NITRATE over half an hour of samples a minute apart.
  std::vector<double> nitrate;
  for (int i = 0; i < 30; ++i) {
    nitrate.push_back(std::stod(Fields(Sample())[20]));
    line_.Send("SLP");
    line_.Wait(60000);
  }
  for (size_t i = 0; i < nitrate.size(); ++i) {
    EXPECT_GT(nitrate[i], 15.0);
    EXPECT_LT(nitrate[i], 32.0);
    if (i > 0) {
      EXPECT_LT(std::abs(nitrate[i] - nitrate[i - 1]), 1.0);
    }
  }
  EXPECT_NE(*std::min_element(nitrate.begin(), nitrate.end()),
            *std::max_element(nitrate.begin(), nitrate.end()));
}

TEST(ZolModelSeedTest, TheSameSeedPlaysTheSameRun) {
  auto run = [](uint64_t seed) {
    ZolModel zol(Settings(SensorKind::kKirn, seed), FaultInjector(Faults("drop:0.5"), seed), 0);
    ModelDriver line(zol, 0);
    std::string out;
    for (int i = 0; i < 5; ++i) {
      out += line.Send("W") + line.Send("TS", kMeasureMs + 100) + line.Send("SL");
    }
    return out;
  };
  EXPECT_EQ(run(17), run(17));
  EXPECT_NE(run(17), run(18));
}

TEST_F(ZolModelTest, ACarriageReturnAloneOpensTheMenu) {
  ASSERT_EQ(line_.Send("W"), "ACK\r\n");
  std::string menu = line_.Send("\r");
  EXPECT_NE(menu.find("ZOL MENU"), std::string::npos) << menu;
  EXPECT_TRUE(menu.ends_with("ZOL> ")) << menu;
  EXPECT_EQ(zol_.State(), ZolState::kMenu);

  std::string status = line_.Send("status\r");
  EXPECT_NE(status.find("samples taken 0"), std::string::npos) << status;
  EXPECT_NE(line_.Send("clock\r").find("2024/12/08 12:13"), std::string::npos);
  EXPECT_NE(line_.Send("bogus\r").find("Unknown command 'bogus'"), std::string::npos);

  // Whatever the menu answers first shows the prompt, so a sampler's wake-up
  // sees the '>' and sends CTRL+C.
  EXPECT_NE(FirstLine(line_.Send("W", 2000)).find('>'), std::string::npos);
  EXPECT_NE(FirstLine(line_.Send("SLP", 2000)).find('>'), std::string::npos);
  EXPECT_EQ(line_.Send("\x03"), "\r\n");
  EXPECT_EQ(zol_.State(), ZolState::kAwake);
  EXPECT_EQ(line_.Send("W"), "ACK\r\n");
}

TEST_F(ZolModelTest, MenuExitAndStrayCarriageReturns) {
  ASSERT_EQ(line_.Send("W"), "ACK\r\n");
  ASSERT_EQ(line_.Send("MODE,2"), "ACK,MODE,2\r\n");
  EXPECT_EQ(line_.Send("ACK\r\n"), "");
  // A command ended by its gap and followed closely by a CR: no menu.
  EXPECT_EQ(line_.Send("RTC,?", 40), "RTC,?,1733660000\r\n");
  EXPECT_EQ(line_.Send("\r"), "");
  EXPECT_EQ(zol_.State(), ZolState::kAwake);
  line_.Wait(500);
  line_.Send("\r");
  ASSERT_EQ(zol_.State(), ZolState::kMenu);
  EXPECT_NE(line_.Send("exit\r").find("\r\nLeaving menu\r\n"), std::string::npos);
  EXPECT_EQ(zol_.State(), ZolState::kAwake);
}

}  // namespace
}  // namespace zol::sim::test
