// Whole runs of the sampler against the simulated instruments: start-up,
// scheduled and forced cycles, the files they leave, and the end.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "simrun/sim_run.h"

namespace zol::test {
namespace {

// The CTD values of the cycle's "ParseCtdDat OK" line: pressure,
// temperature, salinity as shown.
std::vector<std::string> ShownCtdValues(const std::string& console, int n) {
  char head[40];
  std::snprintf(head, sizeof head, "%03d, ParseCtdDat OK, ", n);
  const size_t at = console.find(head);
  if (at == std::string::npos) return {};
  const size_t start = at + std::strlen(head);
  std::vector<std::string> fields =
      RecordFields(console.substr(start, console.find('\n', start) - start));
  fields.resize(3);
  return fields;
}

// The record carries the values the ZOL was handed: depth, temperature and
// salinity are its fields 4 to 6.
void ExpectRecordHolds(const std::string& record, const std::string& pressure,
                       const std::string& temperature, const std::string& salinity) {
  const std::vector<std::string> fields = RecordFields(record);
  ASSERT_GT(fields.size(), 6u) << record;
  EXPECT_TRUE(RecordIntact(record)) << record;
  EXPECT_EQ(fields[1], "ZOL0042");
  EXPECT_NEAR(std::stod(fields[4]), std::stod(pressure), 0.0051) << record;
  EXPECT_EQ(fields[5], temperature) << record;
  EXPECT_EQ(fields[6], salinity) << record;
}

class SimRunSamplingTest : public SimRunTest {};

TEST_F(SimRunSamplingTest, CtdAndPumpSampleInScheduledAndForcedCycles) {
  const RunSetup setup{{}, true, true, 1};
  ASSERT_TRUE(RunCycles(setup));
  StopSampling();

  const std::string console = app->Console();
  for (const char* heading :
       {"\n\n***ZOL Sampler Parameters***\n", "\n\n***Initializing Communications***\n",
        "\n***Getting ZOL and PC GMT Time***\n", "\n***Checking for Previous Log Files***\n",
        "\n***Getting KIRN Configuration Info***\n",
        "\n*** Starting Sample Thread ( Type CTRL+H for help )***\n",
        "\n\nGot CTRL+F - Force Sample\n002, Waking ZOL 0042, "}) {
    EXPECT_NE(console.find(heading), std::string::npos) << heading;
  }
  for (int n : {1, 2})
    EXPECT_EQ(CycleSteps(console, n), ConsoleCycle(n, GoodSteps(setup))) << n;
  // The forced cycle keeps the schedule.
  EXPECT_EQ(StampOn(console, "002, Next Sample"), StampOn(console, "001, Next Sample"));
  EXPECT_EQ(MaskSteps(Read(".log")), LogCycle(1, GoodSteps(setup)) + LogCycle(2, GoodSteps(setup)));

  // First sample of each cycle in the data file, the pump sample in the
  // second one, each as the ZOL made it and with the CTD's values.
  std::vector<std::string> first;
  std::vector<std::string> second;
  for (int n : {1, 2}) {
    const std::vector<std::string> records = CycleRecords(console, n);
    ASSERT_EQ(records.size(), 2u) << n;
    const std::vector<std::string> values = ShownCtdValues(console, n);
    for (const std::string& record : records)
      ExpectRecordHolds(record, values[0], values[1], values[2]);
    first.push_back(records[0]);
    second.push_back(records[1]);
  }
  const std::string data = Read(".dat");
  EXPECT_EQ(data, Header() + ConfigBlock(data) + JoinLines(first));
  EXPECT_EQ(Read("_2.dat"), JoinLines(second));
}

TEST_F(SimRunSamplingTest, PadoWithoutCtdUsesTheOperatorsValues) {
  const RunSetup setup{{}, false, false, 2};
  ASSERT_TRUE(RunCycles(setup));
  StopSampling();

  const std::string console = app->Console();
  EXPECT_NE(console.find("\n***Getting PADO Configuration Info***\n"), std::string::npos);
  EXPECT_EQ(console.find("pump ON?"), std::string::npos);
  std::vector<std::string> records;
  for (int n : {1, 2}) {
    EXPECT_EQ(CycleSteps(console, n), ConsoleCycle(n, GoodSteps(setup))) << n;
    const std::vector<std::string> shown = CycleRecords(console, n);
    ASSERT_EQ(shown.size(), 1u) << n;
    ExpectRecordHolds(shown[0], "-5.00", "20.0000", "35.0000");
    records.push_back(shown[0]);
  }
  EXPECT_EQ(StampOn(console, "002, Next Sample"), StampOn(console, "001, Next Sample"));
  EXPECT_EQ(MaskSteps(Read(".log")), LogCycle(1, GoodSteps(setup)) + LogCycle(2, GoodSteps(setup)));
  const std::string data = Read(".dat");
  EXPECT_EQ(data, Header() + ConfigBlock(data) + JoinLines(records));
  EXPECT_FALSE(Exists("_2.dat"));
}

// The ZOL goes away when asked for its configuration and comes back 25 s
// later: start-up goes on without the configuration, the first cycle cannot
// wake it, and the next scheduled cycle, one minute after the first began,
// samples again with nobody at the keyboard.
TEST_F(SimRunSamplingTest, ScheduledCycleFindsTheZolBackOnTime) {
  const RunSetup setup{{"--zol-fault=vanish:25@C"}, false, false, 1};
  ASSERT_TRUE(StartSampling(setup));
  ASSERT_TRUE(CycleEnded(1, 60000));
  // zolsim announces the device again when it is back.
  EXPECT_EQ(sim->ReadLine(40000), "ZOLSAMPLER_COM1=" + ZolLink());
  ASSERT_TRUE(CycleEnded(2, 90000));
  StopSampling();

  const std::string console = app->Console();
  EXPECT_NE(console.find("\nERROR Getting KIRN Config Data, ret = -2\n"), std::string::npos);
  const std::vector<std::string> failed = {"Waking ZOL 0042, <T>", "ZOL Wakeup ERROR, <T>",
                                           "Next Sample, <T>"};
  EXPECT_EQ(CycleSteps(console, 1), ConsoleCycle(1, failed));
  EXPECT_EQ(CycleSteps(console, 2), ConsoleCycle(2, GoodSteps(setup)));
  EXPECT_EQ(console.find("Got CTRL+F"), std::string::npos);
  EXPECT_LE(std::abs(SecondsOf(StampOn(console, "002, Waking ZOL")) -
                     SecondsOf(StampOn(console, "001, Next Sample"))),
            1);
  EXPECT_EQ(SecondsOf(StampOn(console, "002, Next Sample")) -
                SecondsOf(StampOn(console, "001, Next Sample")),
            60);
  EXPECT_EQ(MaskSteps(Read(".log")), LogCycle(1, failed) + LogCycle(2, GoodSteps(setup)));
  const std::vector<std::string> records = CycleRecords(console, 2);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(RecordIntact(records[0])) << records[0];
  EXPECT_EQ(Read(".dat"), Header() + JoinLines(records));
}

TEST_F(SimRunSamplingTest, ZolThatNeverAnswersEndsStartUp) {
  const RunSetup setup{{"--zol-fault=silent"}, false, false, 1};
  ASSERT_TRUE(Launch(setup));
  ASSERT_TRUE(AnswerParameters());
  ASSERT_TRUE(app->Expect("\n***Getting KIRN Configuration Info***\n", 60000));
  ASSERT_TRUE(app->Expect("ERROR Waking ZOL, ret = -2, exiting!\n", 60000));
  ExpectEndedWith(1);
  const std::string console = app->Console();
  EXPECT_NE(console.find("ZOL Date/Time = (no reply, ret = -2)\n"), std::string::npos);
  EXPECT_EQ(console.find('\a'), std::string::npos);
  EXPECT_EQ(console.find("Starting Sample Thread"), std::string::npos);
  EXPECT_FALSE(Exists(".dat"));
  EXPECT_FALSE(Exists(".log"));
}

}  // namespace
}  // namespace zol::test
