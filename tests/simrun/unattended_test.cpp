// Unattended starts against the simulated instruments: standard input is
// /dev/null and the dialogue is answered from the file ZOLSAMPLER_ANSWERS
// names. Start after start, previous files are kept and appended to unless
// the file says to remove them; a faulty file ends the program before it
// opens a port or touches a file.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "simrun/sim_run.h"
#include "support/run_program.h"

namespace zol::test {
namespace {

constexpr const char* kWithCtd =
    "# mooring 7, unattended\n"
    "serial_number = 42\n"
    "sample_rate = 1\n"
    "sample_mode = KIRN\n"
    "pump_sample = no\n";

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  return names;
}

class SimRunUnattendedTest : public SimRunTest {
 protected:
  // One unattended start: its first cycle, then SIGTERM, as a service
  // manager stops it.
  void RunOnce(const RunSetup& setup) {
    ASSERT_TRUE(Launch(setup));
    ASSERT_TRUE(CycleEnded(1)) << app->Console();
    app->Signal(SIGTERM);
    ExpectEndedWith(0);
    EXPECT_NE(app->Console().find("\nGot SIGTERM - Terminating Sampling Thread\n"),
              std::string::npos);
  }
};

TEST_F(SimRunUnattendedTest, StartsInARowKeepEveryFileAndAppendToIt) {
  RunSetup setup;
  setup.answers = kWithCtd;
  setup.keyboard = false;
  std::string data;
  std::string log;
  for (int start = 1; start <= 3; ++start) {
    SCOPED_TRACE(start);
    RunOnce(setup);
    const std::string console = app->Console();
    EXPECT_NE(console.find("Enter ZOL Serial Number [0] ? 42"
                           "\nEnter ZOL Sample Rate in minutes [2] ? 1"
                           "\nEnter ZOL Sample MODE: KIRN=1 PADO=2 [2] ? 1"
                           "\nCollect a second sample with CTD pump ON? (Yes/No) [Y]N"),
              std::string::npos)
        << console;
    EXPECT_NE(console.find("\nSync ZOL RTC to PC? (Yes/No) [N]N\n"), std::string::npos);
    EXPECT_NE(console.find("\nSync start of sampling to minute value? (Yes/No) [N]N\n"),
              std::string::npos);
    EXPECT_EQ(Count(console, "should it be REMOVED? (Yes/No) [N]N\n"), start == 1 ? 0u : 2u);
    EXPECT_EQ(Count(console, "REMOVED? (Yes/No) [N]Y"), 0u);

    // What earlier starts wrote stays as it was; this start adds its
    // configuration block and then its records.
    const std::string newData = Read(".dat");
    const std::string newLog = Read(".log");
    ASSERT_EQ(newData.compare(0, data.size(), data), 0) << newData;
    ASSERT_EQ(newLog.compare(0, log.size(), log), 0) << newLog;
    const std::string added = newData.substr(data.size());
    EXPECT_EQ(added.rfind(start == 1 ? Header() + "CFG," : "CFG,", 0), 0u) << added;
    EXPECT_EQ(Count(newData, "CFG,SERIAL NUMBER,0042\n"), static_cast<size_t>(start));
    const std::vector<std::string> records = CycleRecords(console, 1);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(added.substr(added.size() - records[0].size() - 1), records[0] + "\n");
    EXPECT_EQ(MaskSteps(newLog.substr(log.size())), LogCycle(1, GoodSteps(setup)));
    data = newData;
    log = newLog;
  }
}

TEST_F(SimRunUnattendedTest, RemovePreviousYesRemovesThem) {
  RunSetup setup;
  setup.withCtd = false;
  setup.answers =
      "serial_number = 42\nsample_rate = 1\nsample_mode = 1\nsolution_temp = 12.5\n"
      "remove_previous = yes\n";
  setup.keyboard = false;
  for (const char* suffix : {".log", ".dat", "_2.dat"})
    ASSERT_TRUE(WriteFile(dir.File("ZOL0042_KIRN" + std::string(suffix)), "old\n"));
  RunOnce(setup);
  const std::string console = app->Console();
  EXPECT_EQ(Count(console, "should it be REMOVED? (Yes/No) [N]Y\n"), 3u) << console;
  EXPECT_NE(console.find("\nEnter Solution Temperature [20.00] ? 12.5"
                         "\nEnter Solution Salinity [35.00] ? 35.00"),
            std::string::npos);
  EXPECT_EQ(Read(".dat").rfind(Header() + "CFG,", 0), 0u);
  EXPECT_EQ(MaskSteps(Read(".log")), LogCycle(1, GoodSteps(setup)));
  EXPECT_EQ(Read("_2.dat").find("old"), std::string::npos);
}

// Each kind of fault: status 1, the one line on standard error, nothing on
// the console, no port opened and the files as they were.
TEST(UnattendedFaultTest, AFaultyFileEndsTheStartBeforeAnythingIsTouched) {
  TempDir dir;
  const std::string answers = dir.File("zol42.answers");
  const std::string required = "serial_number = 42\nsample_rate = 1\nsample_mode = 1\n";
  const struct {
    const char* text;  // nullptr: no file at all
    std::string error;
  } cases[] = {
      {nullptr, ":0: cannot be read: No such file or directory"},
      {"serial_number = 42\nsample_rate = 0\n", ":2: sample_rate must be 1..1440, not 0"},
      {"serial_number = 42\nsample_mode = 2\n\n",
       ":3: sample_rate is missing; it must be given, 1..1440"},
      {"serial_number = 42\nsample_intervall = 1\n", ":2: unknown key 'sample_intervall'"},
      {"serial_number = 42\nserial_number = 43\n",
       ":2: serial_number is given twice (first on line 1)"},
      {"serial_number: 42\n", ":1: expected 'key = value', not 'serial_number: 42'"},
  };
  const auto start = [&] {
    return RunProgram(
        ZOLSAMPLER_EXE, {"zolsampler", "-P", "1", "-B", "9600", "-p", "-1", "-b", "-1"},
        {{"ZOLSAMPLER_ANSWERS", answers}, {"ZOLSAMPLER_COM1", dir.File("zol")}, {"TZ", "UTC"}},
        30000, dir.Path());
  };
  ASSERT_TRUE(WriteFile(dir.File("ZOL0042_KIRN.log"), "old\n"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    std::filesystem::remove(answers);
    if (c.text != nullptr) {
      ASSERT_TRUE(WriteFile(answers, c.text));
    }
    const ProgramResult result = start();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "zolsampler: " + answers + c.error + "\n");
    EXPECT_EQ(result.out, "");
    std::set<std::string> expected = {"ZOL0042_KIRN.log"};
    if (c.text != nullptr) expected.insert("zol42.answers");
    EXPECT_EQ(Names(dir.Path()), expected);
    EXPECT_EQ(ReadFile(dir.File("ZOL0042_KIRN.log")), "old\n");
  }
  // Only a sampling run reads the file.
  const ProgramResult version =
      RunProgram(ZOLSAMPLER_EXE, {"zolsampler", "-v"}, {{"ZOLSAMPLER_ANSWERS", dir.File("none")}});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.err, "");
  // The same start with a sound file gets past the check.
  ASSERT_TRUE(WriteFile(answers, required));
  const ProgramResult sound = start();
  EXPECT_EQ(sound.err, "");
  EXPECT_NE(sound.out.find("Enter ZOL Serial Number [0] ? 42"), std::string::npos) << sound.out;
  EXPECT_NE(sound.out.find("***Initializing Communications***"), std::string::npos);
}

}  // namespace
}  // namespace zol::test
