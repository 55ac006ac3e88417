// The start-up dialogue answered from an answers file: every question shown
// with its answer typed after it, absent keys taking the defaults, previous
// files kept unless the file says otherwise, and the keyboard never read.
#include "app/unattended.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/clock_setup.h"
#include "app/data_file_setup.h"
#include "app/sampler_state.h"
#include "app/startup.h"
#include "base/local_time.h"
#include "support/instrument_peers.h"
#include "support/test_rig.h"
#include "support/work_dir.h"

namespace zol::test {
namespace {

constexpr int kZolPort = 0;

StartAnswers Required() {
  StartAnswers answers;
  answers.serialNumber = 42;
  answers.sampleRate = 5;
  answers.sampleMode = 2;
  return answers;
}

class UnattendedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ"); tz != nullptr) savedTz_ = tz;
    setenv("TZ", "UTC", 1);
    State().zolPort = kZolPort;
    State().ctdPort = -1;
  }
  void TearDown() override {
    ForgetStartAnswers();
    if (savedTz_.empty()) {
      unsetenv("TZ");
    } else {
      setenv("TZ", savedTz_.c_str(), 1);
    }
    LoadTimeZone();
  }
  // Every key came from the answers: the keyboard was never read.
  void ExpectKeyboardUntouched() { EXPECT_EQ(rig.keys.ReadCount(), 0); }

  TestRig rig;

 private:
  std::string savedTz_;
};

TEST_F(UnattendedTest, ParametersWithoutCtdReadAsTyped) {
  StartAnswers answers = Required();
  answers.solutionTemp = "12.5";
  UseStartAnswers(answers);
  GetSampleParameters();
  EXPECT_EQ(rig.console.Text(),
            "Enter ZOL Serial Number [0] ? 42"
            "\nEnter ZOL Sample Rate in minutes [2] ? 5"
            "\nEnter ZOL Sample MODE: KIRN=1 PADO=2 [2] ? 2"
            "\nEnter Solution Temperature [20.00] ? 12.5"
            "\nEnter Solution Salinity [35.00] ? 35.00");
  const SamplerState& s = State();
  EXPECT_EQ(s.serialNumber, 42);
  EXPECT_EQ(s.sampleRate, 5);
  EXPECT_EQ(s.sampleMode, 2);
  EXPECT_FLOAT_EQ(s.solutionTemp, 12.5f);
  EXPECT_FLOAT_EQ(s.solutionSal, 35.0f);
  ExpectKeyboardUntouched();
}

TEST_F(UnattendedTest, PumpQuestionWithCtdDefaultsToYes) {
  State().ctdPort = 1;
  for (const bool given : {false, true}) {
    StartAnswers answers = Required();
    if (given) answers.pumpSample = false;
    UseStartAnswers(answers);
    GetSampleParameters();
    EXPECT_EQ(State().pumpSample, given ? 0 : 1);
    const std::string console = rig.console.Take();
    EXPECT_EQ(console.substr(console.find("\nCollect")),
              std::string("\nCollect a second sample with CTD pump ON? (Yes/No) [Y]") +
                  (given ? "N" : "Y"));
  }
  ExpectKeyboardUntouched();
}

TEST_F(UnattendedTest, SyncMinuteOnlyWhenGiven) {
  UseStartAnswers(Required());
  GetSyncMinute();
  EXPECT_EQ(State().syncMinute, -1);
  EXPECT_EQ(rig.console.Take(), "\nSync start of sampling to minute value? (Yes/No) [N]N\n\n");

  StartAnswers answers = Required();
  answers.syncMinute = 0;
  UseStartAnswers(answers);
  GetSyncMinute();
  EXPECT_EQ(State().syncMinute, 0);
  EXPECT_EQ(rig.console.Take(),
            "\nSync start of sampling to minute value? (Yes/No) [N]Y"
            "\nEnter minute value (mins) [30] ? 0");
  ExpectKeyboardUntouched();
}

TEST_F(UnattendedTest, PreviousFilesAreKeptUnlessTheFileSaysYes) {
  WorkDir dir;
  ASSERT_TRUE(dir.ok());
  State().serialNumber = 42;
  State().sampleMode = 1;
  for (const char* name : {"ZOL0042_KIRN.log", "ZOL0042_KIRN.dat", "ZOL0042_KIRN_2.dat"})
    WorkDir::Write(name, "old\n");
  UseStartAnswers(Required());
  CheckPreviousFiles();
  EXPECT_EQ(rig.console.Take(),
            "LogFile ZOL0042_KIRN.log was found, should it be REMOVED? (Yes/No) [N]N\n"
            "DatFile ZOL0042_KIRN.dat was found, should it be REMOVED? (Yes/No) [N]N\n"
            "DatFile ZOL0042_KIRN_2.dat was found, should it be REMOVED? (Yes/No) [N]N\n");
  for (const char* name : {"ZOL0042_KIRN.log", "ZOL0042_KIRN.dat", "ZOL0042_KIRN_2.dat"})
    EXPECT_EQ(WorkDir::Read(name), "old\n") << name;

  StartAnswers answers = Required();
  answers.removePrevious = true;
  UseStartAnswers(answers);
  CheckPreviousFiles();
  for (const char* name : {"ZOL0042_KIRN.log", "ZOL0042_KIRN.dat", "ZOL0042_KIRN_2.dat"})
    EXPECT_FALSE(WorkDir::Exists(name)) << name;
  ExpectKeyboardUntouched();
}

TEST_F(UnattendedTest, ClockStepChangesOnlyWhatTheFileChanges) {
  rig.serial.Open(kZolPort, 1024, 1024);
  ZolPeer zol{rig.serial, rig.clock, kZolPort};
  StartAnswers answers = Required();
  answers.syncZolClock = true;
  answers.tzOffsetHours = 5;  // UTC has 0
  answers.daylight = 0;       // as it is: not modified
  answers.transferPcTime = true;
  UseStartAnswers(answers);
  ShowTimes();
  const std::string console = rig.console.Text();
  for (const char* part :
       {"\nSync ZOL RTC to PC? (Yes/No) [N]Y\n***Getting Local Time Zone Offset***\n",
        "Local Time Zone Offset from GMT = +0 hrs, 0 secs\nModify (Yes/No) [N]Y"
        "\nEnter local time zone offset in hours ( W is [+], E is [-] ) > [0] ? 5"
        "\nThe New Local Time Zone Offset = +5 hrs, 18000 secs\n",
        "Daylight Observation = FALSE\nModify (Yes/No) [N]N\n",
        "\nTransfer PC Time to ZOL (Yes/No) [N]Y", "\nZOL Time has been set!\n"}) {
    EXPECT_NE(console.find(part), std::string::npos) << part << "\nin:\n" << console;
  }
  EXPECT_EQ(TimeZoneOffset(), 5 * 3600);
  ExpectKeyboardUntouched();
}

TEST_F(UnattendedTest, WithoutAnswersTheKeyboardAnswers) {
  rig.keys.Push("7\r1\r1\r\r\r");
  UseStartAnswers(Required());
  ForgetStartAnswers();
  GetSampleParameters();
  EXPECT_EQ(State().serialNumber, 7);
  EXPECT_EQ(rig.keys.Remaining(), 0u);
}

}  // namespace
}  // namespace zol::test
