#include "app/data_file_setup.h"
#include "files/data_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/sampler_state.h"
#include "support/file_size_limit.h"
#include "support/instrument_peers.h"
#include "support/test_rig.h"
#include "support/work_dir.h"

namespace zol {
namespace {

using test::TestRig;
using test::WorkDir;
using test::ZolPeer;

constexpr int kZolPort = 0;
constexpr int kCtdPort = 1;

const std::string kKirnHeader =
    "#ALL RECORDS\n"
    "CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
    "COUNTER, KIRN_ERROR COUNTER, SYS_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, INPUT "
    "VOLTAGE, INPUT CURRENT, MAX LAMP INTEN, MIN LAMP INTEN, DC MEAN, DC STDDEV, KIRN SALINITY, "
    "KIRN NITRATE, FIT ERROR, DAT PIXEL BEG, DAT PIXEL END, PACKED HEX DATA, SW DC\n\n\n";

const std::string kPadoHeader =
    "#ALL RECORDS\n"
    "CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
    "COUNTER, PADO_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, INPUT VOLTAGE, INPUT "
    "CURRENT, FOOBAR PH VALUE, BACKUP BATTERY, VRS VOLTS, VRS STDDEV, VK VOLTS, VK STDDEV, IK "
    "AMPS, IB AMPS\n\n\n";

const std::string kConfigBlock = "ZOL CONFIG\nSN,0042\nFW,2.17\n";

class DataFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.ok());
    Configure(42, 1);
  }
  void Configure(uint16_t serialNumber, uint16_t mode, int ctdPort = -1) {
    SamplerState& state = State();
    state.zolPort = kZolPort;
    state.ctdPort = ctdPort;
    state.serialNumber = serialNumber;
    state.sampleMode = mode;
  }
  // Opens the ports as start-up would have.
  void OpenPorts() {
    rig.serial.Open(kZolPort, 1024, 1024);
    if (State().ctdPort != -1) rig.serial.Open(State().ctdPort, 1024, 1024);
  }

  WorkDir dir;
  TestRig rig;
  ZolPeer zol{rig.serial, rig.clock, kZolPort};
};

struct NameCase {
  uint16_t serialNumber;
  uint16_t mode;
  const char* log;
  const char* dat;
  const char* dat2;
};

TEST_F(DataFilesTest, NamesFromSerialNumberAndKind) {
  const NameCase cases[] = {
      {42, 1, "ZOL0042_KIRN.log", "ZOL0042_KIRN.dat", "ZOL0042_KIRN_2.dat"},
      {7, 2, "ZOL0007_PADO.log", "ZOL0007_PADO.dat", "ZOL0007_PADO_2.dat"},
      {9999, 1, "ZOL9999_KIRN.log", "ZOL9999_KIRN.dat", "ZOL9999_KIRN_2.dat"},
      {1, 2, "ZOL0001_PADO.log", "ZOL0001_PADO.dat", "ZOL0001_PADO_2.dat"},
  };
  for (const NameCase& c : cases) {
    Configure(c.serialNumber, c.mode);
    CheckPreviousFiles();
    EXPECT_STREQ(State().logPath, c.log);
    EXPECT_STREQ(State().datPath, c.dat);
    EXPECT_STREQ(State().dat2Path, c.dat2);
  }
  // No previous files: nothing printed, nothing asked.
  EXPECT_EQ(rig.console.Text(), "");
  EXPECT_EQ(rig.keys.ReadCount(), 0);
}

TEST_F(DataFilesTest, FormatPathStaysInsideTheField) {
  char field[kPathSize + 8];
  std::memset(field, 'Z', sizeof field);
  const std::string longKind(200, 'K');
  FormatPath(field, "ZOL%04d_%s.dat", 42, longKind.c_str());
  EXPECT_EQ(std::strlen(field), static_cast<size_t>(kPathSize - 1));
  EXPECT_EQ(field[kPathSize], 'Z');
}

TEST_F(DataFilesTest, PreviousFilesAreOfferedForRemoval) {
  WorkDir::Write("ZOL0042_KIRN.log", "old log\n");
  WorkDir::Write("ZOL0042_KIRN.dat", "old data\n");
  WorkDir::Write("ZOL0042_KIRN_2.dat", "");
  rig.keys.Push("y\r\rn\r");
  CheckPreviousFiles();
  EXPECT_EQ(rig.console.Text(),
            "LogFile ZOL0042_KIRN.log was found, should it be REMOVED? (Yes/No) [N]y\n"
            "DatFile ZOL0042_KIRN.dat was found, should it be REMOVED? (Yes/No) [N]\n"
            "DatFile ZOL0042_KIRN_2.dat was found, should it be REMOVED? (Yes/No) [N]n\n");
  EXPECT_FALSE(WorkDir::Exists("ZOL0042_KIRN.log"));
  EXPECT_EQ(WorkDir::Read("ZOL0042_KIRN.dat"), "old data\n");
  EXPECT_TRUE(WorkDir::Exists("ZOL0042_KIRN_2.dat"));
}

TEST_F(DataFilesTest, OnlyTheFilesOfThisSerialNumberAndKindCount) {
  WorkDir::Write("ZOL0042_PADO.dat", "x");
  WorkDir::Write("ZOL0043_KIRN.dat", "x");
  CheckPreviousFiles();
  EXPECT_EQ(rig.console.Text(), "");
}

TEST_F(DataFilesTest, ClosedKeyboardKeepsEveryFileAndEndsTheCheck) {
  WorkDir::Write("ZOL0042_KIRN.log", "a");
  WorkDir::Write("ZOL0042_KIRN.dat", "b");
  CheckPreviousFiles();
  EXPECT_EQ(rig.console.Text(),
            "LogFile ZOL0042_KIRN.log was found, should it be REMOVED? (Yes/No) [N]"
            "\n\nInput Timeout!\n\n"
            "DatFile ZOL0042_KIRN.dat was found, should it be REMOVED? (Yes/No) [N]"
            "\n\nInput Timeout!\n\n");
  EXPECT_TRUE(WorkDir::Exists("ZOL0042_KIRN.log"));
  EXPECT_TRUE(WorkDir::Exists("ZOL0042_KIRN.dat"));
}

TEST_F(DataFilesTest, AFifoOfTheSameNameDoesNotHangTheCheck) {
  ASSERT_EQ(mkfifo("ZOL0042_KIRN.log", 0600), 0);
  rig.keys.Push("y\r");
  CheckPreviousFiles();
  EXPECT_FALSE(WorkDir::Exists("ZOL0042_KIRN.log"));
}

TEST_F(DataFilesTest, NewDataFileGetsHeaderAndConfiguration) {
  OpenPorts();
  CheckPreviousFiles();
  GetConfigInfo();
  EXPECT_EQ(WorkDir::Read("ZOL0042_KIRN.dat"), kKirnHeader + kConfigBlock);
  EXPECT_EQ(rig.console.Text(), "\n2 Configuration Records Received\n");
  EXPECT_EQ(State().datFile, nullptr);
  // Nothing else is created at this step.
  EXPECT_FALSE(WorkDir::Exists("ZOL0042_KIRN.log"));
  EXPECT_FALSE(WorkDir::Exists("ZOL0042_KIRN_2.dat"));
}

TEST_F(DataFilesTest, PadoHeaderAndModeOnTheWire) {
  Configure(7, 2);
  OpenPorts();
  CheckPreviousFiles();
  GetConfigInfo();
  EXPECT_EQ(WorkDir::Read("ZOL0007_PADO.dat"), kPadoHeader + kConfigBlock);
  ASSERT_GE(zol.commands.size(), 2u);
  EXPECT_EQ(zol.commands[0], "W");
  EXPECT_EQ(zol.commands[1], "MODE,2");
  EXPECT_EQ(zol.commands.back(), "C");
}

struct EarlierFileCase {
  const char* name;
  std::string earlier;
  const char* answer;  // to "should it be REMOVED?"
  std::string after;
};

TEST_F(DataFilesTest, HeaderOnlyForAnEmptyOrNewDataFile) {
  const std::string records = kKirnHeader + "OLD CONFIG\n1A2B, ZOL0042, record\n";
  const EarlierFileCase cases[] = {
      {"kept with records", records, "n\r", records + kConfigBlock},
      {"kept but empty", "", "\r", kKirnHeader + kConfigBlock},
      {"removed", records, "y\r", kKirnHeader + kConfigBlock},
  };
  OpenPorts();
  for (const EarlierFileCase& c : cases) {
    WorkDir::Write("ZOL0042_KIRN.dat", c.earlier);
    rig.keys.Push(c.answer);
    CheckPreviousFiles();
    GetConfigInfo();
    EXPECT_EQ(WorkDir::Read("ZOL0042_KIRN.dat"), c.after) << c.name;
  }
}

struct DumpCase {
  const char* name;
  std::vector<std::string> lines;
  bool nak;
  std::string file;
  std::string console;
};

TEST_F(DataFilesTest, FailedOrShortDumpsAreReportedAndStartUpGoesOn) {
  const DumpCase cases[] = {
      {"refused", {}, true, kKirnHeader, "\nERROR Getting KIRN Config Data, ret = 0\n"},
      {"one line",
       {"ONLY LINE"},
       false,
       kKirnHeader + "ONLY LINE\n",
       "\nERROR Getting KIRN Config Data, ret = 0\n"},
      {"nothing", {}, false, kKirnHeader, "\nERROR Getting KIRN Config Data, ret = -2\n"},
  };
  OpenPorts();
  CheckPreviousFiles();
  for (const DumpCase& c : cases) {
    std::remove("ZOL0042_KIRN.dat");
    zol.configLines = c.lines;
    zol.nakConfig = c.nak;
    rig.console.Take();
    GetConfigInfo();
    EXPECT_EQ(WorkDir::Read("ZOL0042_KIRN.dat"), c.file) << c.name;
    EXPECT_EQ(rig.console.Take(), c.console) << c.name;
  }
}

TEST_F(DataFilesTest, AFullDiskIsReported) {
  OpenPorts();
  CheckPreviousFiles();
  std::snprintf(State().datPath, kPathSize, "%s", "/dev/full");
  GetConfigInfo();
  EXPECT_EQ(rig.console.Text(),
            "\n2 Configuration Records Received\n"
            "ERROR Writing Local Data File /dev/full: No space left on device\n");
}

TEST_F(DataFilesTest, DiskFillingInTheConfigurationBlockLeavesWholeLines) {
  OpenPorts();
  CheckPreviousFiles();
  const std::string before = kKirnHeader + "old record\n";
  WorkDir::Write("ZOL0042_KIRN.dat", before);
  // Room for "ZOL CONFIG\n" and half of "SN,0042\n".
  {
    test::FileSizeLimit limit(before.size() + 15);
    GetConfigInfo();
  }
  EXPECT_EQ(WorkDir::Read("ZOL0042_KIRN.dat"), before + "ZOL CONFIG\n");
  EXPECT_EQ(rig.console.Text(),
            "\n2 Configuration Records Received\n"
            "ERROR Writing Local Data File ZOL0042_KIRN.dat: File too large\n");
}

// In the child of a death test: the console goes to standard error, where
// the test can see it, and at exit the child tells which ports are open.
test::FakeSerial* g_exitingSerial = nullptr;

void ReportPortsAtExit() {
  std::fprintf(stderr, "[zol %s, ctd %s]", g_exitingSerial->IsOpen(kZolPort) ? "open" : "closed",
               g_exitingSerial->IsOpen(kCtdPort) ? "open" : "closed");
}

void RunToExit(test::FakeSerial& serial) {
  g_exitingSerial = &serial;
  SetConsoleStream(stderr);
  std::atexit(ReportPortsAtExit);
  GetConfigInfo();
}

using DataFilesDeathTest = DataFilesTest;

TEST_F(DataFilesDeathTest, ZolThatDoesNotWakeEndsTheProgram) {
  Configure(42, 1, kCtdPort);
  OpenPorts();
  CheckPreviousFiles();
  zol.silent = true;
  EXPECT_EXIT(RunToExit(rig.serial), ::testing::ExitedWithCode(1),
              "^ERROR Waking ZOL, ret = -2, exiting!\n\\[zol closed, ctd closed\\]$");
  EXPECT_FALSE(WorkDir::Exists("ZOL0042_KIRN.dat"));
}

TEST_F(DataFilesDeathTest, DataFileThatCannotBeOpenedEndsTheProgram) {
  OpenPorts();
  CheckPreviousFiles();
  ASSERT_EQ(mkdir("ZOL0042_KIRN.dat", 0700), 0);  // a directory cannot be appended to
  EXPECT_EXIT(RunToExit(rig.serial), ::testing::ExitedWithCode(1),
              "^\nERROR Opening Local Data File, exiting!\n\\[zol closed, ctd closed\\]$");
}

TEST_F(DataFilesDeathTest, ReadOnlyWorkingDirectoryEndsTheProgram) {
  OpenPorts();
  CheckPreviousFiles();
  // Permission bits do not stop root; /proc takes no new files from anyone.
  const char* readOnly = geteuid() == 0 ? "/proc" : dir.path().c_str();
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(dir.path().c_str(), 0500), 0);
  }
  EXPECT_EXIT(
      {
        if (chdir(readOnly) != 0) std::exit(3);
        RunToExit(rig.serial);
      },
      ::testing::ExitedWithCode(1), "^\nERROR Opening Local Data File, exiting!\n");
  chmod(dir.path().c_str(), 0700);
}

}  // namespace
}  // namespace zol
