// The live record feed in whole runs: a receiver on the loopback interface
// gets every record of the run, in order, as stored; a destination nobody
// listens on changes nothing; a bad setting stops the start.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "simrun/sim_run.h"
#include "support/run_program.h"
#include "support/udp_receiver.h"

namespace zol::test {
namespace {

// The data file's records (after the header and configuration block) as
// the feed sends them.
std::vector<std::string> AsDatagrams(const std::string& fileName, const std::string& data) {
  std::vector<std::string> datagrams;
  for (const std::string& line : SplitLines(data)) {
    if (IsRecord(line)) datagrams.push_back(fileName + "\t" + line + "\n");
  }
  return datagrams;
}

class SimRunFeedTest : public SimRunTest {};

TEST_F(SimRunFeedTest, EveryRecordOfARunReachesTheReceiverInOrder) {
  UdpReceiver receiver;
  UdpReceiver nobody;  // bound, never read: its queue only fills
  const RunSetup setup{{}, true, true, 1};
  samplerEnv["ZOLSAMPLER_UDP"] = receiver.Address() + "," + nobody.Address();
  ASSERT_TRUE(RunCycles(setup));
  StopSampling();

  const std::string console = app->Console();
  EXPECT_NE(console.find("UDP feed: every sample record to " + receiver.Address() + ", " +
                         nobody.Address() + "\n"),
            std::string::npos);
  for (int n : {1, 2})
    EXPECT_EQ(CycleSteps(console, n), ConsoleCycle(n, GoodSteps(setup))) << n;
  const std::vector<std::string> first = AsDatagrams(FileName(".dat"), Read(".dat"));
  const std::vector<std::string> second = AsDatagrams(FileName("_2.dat"), Read("_2.dat"));
  ASSERT_EQ(first.size(), 2u);
  ASSERT_EQ(second.size(), 2u);
  // Each cycle: its first record, then its pump record.
  EXPECT_EQ(receiver.Drain(), (std::vector<std::string>{first[0], second[0], first[1], second[1]}));
  EXPECT_EQ(console.find("UDP feed to "), std::string::npos) << "no send failed";
}

TEST_F(SimRunFeedTest, ADestinationNobodyListensOnChangesNothing) {
  std::string deadAddress;
  {
    UdpReceiver gone;
    deadAddress = gone.Address();
  }
  const RunSetup setup{{}, false, false, 2};
  samplerEnv["ZOLSAMPLER_UDP"] = deadAddress;
  ASSERT_TRUE(RunCycles(setup));
  StopSampling();
  const std::string console = app->Console();
  for (int n : {1, 2})
    EXPECT_EQ(CycleSteps(console, n), ConsoleCycle(n, GoodSteps(setup))) << n;
  // Each cycle within the second it would take anyway.
  for (const char* n : {"001", "002"}) {
    const std::string head = std::string(n) + ", ";
    EXPECT_LE(SecondsOf(StampOn(console, head + "Enter Sleep OK")) -
                  SecondsOf(StampOn(console, head + "Send Sample OK")),
              1)
        << console;
  }
  EXPECT_EQ(console.find("UDP feed to "), std::string::npos);
}

TEST(FeedSettingRunTest, ABadSettingEndsTheStartBeforeTheDialogue) {
  for (const char* setting : {"ship-ds", "127.0.0.1:0", "[::1:9000"}) {
    const ProgramResult result =
        RunProgram(ZOLSAMPLER_EXE, {"zolsampler", "-P", "1", "-B", "9600", "-p", "-1", "-b", "-1"},
                   {{"ZOLSAMPLER_UDP", setting}, {"ZOLSAMPLER_COM1", "/nonexistent/zol"}});
    EXPECT_EQ(result.status, 1) << setting;
    EXPECT_EQ(result.err.rfind("zolsampler: ZOLSAMPLER_UDP: '", 0), 0u) << result.err;
    EXPECT_EQ(result.out, "") << setting;
  }
}

}  // namespace
}  // namespace zol::test
