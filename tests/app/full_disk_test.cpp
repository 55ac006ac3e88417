// Sample cycles on a disk that fills up or a file that cannot be written:
// the console keeps every line and record, the cycle runs to its end, and
// what the files already held stays as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/sample_cycle.h"
#include "app/sampler_state.h"
#include "cycle_fixture.h"
#include "support/file_size_limit.h"

namespace zol::test {
namespace {

constexpr const char* kRecord = "1A2B, ZOL0042, 2024/01/15 12:35:00, 1705322100, 12.35";

const std::string kCycleConsole =
    "001, Waking ZOL 0042, <T>\n"
    "001, ZOL Wakeup OK, <T>\n"
    "001, Send UserTempSal OK, <T>\n"
    "001, Sampling KIRN, <T>\n"
    "001, Take Sample OK, <T>\n"
    "001, Send Sample OK, <T>\n"
    "001, " +
    std::string(kRecord) +
    "\n"
    "001, Store Sample ERROR, <T>\n"
    "001, Enter Sleep OK, <T>\n"
    "001, Next Sample, <T>\n\n";

class FullDiskTest : public CycleFixture {
 protected:
  void Prefill(const char* path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
};

TEST_F(FullDiskTest, RecordThatDoesNotFitIsShownReportedAndLeavesTheFileIntact) {
  const std::string earlier = "#ALL RECORDS\nearlier record\n";
  Prefill(State().datPath, earlier + std::string(400, 'x') + "\n");
  const std::string before = Dat();
  {
    // The log (a few hundred bytes) fits; the record would be cut in half.
    FileSizeLimit limit(before.size() + 20);
    SampleCycle();
  }
  EXPECT_EQ(MaskStamps(rig.console.Text()), kCycleConsole);
  EXPECT_EQ(Dat(), before);
  EXPECT_NE(MaskStamps(Log()).find("001, Send Sample OK, <T>\n"
                                   "001, Store Sample ERROR, <T>\n"
                                   "001, Enter Sleep OK, <T>\n"
                                   "001, Next Sample, <T>\n\n"),
            std::string::npos);
  // With room again the next cycle stores its record after the old ones.
  rig.console.Take();
  SampleCycle();
  EXPECT_EQ(Dat(), before + kRecord + "\n");
}

TEST_F(FullDiskTest, LogOnAFullDeviceLeavesConsoleAndRecordWhole) {
  SetPath(State().logPath, "/dev/full");
  SampleCycle();
  const std::string console = MaskStamps(rig.console.Text());
  EXPECT_NE(console.find("001, Send Sample OK, <T>\n001, " + std::string(kRecord) +
                         "\n001, Enter Sleep OK, <T>\n001, Next Sample, <T>\n\n"
                         "ERROR Writing Log File /dev/full: No space left on device\n"),
            std::string::npos)
      << console;
  EXPECT_EQ(Dat(), std::string(kRecord) + "\n");
}

TEST_F(FullDiskTest, LogThatCannotBeOpenedIsReportedEveryCycleAndTheRecordIsStored) {
  const std::string folder = dir.File("a folder");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  const struct {
    std::string path;
    const char* reason;
  } cases[] = {{folder, "Is a directory"}, {dir.File("gone/ZOL0042_KIRN.log"), "No such file"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    SetPath(State().logPath, c.path);
    const std::string report = "ERROR Opening Log File " + c.path + ": " + c.reason;
    for (int cycle = 0; cycle < 2; ++cycle) {
      SampleCycle();
      const std::string console = MaskStamps(rig.console.Take());
      EXPECT_NE(console.find(", Next Sample, <T>\n\n" + report), std::string::npos) << console;
      EXPECT_EQ(console.find("ERROR Writing Log File"), std::string::npos);
    }
  }
  EXPECT_EQ(Dat(), std::string(kRecord) + "\n" + kRecord + "\n" + kRecord + "\n" + kRecord + "\n");
  // An opened log again: no report.
  SetPath(State().logPath, dir.File("ZOL0042_KIRN.log"));
  SampleCycle();
  EXPECT_EQ(rig.console.Take().find("ERROR"), std::string::npos);
}

TEST_F(FullDiskTest, LogLinesThatDoNotFitAreDroppedWholeAndTheCycleGoesOn) {
  Prefill(State().logPath, "000, Next Sample, Mon Jan 15 12:00:00 2024\n\n");
  const std::string before = Log();
  {
    // Room for the first two step lines (87 bytes) and a part of the third.
    FileSizeLimit limit(before.size() + 100);
    SampleCycle();
  }
  const std::string log = Log();
  ASSERT_EQ(log.compare(0, before.size(), before), 0);
  // Only whole lines were added, each ending with its line end.
  EXPECT_EQ(MaskStamps(log.substr(before.size())),
            "001, Waking ZOL, <T>\n001, ZOL Wakeup OK, <T>\n");
  EXPECT_EQ(Dat(), std::string(kRecord) + "\n");
  EXPECT_NE(rig.console.Text().find("001, Next Sample"), std::string::npos);
  EXPECT_NE(rig.console.Text().find("ERROR Writing Log File "), std::string::npos);
}

}  // namespace
}  // namespace zol::test
