// A service's restart after a crash, as its unprivileged user: the killed
// sampler's port is opened again by the next start, while a second sampler
// on a port that a live one holds is still refused. Root may open a terminal
// that a dead owner left exclusive, so the programs run as nobody.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "simrun/sim_run.h"

namespace zol::test {
namespace {

constexpr const char* kAnswers =
    "serial_number = 42\n"
    "sample_rate = 1\n"
    "sample_mode = KIRN\n"
    "pump_sample = no\n";
constexpr const char* kAlreadyOpen = "COM port already open";

class PortRestartTest : public SimRunTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) {
      GTEST_SKIP() << "needs root to run the programs as another, unprivileged user";
    }
    runAs = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    ASSERT_EQ(chown(dir.Path().c_str(), 65534, 65534), 0);
  }
};

TEST_F(PortRestartTest, AKilledSamplersPortServesTheNextStartAndRefusesASecondOne) {
  RunSetup setup;
  setup.answers = kAnswers;
  setup.keyboard = false;
  ASSERT_TRUE(Launch(setup));
  ASSERT_TRUE(CycleEnded(1)) << app->Console();
  app->Signal(SIGKILL);
  EXPECT_EQ(app->Wait(), -1);

  // The simulator still holds the other side of both links.
  ASSERT_TRUE(StartSampler());
  ASSERT_TRUE(CycleEnded(1)) << app->Console();
  EXPECT_EQ(app->Console().find(kAlreadyOpen), std::string::npos) << app->Console();
  size_t records = 0;
  for (const std::string& line : SplitLines(Read(".dat")))
    records += IsRecord(line) ? 1 : 0;
  EXPECT_EQ(records, 2u) << "one record from each start";

  std::unique_ptr<SamplerProcess> live = std::move(app);
  ASSERT_TRUE(StartSampler());
  EXPECT_EQ(app->Wait(), 1) << app->Console();
  EXPECT_NE(app->Console().find(kAlreadyOpen), std::string::npos) << app->Console();

  app = std::move(live);
  app->Signal(SIGTERM);
  ExpectEndedWith(0);
}

}  // namespace
}  // namespace zol::test
