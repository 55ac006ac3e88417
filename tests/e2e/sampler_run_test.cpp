// The real zolsampler on a pseudo-terminal console, with the ZOL and the CTD
// doubles on pseudo-terminal lines: the whole start-up, sampling period
// after period, the keyboard commands, signals, and the terminal restored.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "support/instrument_peers.h"
#include "support/pty_instrument.h"
#include "support/sampler_process.h"
#include "support/stamps.h"
#include "support/temp_dir.h"

namespace zol::test {
namespace {

constexpr const char* kRecord = "1A2B, ZOL0042, 2024/01/15 12:35:00, 1705322100, 12.35";
constexpr const char* kKirnColumns =
    "CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
    "COUNTER, KIRN_ERROR COUNTER, SYS_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, "
    "INPUT VOLTAGE, INPUT CURRENT, MAX LAMP INTEN, MIN LAMP INTEN, DC MEAN, DC STDDEV, KIRN "
    "SALINITY, KIRN NITRATE, FIT ERROR, DAT PIXEL BEG, DAT PIXEL END, PACKED HEX DATA, SW DC";
constexpr const char* kStopLines =
    "\nGot CTRL+Z - Terminating Sampling Thread\nThread Exit Code = 707\n";

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

// Console and log lines of a cycle in which everything succeeds, masked.
std::string GoodCycle(const std::string& n, bool console, bool ctd) {
  std::vector<std::string> lines = {n + (console ? ", Waking ZOL 0042, <T>" : ", Waking ZOL, <T>"),
                                    n + ", ZOL Wakeup OK, <T>"};
  if (ctd) {
    if (console) lines.push_back(n + ", Sampling CTD, <T>");
    lines.push_back(n + ", Get  CtdDat OK, <T>");
    lines.push_back(n + ", ParseCtdDat OK, 12.345, 15.1234, 33.5678, <T>");
    lines.push_back(n + ", Send CtdDat OK, <T>");
  } else {
    lines.push_back(n + ", Send UserTempSal OK, <T>");
  }
  if (console) lines.push_back(n + ", Sampling KIRN, <T>");
  lines.push_back(n + ", Take Sample OK, <T>");
  lines.push_back(n + ", Send Sample OK, <T>");
  if (console) lines.push_back(n + ", " + kRecord);
  lines.push_back(n + ", Enter Sleep OK, <T>");
  lines.push_back(n + ", Next Sample, <T>");
  lines.push_back("");
  return Lines(lines);
}

// The text from the first line that starts with `head` on.
std::string From(const std::string& text, const std::string& head) {
  const size_t at = text.find(head);
  return at == std::string::npos ? "(no " + head + ")" : text.substr(at);
}

// The stamp on the first line that starts with `head`.
std::string StampAfter(const std::string& text, const std::string& head) {
  const std::string rest = From(text, head);
  const std::vector<std::string> stamps = Stamps(rest.substr(0, rest.find('\n')));
  return stamps.empty() ? "(no stamp)" : stamps[0];
}

// The ZOL's bytes of one good cycle without a CTD; `sent` is the whole
// stream, from which the time handed over is taken.
std::string ZolCycleBytes(const std::string& ctdCommand) {
  return "WMODE,1ACK\r\nW" + ctdCommand + "ACK\r\nWTSWSLSLP";
}

std::vector<std::string> CtdCommands(const std::string& sent) {
  std::vector<std::string> out;
  const std::regex command("CTD,[0-9]+,[-0-9.]+,[-0-9.]+,[-0-9.]+");
  for (auto it = std::sregex_iterator(sent.begin(), sent.end(), command);
       it != std::sregex_iterator(); ++it)
    out.push_back(it->str());
  return out;
}

// A stamp read back as UTC seconds (the program runs with TZ=UTC).
int64_t SecondsOf(const std::string& stamp) {
  std::tm broken{};
  if (strptime(stamp.c_str(), "%a %b %d %H:%M:%S %Y", &broken) == nullptr) return -1;
  return timegm(&broken);
}

int64_t TimeOf(const std::string& ctdCommand) {
  return std::stoll(ctdCommand.substr(4));
}

class SamplerRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(zolLine.Ok());
    ASSERT_TRUE(ctdLine.Ok());
    zol.measureMs = 200;
    zolLine.Start([this](std::string_view command) {
      if (!closed) zol.Hear(command);
    });
    ctdLine.Start([this](std::string_view command) {
      if (!closed) ctd.Hear(command);
    });
  }
  // The lines' threads outlive the peers and the program (members go in
  // reverse order): from here on they hear nothing and touch neither.
  void TearDown() override {
    OnBothLines([&] {
      closed = true;
      app.reset();
    });
  }

  void Launch(const std::vector<std::string>& options) {
    std::vector<std::string> args = {ZOLSAMPLER_EXE};
    args.insert(args.end(), options.begin(), options.end());
    const std::map<std::string, std::string> env = {
        {"ZOLSAMPLER_COM1", zolLine.SlavePath()},
        {"ZOLSAMPLER_COM2", ctdLine.SlavePath()},
        {"TZ", "UTC"},
    };
    // The doubles' hooks use `app` on their own threads.
    OnBothLines([&] { app = std::make_unique<SamplerProcess>(args, env, dir.Path()); });
  }

  // Answers the whole start-up; true once the sampling thread is started.
  // `beforeSampling` runs after the configuration step, before the first cycle.
  bool StartSampling(bool withCtd, bool pump = false,
                     const std::function<void()>& beforeSampling = {}) {
    if (withCtd) {
      Launch({"-P", "1", "-B", "9600", "-p", "2", "-b", "9600"});
    } else {
      Launch({"-P", "1", "-B", "9600", "-p", "-1", "-b", "-1"});
    }
    const bool asked = app->Answer("Enter ZOL Serial Number", "42\r") &&
                       app->Answer("Enter ZOL Sample Rate in minutes", "1\r") &&
                       app->Answer("Enter ZOL Sample MODE: KIRN=1 PADO=2", "1\r");
    const bool water = withCtd ? app->Answer("CTD pump ON?", pump ? "y\r" : "n\r")
                               : app->Answer("Enter Solution Temperature", "\r") &&
                                     app->Answer("Enter Solution Salinity", "\r");
    if (!(asked && water && app->Answer("Sync ZOL RTC to PC?", "\r") &&
          app->Expect("Sync start of sampling to minute value?"))) {
      return false;
    }
    if (beforeSampling) beforeSampling();
    app->Type("\r");
    return true;
  }

  // CTRL+Z; true when the program ended with 0 and the terminal as it was.
  bool StopWith(const std::string& keys) {
    app->Type(keys);
    return Ended();
  }
  bool Ended() {
    const int status = app->Wait();
    EXPECT_TRUE(SameTerminalSettings(app->SettingsBefore(), app->SettingsNow()));
    return status == 0;
  }

  std::string File(const char* name) { return ReadFile(dir.File(name)); }
  std::string DataHeader() {
    return std::string("#ALL RECORDS\n") + kKirnColumns + "\n\n\nZOL CONFIG\nSN,0042\nFW,2.17\n";
  }
  // Runs `work` on the ZOL double's state.
  void OnZol(const std::function<void()>& work) { zolLine.Locked(work); }
  void OnBothLines(const std::function<void()>& work) {
    zolLine.Locked([&] { ctdLine.Locked(work); });
  }

  TempDir dir;
  PtyLine zolLine;
  PtyLine ctdLine;
  ZolPeer zol{zolLine.Sink(), SystemClock()};
  CtdPeer ctd{ctdLine.Sink()};
  std::unique_ptr<SamplerProcess> app;
  bool closed = false;  // guarded by both lines' locks
};

TEST_F(SamplerRunTest, WithoutCtdSamplesEveryPeriodWithAForcedCycleBetween) {
  ASSERT_TRUE(StartSampling(false));
  ASSERT_TRUE(app->Expect("001, Next Sample", 15000));
  app->Type("\x06");
  ASSERT_TRUE(app->Expect("002, Next Sample", 15000));
  ASSERT_TRUE(app->Expect("003, Next Sample", 75000));  // one period after the first
  ASSERT_TRUE(StopWith("\x1a"));

  const std::string console = app->Console();
  for (const char* heading :
       {"\n\n***ZOL Sampler Parameters***\n", "\n\n***Initializing Communications***\n",
        "\n***Getting ZOL and PC GMT Time***\n", "\n***Checking for Previous Log Files***\n",
        "\n***Getting KIRN Configuration Info***\n",
        "\n*** Starting Sample Thread ( Type CTRL+H for help )***\n"}) {
    EXPECT_NE(console.find(heading), std::string::npos) << heading;
  }
  EXPECT_EQ(MaskStamps(From(console, "001, Waking")),
            GoodCycle("001", true, false) + "\nGot CTRL+F - Force Sample\n" +
                GoodCycle("002", true, false) + GoodCycle("003", true, false) + kStopLines);
  // The forced cycle kept the schedule: same next sample, and the third
  // cycle one period after the first.
  EXPECT_EQ(StampAfter(console, "002, Next Sample"), StampAfter(console, "001, Next Sample"));
  EXPECT_LE(std::abs(SecondsOf(StampAfter(console, "003, Waking")) -
                     SecondsOf(StampAfter(console, "001, Next Sample"))),
            1);

  EXPECT_EQ(MaskStamps(File("ZOL0042_KIRN.log")), GoodCycle("001", false, false) +
                                                      GoodCycle("002", false, false) +
                                                      GoodCycle("003", false, false));
  EXPECT_EQ(File("ZOL0042_KIRN.dat"), DataHeader() + Lines({kRecord, kRecord, kRecord}));
  EXPECT_EQ(File("ZOL0042_KIRN_2.dat"), "");
  const std::string sent = zolLine.Received();
  const std::vector<std::string> handed = CtdCommands(sent);
  ASSERT_EQ(handed.size(), 3u);
  EXPECT_EQ(sent, "WRTC,?WMODE,1ACK\r\nWC" + ZolCycleBytes(handed[0]) + ZolCycleBytes(handed[1]) +
                      ZolCycleBytes(handed[2]));
  EXPECT_EQ(handed[0].substr(handed[0].find(',', 4)), ",20.0000,35.0000,-5.00");
  EXPECT_EQ(StampOf(TimeOf(handed[0])), StampAfter(console, "001, ZOL Wakeup OK"));
  EXPECT_EQ(ctdLine.Received(), "");
}

// A terminal in its default settings sends DEL for Backspace and escape
// sequences for the cursor keys: DEL corrects an answer and, at the command
// loop, shows the commands; a cursor or function key leaves no trace.
TEST_F(SamplerRunTest, TerminalBackspaceCorrectsAnswersAndCursorKeysLeaveNoTrace) {
  Launch({"-P", "1", "-B", "9600", "-p", "-1", "-b", "-1"});
  ASSERT_TRUE(app->Answer("Enter ZOL Serial Number",
                          "12\x7f"
                          "3\r"));
  ASSERT_TRUE(app->Answer("Enter ZOL Sample Rate in minutes", "\x1b[A1\x1b[D\x1bOP\r"));
  ASSERT_TRUE(app->Answer("Enter ZOL Sample MODE: KIRN=1 PADO=2", "1\r"));
  ASSERT_TRUE(app->Answer("Enter Solution Temperature",
                          "2\x1b[3~\x7f"
                          "12.5\r"));
  ASSERT_TRUE(app->Answer("Enter Solution Salinity", "\r"));
  ASSERT_TRUE(app->Answer("Sync ZOL RTC to PC?", "\r"));
  ASSERT_TRUE(app->Answer("Sync start of sampling to minute value?", "\r"));
  ASSERT_TRUE(app->Expect("001, Next Sample", 15000));
  app->Type("\x7f");
  ASSERT_TRUE(
      app->Expect("\nCommands: CTRL+F (Force Sample), CTRL+I (Interactive Mode), CTRL+Z (Exit)\n"));
  ASSERT_TRUE(StopWith("\x1a"));

  const std::string console = app->Console();
  for (const char* shown :
       {"Enter ZOL Serial Number [0] ? 12\b3\n", "Enter ZOL Sample Rate in minutes [2] ? 1\n",
        "Enter Solution Temperature [20.00] ? 2\b12.5\n", "001, Waking ZOL 0013, "}) {
    EXPECT_NE(console.find(shown), std::string::npos) << shown << "\nin:\n" << console;
  }
  EXPECT_EQ(console.find("Unrecognized"), std::string::npos);
  EXPECT_EQ(console.find('\x1b'), std::string::npos);
  EXPECT_EQ(File("ZOL0013_KIRN.dat").rfind("#ALL RECORDS\n", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(dir.File("ZOL0012_KIRN.log")));
  const std::vector<std::string> handed = CtdCommands(zolLine.Received());
  ASSERT_FALSE(handed.empty());
  EXPECT_EQ(handed[0].substr(handed[0].find(',', 4)), ",12.5000,35.0000,-5.00");
}

TEST_F(SamplerRunTest, WithCtdAndPumpSample) {
  OnZol([&] {
    int fetches = 0;
    zol.onCommand = [this, fetches](const std::string& command) mutable {
      if (command == "SL") zol.sampleRecord = ++fetches % 2 == 0 ? "PUMP RECORD" : kRecord;
    };
  });
  ASSERT_TRUE(StartSampling(true, true));
  ASSERT_TRUE(app->Expect("001, Next Sample", 20000));
  ASSERT_TRUE(StopWith("\x1a"));

  const std::string console = app->Console();
  EXPECT_EQ(
      MaskStamps(From(console, "001, Waking")),
      Lines({"001, Waking ZOL 0042, <T>", "001, ZOL Wakeup OK, <T>", "001, Sampling CTD, <T>",
             "001, Get  CtdDat OK, <T>", "001, ParseCtdDat OK, 12.345, 15.1234, 33.5678, <T>",
             "001, Send CtdDat OK, <T>", "001, Sampling KIRN, <T>", "001, Take Sample OK, <T>",
             "001, Send Sample OK, <T>", std::string("001, ") + kRecord, "001, CtdPump ON OK, <T>",
             "001, Sampling KIRN, <T>", "001, Take Sample OK, <T>", "001, Send Sample OK, <T>",
             "001, PUMP RECORD", "001, Enter Sleep OK, <T>", "001, CtdPump OFF OK, <T>",
             "001, Next Sample, <T>", ""}) +
          kStopLines);
  EXPECT_EQ(File("ZOL0042_KIRN.dat"), DataHeader() + Lines({kRecord}));
  EXPECT_EQ(File("ZOL0042_KIRN_2.dat"), "PUMP RECORD\n");
  EXPECT_EQ(ctdLine.Received(), "\rpts\rQS\r\rpumpon\r\rpumpoff\rQS\r");
  const std::string sent = zolLine.Received();
  const std::vector<std::string> handed = CtdCommands(sent);
  ASSERT_EQ(handed.size(), 1u);
  EXPECT_EQ(handed[0].substr(handed[0].find(',', 4)), ",15.1234,33.5678,12.35");
  EXPECT_EQ(From(sent, "WMODE,1ACK\r\nWCTD"),
            "WMODE,1ACK\r\nW" + handed[0] + "ACK\r\nWTSWSLWTSWSLSLP");
}

// One cycle that goes wrong, then CTRL+Z: what the log shows.
struct FailureCase {
  const char* name;
  bool withCtd;
  std::function<void(ZolPeer&, CtdPeer&)> arrange;  // once sampling has started
  std::vector<std::string> log;
  const char* consoleHas;
};

class SamplerFailureTest : public SamplerRunTest,
                           public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SamplerFailureTest, IsReportedAndSamplingGoesOn) {
  const FailureCase& c = GetParam();
  ASSERT_TRUE(StartSampling(c.withCtd, false, [&] { OnBothLines([&] { c.arrange(zol, ctd); }); }));
  ASSERT_TRUE(app->Expect("001, Next Sample", 60000));
  ASSERT_TRUE(StopWith("\x1a"));
  EXPECT_EQ(MaskStamps(File("ZOL0042_KIRN.log")), Lines(c.log));
  EXPECT_NE(app->Console().find(c.consoleHas), std::string::npos) << app->Console();
}

const FailureCase kFailures[] = {
    {"FailedWakeUp",
     false,
     [](ZolPeer& zol, CtdPeer&) { zol.silent = true; },
     {"001, Waking ZOL, <T>", "001, ZOL Wakeup ERROR, <T>", "001, Next Sample, <T>", ""},
     "001, ZOL Wakeup ERROR"},
    {"CtdSilence",
     true,
     [](ZolPeer&, CtdPeer& ctd) { ctd.silent = true; },
     {"001, Waking ZOL, <T>", "001, ZOL Wakeup OK, <T>", "001, Get  CtdDat ERROR, <T>",
      "001, Take Sample OK, <T>", "001, Send Sample OK, <T>", "001, Enter Sleep OK, <T>",
      "001, Next Sample, <T>", ""},
     "001, Sampling CTD"},
    {"TwoNumberCtdReply",
     true,
     [](ZolPeer&, CtdPeer& ctd) { ctd.dataLine = "12.345, 15.1234"; },
     {"001, Waking ZOL, <T>", "001, ZOL Wakeup OK, <T>", "001, Get  CtdDat OK, <T>",
      "001, ParseCtdDat ERROR, <T>", "001, Take Sample OK, <T>", "001, Send Sample OK, <T>",
      "001, Enter Sleep OK, <T>", "001, Next Sample, <T>", ""},
     "001, ParseCtdDat ERROR, rbuf= 12.345, 15.1234, "},
    {"RefusedEcho",
     false,
     [](ZolPeer& zol, CtdPeer&) {
       zol.ctdReply = [](const std::string& command) {
         return command.substr(0, command.rfind(',')) + ",-5.60";
       };
     },
     {"001, Waking ZOL, <T>", "001, ZOL Wakeup OK, <T>", "001, Send UserTempSal ERROR, <T>",
      "001, Take Sample OK, <T>", "001, Send Sample OK, <T>", "001, Enter Sleep OK, <T>",
      "001, Next Sample, <T>", ""},
     "NAK,CTD,PMatchErr -5.000000, -5.60\n001, Send UserTempSal ERROR"},
    {"FailedMeasurement",
     false,
     [](ZolPeer& zol, CtdPeer&) { zol.refuseSample = true; },
     {"001, Waking ZOL, <T>", "001, ZOL Wakeup OK, <T>", "001, Send UserTempSal OK, <T>",
      "001, Take Sample ERROR, <T>", "001, Next Sample, <T>", ""},
     "001, Sampling KIRN"},
};

INSTANTIATE_TEST_SUITE_P(Cycles, SamplerFailureTest, ::testing::ValuesIn(kFailures),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(SamplerRunTest, CtrlZDuringACycleLetsItFinish) {
  OnZol([&] {
    zol.onCommand = [this](const std::string& command) {
      if (command == "TS") app->Type("\x1a");
    };
  });
  ASSERT_TRUE(StartSampling(false));
  ASSERT_TRUE(Ended());
  const std::string console = app->Console();
  const size_t heading = console.find("\nGot CTRL+Z - Terminating Sampling Thread\n");
  const size_t next = console.find("001, Next Sample");
  const size_t exitCode = console.find("Thread Exit Code = 707\n");
  ASSERT_NE(heading, std::string::npos);
  EXPECT_LT(heading, next);
  EXPECT_LT(next, exitCode);
  EXPECT_EQ(File("ZOL0042_KIRN.dat"), DataHeader() + Lines({kRecord}));
}

TEST_F(SamplerRunTest, SigtermDuringACycleStopsInOrder) {
  OnZol([&] {
    zol.onCommand = [this](const std::string& command) {
      if (command == "TS") app->Signal(SIGTERM);
    };
  });
  ASSERT_TRUE(StartSampling(false));
  ASSERT_TRUE(Ended());
  const std::string console = app->Console();
  EXPECT_NE(console.find("\nGot SIGTERM - Terminating Sampling Thread\n"), std::string::npos);
  const std::string tail = "001, Next Sample";
  EXPECT_LT(console.find(tail), console.find("Thread Exit Code = 707\n"));
  EXPECT_EQ(MaskStamps(File("ZOL0042_KIRN.log")), GoodCycle("001", false, false));
}

TEST_F(SamplerRunTest, PassThroughTerminalThenSigtermWhileWaiting) {
  ASSERT_TRUE(StartSampling(false));
  ASSERT_TRUE(app->Expect("001, Next Sample", 15000));
  app->Type("\x08");
  ASSERT_TRUE(
      app->Expect("\nCommands: CTRL+F (Force Sample), CTRL+I (Interactive Mode), CTRL+Z (Exit)\n"));
  app->Type("\t");
  ASSERT_TRUE(app->Expect("\n*** Starting Command Mode ( Type CTRL+K to exit )***\n\n"));
  app->Type("W");
  ASSERT_TRUE(app->Expect("ACK\r\n"));  // the ZOL's own line end, untranslated
  app->Type("\x1a\x06\x7f");            // ordinary characters here; DEL is Backspace
  app->Type("\x0b");
  ASSERT_TRUE(app->Expect("\nGot CTRL+K - Exiting Command Mode\n"));
  app->Type("q");
  ASSERT_TRUE(app->Expect("Unrecognized Charater\n"));
  app->Signal(SIGTERM);
  ASSERT_TRUE(Ended());
  EXPECT_NE(app->Console().find("\nGot SIGTERM - Terminating Sampling Thread\n"
                                "Thread Exit Code = 707\n"),
            std::string::npos);
  EXPECT_NE(zolLine.Received().find("SLPW\x1a\x06\x08"), std::string::npos);
}

TEST_F(SamplerRunTest, ConsoleHangupLeavesSamplingRunning) {
  ASSERT_TRUE(StartSampling(false));
  ASSERT_TRUE(app->Expect("001, Next Sample", 15000));
  app->Signal(SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // taken by now
  app->Type("\x06");                                            // still obeyed, no longer shown
  ASSERT_TRUE(StopWith("\x1a"));
  EXPECT_EQ(app->Console().find("002,"), std::string::npos);
  EXPECT_EQ(CtdCommands(zolLine.Received()).size(), 2u);
  EXPECT_NE(File("ZOL0042_KIRN.log").find("002, Next Sample"), std::string::npos);
}

TEST_F(SamplerRunTest, DialogueRangeErrorsEndWithStatusZero) {
  struct Case {
    std::vector<std::pair<const char*, const char*>> answers;
    const char* message;
  };
  const Case cases[] = {
      {{{"Serial Number", "\r"}}, "\n\nError, ZOL Serial Number Range = [1,9999]\n"},
      {{{"Serial Number", "42\r"}, {"Sample Rate", "1441\r"}},
       "\n\nError, Sample Rate Range = [1,1440] minutes\n"},
      {{{"Serial Number", "42\r"}, {"Sample Rate", "1\r"}, {"MODE", "3\r"}},
       "\n\nError, Sample Mode Range = [1,2]\n"},
      {{{"Serial Number", "42\r"},
        {"Sample Rate", "1\r"},
        {"MODE", "1\r"},
        {"Temperature", "40.01\r"}},
       "Error, Solution Temp Range = [0.0,40.0] degC\n"},
  };
  for (const Case& c : cases) {
    Launch({"-P", "1", "-B", "9600", "-p", "-1", "-b", "-1"});
    for (const auto& [prompt, keys] : c.answers)
      ASSERT_TRUE(app->Answer(prompt, keys));
    ASSERT_TRUE(app->Expect(c.message)) << app->Console();
    EXPECT_TRUE(Ended()) << c.message;
    EXPECT_EQ(app->Console().find("Initializing Communications"), std::string::npos);
  }
  EXPECT_EQ(zolLine.Received(), "");
}

}  // namespace
}  // namespace zol::test
