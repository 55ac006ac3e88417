// The real sampler against the simulator under what a ship or a mooring
// does to it: a USB adapter pulled and plugged back in mid-run, and the
// power (kill -9) cut at any moment. No acknowledged record is ever lost,
// no file gets half a line, and sampling carries on once a device is back.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_process.h"
#include "support/sampler_process.h"
#include "support/temp_dir.h"
#include "support/text_lines.h"

namespace zol::test {
namespace {

using sim::test::ChildProcess;

constexpr int kStartMs = 10000;
constexpr const char* kDataFile = "ZOL0042_KIRN.dat";
// Fields of a KIRN record, as many as its column line names.
constexpr long kKirnFields = 26;

class FieldFaultsTest : public ::testing::Test {
 protected:
  // Starts the simulator with `simArgs` and the sampler on its links, and
  // answers the dialogue; true once sampling has begun.
  bool Start(const std::vector<std::string>& simArgs, bool withCtd) {
    std::vector<std::string> args = {"--zol-link", dir->File("zol"), "--measure-seconds",
                                     "0.3",        "--seed",         "7"};
    if (withCtd) {
      args.insert(args.end(), {"--ctd-link", dir->File("ctd")});
    } else {
      args.push_back("--no-ctd");
    }
    args.insert(args.end(), simArgs.begin(), simArgs.end());
    sim = std::make_unique<ChildProcess>(ZOLSIM_EXE, args);
    if (sim->ReadLine(kStartMs).value_or("").find("ZOLSAMPLER_COM1=") != 0) return false;
    if (withCtd && sim->ReadLine(kStartMs).value_or("").find("ZOLSAMPLER_COM2=") != 0) {
      return false;
    }
    const std::vector<std::string> ports = withCtd
                                               ? std::vector<std::string>{"-p", "2", "-b", "9600"}
                                               : std::vector<std::string>{"-p", "-1", "-b", "-1"};
    std::vector<std::string> command = {ZOLSAMPLER_EXE, "-P", "1", "-B", "9600"};
    command.insert(command.end(), ports.begin(), ports.end());
    app = std::make_unique<SamplerProcess>(
        command,
        std::map<std::string, std::string>{{"ZOLSAMPLER_COM1", dir->File("zol")},
                                           {"ZOLSAMPLER_COM2", dir->File("ctd")},
                                           {"TZ", "UTC"}},
        dir->Path());
    const bool asked = app->Answer("Enter ZOL Serial Number", "42\r") &&
                       app->Answer("Enter ZOL Sample Rate in minutes", "1\r") &&
                       app->Answer("Enter ZOL Sample MODE: KIRN=1 PADO=2", "1\r");
    const bool water = withCtd ? app->Answer("CTD pump ON?", "n\r")
                               : app->Answer("Enter Solution Temperature", "\r") &&
                                     app->Answer("Enter Solution Salinity", "\r");
    return asked && water && app->Answer("Sync ZOL RTC to PC?", "\r") &&
           app->Answer("Sync start of sampling to minute value?", "\r");
  }

  std::unique_ptr<TempDir> dir = std::make_unique<TempDir>();
  std::unique_ptr<ChildProcess> sim;
  std::unique_ptr<SamplerProcess> app;
};

struct Unplug {
  const char* name;
  const char* faultOption;
  const char* fault;
  const char* errorWhileGone;
  const char* okWhenBack;
  bool withCtd;
};

class UnplugTest : public FieldFaultsTest, public ::testing::WithParamInterface<Unplug> {};

TEST_P(UnplugTest, ErrorsWhileGoneAndTheNextCycleSucceedsOnceBack) {
  const Unplug& u = GetParam();
  ASSERT_TRUE(Start({u.faultOption, u.fault}, u.withCtd));
  // The first cycle's command takes the device away.
  ASSERT_TRUE(app->Expect(std::string("001, ") + u.errorWhileGone, 60000)) << app->Console();
  ASSERT_TRUE(app->Expect("001, Next Sample", 60000)) << app->Console();
  // The simulator announces the device back at its link: force a cycle at
  // once; it must not be lost to the reconnection.
  const auto back = sim->ReadLine(15000);
  ASSERT_TRUE(back && back->find("ZOLSAMPLER_COM") == 0) << sim->Errors();
  app->Type("\x06");
  ASSERT_TRUE(app->Expect(std::string("002, ") + u.okWhenBack, 60000)) << app->Console();
  ASSERT_TRUE(app->Expect("002, Send Sample OK", 60000)) << app->Console();
  ASSERT_TRUE(app->Expect("002, Next Sample", 60000)) << app->Console();
  app->Type("\x1a");
  EXPECT_EQ(app->Wait(), 0);
  const std::vector<std::string> data = SplitLines(ReadFile(dir->File(kDataFile)));
  ASSERT_FALSE(data.empty());
  EXPECT_EQ(std::count(data.back().begin(), data.back().end(), ',') + 1, kKirnFields)
      << data.back();
  EXPECT_NE(sim->Errors().find("has gone away for 3 s"), std::string::npos) << sim->Errors();
}

const Unplug kUnplugs[] = {
    {"Zol", "--zol-fault", "vanish:3@TS", "Take Sample ERROR", "Take Sample OK", false},
    {"Ctd", "--ctd-fault", "vanish:3@PTS", "Get  CtdDat ERROR", "Get  CtdDat OK", true},
};

INSTANTIATE_TEST_SUITE_P(Adapters, UnplugTest, ::testing::ValuesIn(kUnplugs),
                         [](const ::testing::TestParamInfo<Unplug>& param) {
                           return std::string(param.param.name);
                         });

// The records the console acknowledged: the line after each "Send Sample OK".
std::vector<std::string> AcknowledgedRecords(const std::string& console) {
  std::vector<std::string> records;
  const std::vector<std::string> lines = SplitLines(console);
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i].find(", Send Sample OK, ") == std::string::npos) continue;
    const std::string& next = lines[i + 1];
    const size_t comma = next.find(", ");
    if (comma != std::string::npos) records.push_back(next.substr(comma + 2));
  }
  return records;
}

TEST_F(FieldFaultsTest, KillNineAtRandomMomentsKeepsEveryAcknowledgedRecordWhole) {
  std::mt19937 rng(std::random_device{}());
  int acknowledged = 0;
  for (int run = 0; run < 4; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    dir = std::make_unique<TempDir>();
    ASSERT_TRUE(Start({}, false));
    ASSERT_TRUE(app->Expect("001, Waking ZOL", kStartMs));
    // Cycles back to back, and the plug pulled somewhere in the middle.
    const auto killAt =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(std::uniform_int_distribution<int>(300, 4000)(rng));
    while (std::chrono::steady_clock::now() < killAt) {
      app->Type("\x06");
      std::this_thread::sleep_for(
          std::chrono::milliseconds(std::uniform_int_distribution<int>(20, 400)(rng)));
    }
    app->Signal(SIGKILL);
    app->Wait();
    const std::vector<std::string> records = AcknowledgedRecords(app->Console());
    acknowledged += static_cast<int>(records.size());

    const std::string data = ReadFile(dir->File(kDataFile));
    ASSERT_FALSE(data.empty());
    EXPECT_EQ(data.back(), '\n') << "half a line at the end";
    const std::vector<std::string> lines = SplitLines(data);
    for (const std::string& record : records)
      EXPECT_EQ(std::count(lines.begin(), lines.end(), record), 1) << record;
    // After the header and the configuration, only whole records.
    for (const std::string& line : lines) {
      if (line.empty() || !std::isxdigit(static_cast<unsigned char>(line[0]))) continue;
      if (std::count(line.begin(), line.end(), ',') + 1 < 10) continue;  // configuration
      EXPECT_EQ(std::count(line.begin(), line.end(), ',') + 1, kKirnFields) << line;
    }
    const std::string log = ReadFile(dir->File("ZOL0042_KIRN.log"));
    if (!log.empty()) {
      EXPECT_EQ(log.back(), '\n') << "half a line at the end of the log";
    }
    app.reset();
    sim->Stop();
    sim.reset();
  }
  std::printf("[ kill -9  ] 4 runs, %d acknowledged records all stored\n", acknowledged);
}

}  // namespace
}  // namespace zol::test
