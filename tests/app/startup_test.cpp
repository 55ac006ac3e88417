// The parameter dialogue and the sync-minute question with a scripted
// keyboard: which questions come, what is stored, and every range check.
#include "app/startup.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <string>

#include "app/sampler_state.h"
#include "support/test_rig.h"

namespace zol::test {
namespace {

class StartupTest : public ::testing::Test {
 protected:
  void Answer(const char* keys, int32_t ctdPort) {
    State().ctdPort = ctdPort;
    rig.keys.Push(keys);
  }
  TestRig rig;
};

TEST_F(StartupTest, WithoutCtdAsksTemperatureAndSalinity) {
  Answer("42\r5\r1\r12.5\r\r", -1);
  GetSampleParameters();
  const SamplerState& s = State();
  EXPECT_EQ(s.serialNumber, 42);
  EXPECT_EQ(s.sampleRate, 5);
  EXPECT_EQ(s.sampleMode, 1);
  EXPECT_FLOAT_EQ(s.solutionTemp, 12.5f);
  EXPECT_FLOAT_EQ(s.solutionSal, 35.0f);  // the default
  EXPECT_EQ(s.pumpSample, 0);
  const std::string console = rig.console.Text();
  EXPECT_NE(console.find("Enter Solution Salinity"), std::string::npos);
  EXPECT_EQ(console.find("pump"), std::string::npos);
  EXPECT_EQ(rig.keys.Remaining(), 0u);
}

TEST_F(StartupTest, WithCtdAsksThePumpQuestionDefaultYes) {
  struct Case {
    const char* keys;
    uint16_t pump;
  };
  for (const Case& c : {Case{"9999\r1440\r2\r\r", 1}, Case{"1\r1\r\rn\r", 0}}) {
    ResetState();
    Answer(c.keys, 1);
    GetSampleParameters();
    EXPECT_EQ(State().pumpSample, c.pump) << c.keys;
    EXPECT_FLOAT_EQ(State().solutionTemp, 0.0f);
    EXPECT_EQ(rig.keys.Remaining(), 0u);
  }
  EXPECT_EQ(State().serialNumber, 1);
  EXPECT_EQ(State().sampleMode, 2);  // the default
  EXPECT_EQ(rig.console.Text().find("Temperature"), std::string::npos);
  EXPECT_NE(rig.console.Text().find("Collect a second sample with CTD pump ON?"),
            std::string::npos);
}

TEST_F(StartupTest, AnswersOutOfRangeEndTheProgramWithStatusZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    const char* keys;
    const char* message;
  };
  const Case cases[] = {
      {"\r", "\n\nError, ZOL Serial Number Range = \\[1,9999\\]\n"},
      {"10000\r", "Serial Number Range"},
      {"4294967295\r", "Serial Number Range"},
      {"1\r0\r", "\n\nError, Sample Rate Range = \\[1,1440\\] minutes\n"},
      {"1\r1441\r", "Sample Rate Range"},
      {"1\r1\r3\r", "\n\nError, Sample Mode Range = \\[1,2\\]\n"},
      {"1\r1\r0\r", "Sample Mode Range"},
      {"1\r1\r1\r40.01\r", "Error, Solution Temp Range = \\[0.0,40.0\\] degC\n"},
      {"1\r1\r1\r-0.5\r", "degC"},
      {"1\r1\r1\rnan\r", "degC"},
      {"1\r1\r1\r0\r40.01\r", "Error, Solution Temp Range = \\[0.0,40.0\\] pss\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(
        {
          SetConsoleStream(stderr);
          Answer(c.keys, -1);
          GetSampleParameters();
        },
        ::testing::ExitedWithCode(0), c.message)
        << c.keys;
  }
}

TEST_F(StartupTest, BoundsAreInclusive) {
  Answer("9999\r1440\r2\r0\r40\r", -1);
  GetSampleParameters();
  EXPECT_EQ(State().serialNumber, 9999);
  EXPECT_EQ(State().sampleRate, 1440);
  EXPECT_FLOAT_EQ(State().solutionTemp, 0.0f);
  EXPECT_FLOAT_EQ(State().solutionSal, 40.0f);
}

TEST_F(StartupTest, SyncMinute) {
  struct Case {
    const char* keys;
    int32_t minute;
    const char* tail;
  };
  const Case cases[] = {
      {"\r", -1, "\n\n"},  {"n\r", -1, "\n\n"},
      {"y\r\r", 30, ""},   {"y\r0\r", 0, ""},
      {"y\r59\r", 59, ""}, {"y\r60\r", -1, "\nError, Range = [0,59] - Sync Disabled!\n\n"},
  };
  for (const Case& c : cases) {
    State().syncMinute = 12;
    rig.console.Take();
    rig.keys.Push(c.keys);
    GetSyncMinute();
    EXPECT_EQ(State().syncMinute, c.minute) << c.keys;
    const std::string console = rig.console.Take();
    const std::string tail = c.tail;
    ASSERT_GE(console.size(), tail.size());
    EXPECT_EQ(console.substr(console.size() - tail.size()), tail) << c.keys;
    EXPECT_NE(console.find("Sync start of sampling to minute value?"), std::string::npos);
  }
}

// Sanitizers reserve address space of their own; the limit below would
// starve them rather than the new thread.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Leaves the process about a megabyte of address space beyond what it uses.
void LimitAddressSpace() {
  unsigned long pages = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "re")) {
    if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  rlimit limit{};
  limit.rlim_cur =
      static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (1 << 20);
  limit.rlim_max = RLIM_INFINITY;
  setrlimit(RLIMIT_AS, &limit);
}

TEST_F(StartupTest, ThreadThatCannotBeCreatedEndsWithStatusOne) {
  if (kSanitized) GTEST_SKIP() << "address-space limit not usable under a sanitizer";
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  rig.serial.Open(0, 1024, 1024);
  EXPECT_EXIT(
      {
        SetConsoleStream(stderr);
        State().ctdPort = -1;
        LimitAddressSpace();  // no room left for a thread's stack
        StartSampling();
        std::exit(0);
      },
      ::testing::ExitedWithCode(1), "\nERROR Creating Sample Thread, exiting!\n");
}

}  // namespace
}  // namespace zol::test
