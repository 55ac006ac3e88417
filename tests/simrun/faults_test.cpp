// The simulated instruments misbehave in every way zolsim offers; the
// sampler reports each failure with its step line, stores only whole
// records, keeps its schedule and ends cleanly.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "simrun/sim_run.h"

namespace zol::test {
namespace {

struct FaultCase {
  const char* name;
  RunSetup setup;
  // A forced cycle after the scheduled one (skipped where a cycle waits out
  // long time limits).
  bool forced;
  std::vector<std::string> steps;  // console steps of every cycle
  const char* consoleHas;          // a message of the cycle's own, or ""
};

// Test names and failure messages show the case's name, not its bytes.
void PrintTo(const FaultCase& c, std::ostream* out) {
  *out << c.name;
}

class SimRunFaultTest : public SimRunTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SimRunFaultTest, IsReportedAndSamplingGoesOn) {
  const FaultCase& c = GetParam();
  ASSERT_TRUE(RunCycles(c.setup, c.forced, 90000));
  const int cycles = c.forced ? 2 : 1;
  StopSampling();

  const std::string console = app->Console();
  std::string log;
  std::vector<std::string> records;
  for (int n = 1; n <= cycles; ++n) {
    EXPECT_EQ(CycleSteps(console, n), ConsoleCycle(n, c.steps)) << n;
    log += LogCycle(n, c.steps);
    for (const std::string& record : CycleRecords(console, n)) {
      EXPECT_TRUE(RecordIntact(record)) << record;
      records.push_back(record);
    }
  }
  EXPECT_NE(console.find(c.consoleHas), std::string::npos) << c.consoleHas;
  if (c.forced) {
    EXPECT_EQ(StampOn(console, "002, Next Sample"), StampOn(console, "001, Next Sample"));
  }
  EXPECT_EQ(MaskSteps(Read(".log")), log);
  const std::string data = Read(".dat");
  EXPECT_EQ(data, Header() + ConfigBlock(data) + JoinLines(records));
}

const RunSetup kZolOnly{{}, false, false, 1};
const RunSetup kWithCtd{{}, true, false, 1};

RunSetup With(RunSetup setup, const std::string& fault) {
  setup.simOptions.push_back(fault);
  return setup;
}

// Console steps of a cycle without a CTD up to the measurement's result.
std::vector<std::string> ZolOnlyUntil(const std::string& measured) {
  return {"Waking ZOL 0042, <T>", "ZOL Wakeup OK, <T>", "Send UserTempSal OK, <T>",
          "Sampling KIRN, <T>", measured};
}

std::vector<std::string> Then(std::vector<std::string> steps,
                              const std::vector<std::string>& more) {
  steps.insert(steps.end(), more.begin(), more.end());
  return steps;
}

// With a CTD: the steps after the CTD exchange, when the ZOL does its part.
const std::vector<std::string> kMeasured = {"Sampling KIRN, <T>",  "Take Sample OK, <T>",
                                            "Send Sample OK, <T>", "<record>",
                                            "Enter Sleep OK, <T>", "Next Sample, <T>"};
const std::vector<std::string> kCtdWoken = {"Waking ZOL 0042, <T>", "ZOL Wakeup OK, <T>",
                                            "Sampling CTD, <T>"};

const FaultCase kCases[] = {
    {"ZolSilentAtMeasurement", With(kZolOnly, "--zol-fault=silent@TS"), true,
     Then(ZolOnlyUntil("Take Sample ERROR, <T>"), {"Next Sample, <T>"}), ""},
    // The late replies of one cycle still arrive while the next one runs.
    {"ZolLateAtMeasurement", With(kZolOnly, "--zol-fault=late:2500@TS"), true,
     Then(ZolOnlyUntil("Take Sample ERROR, <T>"), {"Next Sample, <T>"}), ""},
    // The measurement is confirmed 26 s after it began, past the 25 s wait.
    {"ZolMeasurementOutlastsTheWait", With(kZolOnly, "--measure-seconds=26"), false,
     Then(ZolOnlyUntil("Take Sample ERROR, <T>"), {"Next Sample, <T>"}), ""},
    {"ZolNulAtMeasurement", With(kZolOnly, "--zol-fault=nul@TS"), true,
     Then(ZolOnlyUntil("Take Sample ERROR, <T>"), {"Next Sample, <T>"}), ""},
    {"ZolRefusesTheRecord", With(kZolOnly, "--zol-fault=nak@SL"), true,
     Then(ZolOnlyUntil("Take Sample OK, <T>"),
          {"Send Sample ERROR, <T>", "Enter Sleep OK, <T>", "Next Sample, <T>"}),
     ""},
    {"ZolGarblesItsEcho",
     With(kZolOnly, "--zol-fault=garbage@CTD"),
     true,
     {"Waking ZOL 0042, <T>", "ZOL Wakeup OK, <T>", "Send UserTempSal ERROR, <T>",
      "Sampling KIRN, <T>", "Take Sample OK, <T>", "Send Sample OK, <T>", "<record>",
      "Enter Sleep OK, <T>", "Next Sample, <T>"},
     ""},
    {"ZolLosesEverySleepAcknowledgment", With(kZolOnly, "--zol-fault=drop:1@SLP"), false,
     Then(ZolOnlyUntil("Take Sample OK, <T>"),
          {"Send Sample OK, <T>", "<record>", "Enter Sleep ERROR, <T>", "Next Sample, <T>"}),
     ""},
    {"ZolRefusesTheCtdValues", With(kWithCtd, "--zol-fault=nak@CTD"), true,
     Then(Then(kCtdWoken,
               {"Get  CtdDat OK, <T>", "ParseCtdDat OK, <values>, <T>", "Send CtdDat ERROR, <T>"}),
          kMeasured),
     ""},
    {"CtdSilent", With(kWithCtd, "--ctd-fault=silent"), false,
     Then(Then(kCtdWoken, {"Get  CtdDat ERROR, <T>"}), kMeasured), ""},
    {"CtdNulPrompt", With(kWithCtd, "--ctd-fault=nul@POKE"), true,
     Then(Then(kCtdWoken, {"Get  CtdDat ERROR, <T>"}), kMeasured), ""},
    {"CtdGarbledReading", With(kWithCtd, "--ctd-fault=garbage@PTS"), true,
     Then(Then(kCtdWoken, {"Get  CtdDat OK, <T>", "ParseCtdDat ERROR, rbuf= <reply>, <T>"}),
          kMeasured),
     "001, ParseCtdDat ERROR, rbuf= "},
};

INSTANTIATE_TEST_SUITE_P(Simulated, SimRunFaultTest, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

// A record longer than the sampler's buffer is stored cut to 1023
// characters, as one line, and the next cycle is not upset by the rest.
TEST_F(SimRunTest, OverlongRecordIsStoredCut) {
  const RunSetup setup = With(kZolOnly, "--zol-fault=overlong@SL");
  ASSERT_TRUE(RunCycles(setup));
  StopSampling();

  const std::string console = app->Console();
  std::vector<std::string> records;
  for (int n : {1, 2}) {
    EXPECT_EQ(CycleSteps(console, n), ConsoleCycle(n, GoodSteps(setup))) << n;
    const std::vector<std::string> shown = CycleRecords(console, n);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].size(), 1023u);
    EXPECT_EQ(shown[0].substr(1000), std::string(23, 'X'));
    records.push_back(shown[0]);
  }
  const std::string data = Read(".dat");
  EXPECT_EQ(data, Header() + ConfigBlock(data) + JoinLines(records));
}

}  // namespace
}  // namespace zol::test
