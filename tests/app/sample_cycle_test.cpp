// One sample cycle against the scripted ZOL and CTD: the console lines, the
// log file, the data files and the bytes on both lines, for every order of
// steps and every failure the cycle reports.
#include "app/sample_cycle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/sampler_state.h"
#include "cycle_fixture.h"
#include "support/process_usage.h"

namespace zol::test {
namespace {

constexpr const char* kRecord = "1A2B, ZOL0042, 2024/01/15 12:35:00, 1705322100, 12.35";

// Lines joined with their line ends.
std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

// Stamp of the first line that starts with `head`.
std::string StampOfLine(const std::string& text, const std::string& head) {
  const size_t at = text.find(head);
  if (at == std::string::npos) return "(no line " + head + ")";
  const size_t end = text.find('\n', at);
  const std::vector<std::string> stamps = Stamps(text.substr(at, end - at));
  return stamps.empty() ? "(no stamp)" : stamps.back();
}

size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}

// Blocks of lines that many cycles share.
const std::string kRecordLine = std::string("001, ") + kRecord + "\n";
const std::string kWokenConsole = Lines({"001, Waking ZOL 0042, <T>", "001, ZOL Wakeup OK, <T>"});
const std::string kWokenLog = Lines({"001, Waking ZOL, <T>", "001, ZOL Wakeup OK, <T>"});
const std::string kCtdConsole =
    Lines({"001, Sampling CTD, <T>", "001, Get  CtdDat OK, <T>",
           "001, ParseCtdDat OK, 12.345, 15.1234, 33.5678, <T>", "001, Send CtdDat OK, <T>"});
const std::string kCtdLog =
    Lines({"001, Get  CtdDat OK, <T>", "001, ParseCtdDat OK, 12.345, 15.1234, 33.5678, <T>",
           "001, Send CtdDat OK, <T>"});
const std::string kSampleConsole =
    Lines({"001, Sampling KIRN, <T>", "001, Take Sample OK, <T>", "001, Send Sample OK, <T>"}) +
    kRecordLine;
const std::string kSampleLog = Lines({"001, Take Sample OK, <T>", "001, Send Sample OK, <T>"});
const std::string kSleep = Lines({"001, Enter Sleep OK, <T>"});
const std::string kEnd = Lines({"001, Next Sample, <T>", ""});

using SampleCycleTest = CycleFixture;

TEST_F(SampleCycleTest, WithoutCtdTheOperatorValuesGoToTheZol) {
  const int64_t entry = State().nowTime;
  SampleCycle();

  const std::string console = rig.console.Text();
  EXPECT_EQ(MaskStamps(console), kWokenConsole + Lines({"001, Send UserTempSal OK, <T>"}) +
                                     kSampleConsole + kSleep + kEnd);
  EXPECT_EQ(MaskStamps(Log()),
            kWokenLog + Lines({"001, Send UserTempSal OK, <T>"}) + kSampleLog + kSleep + kEnd);
  EXPECT_EQ(Dat(), std::string(kRecord) + "\n");
  EXPECT_EQ(Dat2(), "");

  // The Waking line keeps the stamp it was given; Next Sample shows the schedule.
  EXPECT_EQ(StampOfLine(console, "001, Waking"), StampOf(entry));
  EXPECT_EQ(StampOfLine(console, "001, Next Sample"), StampOf(State().nextSampleTime));
  // The ZOL gets the time of the wake-up line, 20, 35 and the fixed -5.00.
  const auto sent = std::find_if(zol.commands.begin(), zol.commands.end(),
                                 [](const std::string& c) { return c.rfind("CTD,", 0) == 0; });
  ASSERT_NE(sent, zol.commands.end());
  const std::string values = sent->substr(sent->find(',', 4));
  EXPECT_EQ(values, ",20.0000,35.0000,-5.00");
  const int64_t handed = std::stoll(sent->substr(4));
  EXPECT_EQ(StampOf(handed), StampOfLine(console, "001, ZOL Wakeup OK"));
  EXPECT_EQ(rig.serial.Sent(kZolPort), "WMODE,1ACK\r\nW" + *sent + "ACK\r\nWTSWSLSLP");
  const std::vector<std::string> log = rig.serial.Log(kZolPort);
  EXPECT_LT(std::find(log.begin(), log.end(), "break:A") - log.begin(),
            std::find(log.begin(), log.end(), "tx:W") - log.begin());
}

TEST_F(SampleCycleTest, WithCtdItsValuesGoToTheZol) {
  UseCtd(false);
  SampleCycle();

  const std::string console = rig.console.Text();
  EXPECT_EQ(MaskStamps(console), kWokenConsole + kCtdConsole + kSampleConsole + kSleep + kEnd);
  EXPECT_EQ(MaskStamps(Log()), kWokenLog + kCtdLog + kSampleLog + kSleep + kEnd);
  EXPECT_EQ(Dat(), std::string(kRecord) + "\n");
  EXPECT_EQ(rig.serial.Sent(kCtdPort), "\rpts\rQS\r");
  // Time of the parse, temperature, salinity, then the pressure rounded.
  const std::string command = "CTD," + std::to_string(State().ctdTime) + ",15.1234,33.5678,12.35";
  EXPECT_EQ(rig.serial.Sent(kZolPort), "WMODE,1ACK\r\nW" + command + "ACK\r\nWTSWSLSLP");
  EXPECT_EQ(StampOfLine(console, "001, ParseCtdDat OK"), StampOf(State().ctdTime));
}

TEST_F(SampleCycleTest, PumpSampleGoesToTheSecondDataFile) {
  UseCtd(true);
  int fetches = 0;
  zol.onCommand = [&](const std::string& command) {
    if (command == "SL" && ++fetches == 2) zol.sampleRecord = "PUMP RECORD";
  };
  SampleCycle();

  EXPECT_EQ(MaskStamps(rig.console.Text()),
            kWokenConsole + kCtdConsole + kSampleConsole +
                Lines({"001, CtdPump ON OK, <T>", "001, Sampling KIRN, <T>"}) + kSampleLog +
                Lines({"001, PUMP RECORD"}) + kSleep + Lines({"001, CtdPump OFF OK, <T>"}) + kEnd);
  EXPECT_EQ(MaskStamps(Log()), kWokenLog + kCtdLog + kSampleLog +
                                   Lines({"001, CtdPump ON OK, <T>"}) + kSampleLog + kSleep +
                                   Lines({"001, CtdPump OFF OK, <T>"}) + kEnd);
  EXPECT_EQ(Dat(), std::string(kRecord) + "\n");
  EXPECT_EQ(Dat2(), "PUMP RECORD\n");
  // One sleep command, after the second sample.
  const std::string zolSent = rig.serial.Sent(kZolPort);
  EXPECT_EQ(CountOf(zolSent, "SLP"), 1u);
  EXPECT_EQ(zolSent.substr(zolSent.size() - 3), "SLP");
  EXPECT_EQ(rig.serial.Sent(kCtdPort), "\rpts\rQS\r\rpumpon\r\rpumpoff\rQS\r");
}

TEST_F(SampleCycleTest, FailedWakeUpEndsTheCycleWithThreeLogLines) {
  zol.silent = true;
  SampleCycle();
  EXPECT_EQ(MaskStamps(Log()),
            Lines({"001, Waking ZOL, <T>", "001, ZOL Wakeup ERROR, <T>"}) + kEnd);
  EXPECT_EQ(MaskStamps(rig.console.Text()),
            Lines({"001, Waking ZOL 0042, <T>", "001, ZOL Wakeup ERROR, <T>"}) + kEnd);
  EXPECT_EQ(Dat(), "");
  EXPECT_EQ(rig.serial.Sent(kZolPort), std::string(10, 'W'));
}

TEST_F(SampleCycleTest, UnknownModeFailsTheWakeWithoutAnExchange) {
  for (uint16_t mode : {0, 3}) {
    State().sampleMode = mode;
    SampleCycle();
  }
  EXPECT_EQ(rig.serial.Sent(kZolPort), "");
  EXPECT_EQ(CountOf(rig.console.Text(), "ZOL Wakeup ERROR"), 2u);
}

TEST_F(SampleCycleTest, PadoModeIsSelectedAndNamed) {
  State().sampleMode = 2;
  SampleCycle();
  EXPECT_EQ(rig.serial.Sent(kZolPort).substr(0, 7), "WMODE,2");
  EXPECT_NE(MaskStamps(rig.console.Text()).find("001, Sampling PADO, <T>\n"), std::string::npos);
}

TEST_F(SampleCycleTest, SilentCtdMeansMeasurementWithoutValues) {
  UseCtd(false);
  ctd->silent = true;
  SampleCycle();
  EXPECT_EQ(MaskStamps(Log()),
            kWokenLog + Lines({"001, Get  CtdDat ERROR, <T>"}) + kSampleLog + kSleep + kEnd);
  EXPECT_EQ(rig.serial.Sent(kZolPort).find("CTD,"), std::string::npos);
  EXPECT_EQ(Dat(), std::string(kRecord) + "\n");
}

TEST_F(SampleCycleTest, TwoNumberCtdReplyIsShownOnTheConsoleOnly) {
  UseCtd(false);
  ctd->dataLine = "12.345, 15.1234";
  SampleCycle();
  const std::string console = MaskStamps(rig.console.Text());
  EXPECT_NE(console.find("001, Get  CtdDat OK, <T>\n"
                         "001, ParseCtdDat ERROR, rbuf= 12.345, 15.1234, <T>\n"
                         "001, Sampling KIRN, <T>\n"),
            std::string::npos)
      << console;
  EXPECT_EQ(MaskStamps(Log()),
            kWokenLog + Lines({"001, Get  CtdDat OK, <T>", "001, ParseCtdDat ERROR, <T>"}) +
                kSampleLog + kSleep + kEnd);
}

TEST_F(SampleCycleTest, RefusedEchoIsReportedAndTheSampleStillTaken) {
  zol.ctdReply = [](const std::string& command) {
    std::string echo = command;
    echo.replace(echo.find("20.0000"), 7, "21.0000");
    return echo;
  };
  SampleCycle();
  const std::string console = MaskStamps(rig.console.Text());
  EXPECT_NE(console.find("001, ZOL Wakeup OK, <T>\n"
                         "NAK,CTD,TMatchErr 20.000000, 21.0000\n"
                         "001, Send UserTempSal ERROR, <T>\n"
                         "001, Sampling KIRN, <T>\n"
                         "001, Take Sample OK, <T>\n"),
            std::string::npos)
      << console;
  EXPECT_NE(Log().find("Send UserTempSal ERROR"), std::string::npos);
  EXPECT_NE(rig.serial.Sent(kZolPort).find("-5.00NAK\r\n"), std::string::npos);
  EXPECT_EQ(Dat(), std::string(kRecord) + "\n");
}

TEST_F(SampleCycleTest, FailedMeasurementEndsTheCycleWithoutSleep) {
  zol.refuseSample = true;
  SampleCycle();
  EXPECT_EQ(
      MaskStamps(Log()),
      kWokenLog + Lines({"001, Send UserTempSal OK, <T>", "001, Take Sample ERROR, <T>"}) + kEnd);
  const std::string sent = rig.serial.Sent(kZolPort);
  EXPECT_EQ(sent.substr(sent.size() - 3), "WTS");
  EXPECT_EQ(Dat(), "");
}

TEST_F(SampleCycleTest, FailedFirstMeasurementStillTakesThePumpSample) {
  UseCtd(true);
  zol.refuseSample = true;
  SampleCycle();
  EXPECT_EQ(MaskStamps(Log()), kWokenLog + kCtdLog +
                                   Lines({"001, Take Sample ERROR, <T>", "001, CtdPump ON OK, <T>",
                                          "001, CtdPump OFF OK, <T>"}) +
                                   kEnd);
  EXPECT_EQ(CountOf(rig.serial.Sent(kZolPort), "SLP"), 0u);
  EXPECT_EQ(Dat(), "");
  EXPECT_EQ(Dat2(), "");
}

TEST_F(SampleCycleTest, FailedPumpOnEndsTheCycleWithoutSleepOrPumpOff) {
  UseCtd(true);
  zol.onCommand = [&](const std::string& command) {
    if (command == "TS") ctd->silent = true;
  };
  SampleCycle();
  EXPECT_EQ(MaskStamps(Log()),
            kWokenLog + kCtdLog + kSampleLog + Lines({"001, CtdPump ON ERROR, <T>"}) + kEnd);
  EXPECT_EQ(CountOf(rig.serial.Sent(kZolPort), "SLP"), 0u);
  EXPECT_EQ(rig.serial.Sent(kCtdPort).find("pump"), std::string::npos);
  EXPECT_EQ(Dat(), std::string(kRecord) + "\n");
}

TEST_F(SampleCycleTest, FailedSecondMeasurementGoesStraightToPumpOff) {
  UseCtd(true);
  int measurements = 0;
  zol.onCommand = [&](const std::string& command) {
    if (command == "TS" && ++measurements == 2) zol.refuseSample = true;
  };
  SampleCycle();
  EXPECT_NE(MaskStamps(Log()).find("001, CtdPump ON OK, <T>\n"
                                   "001, CtdPump OFF OK, <T>\n"
                                   "001, Next Sample, <T>\n\n"),
            std::string::npos);
  EXPECT_EQ(CountOf(rig.serial.Sent(kZolPort), "SLP"), 0u);
  EXPECT_EQ(Dat(), std::string(kRecord) + "\n");
  EXPECT_EQ(Dat2(), "");
}

TEST_F(SampleCycleTest, CounterAbove999KeepsAllItsDigits) {
  State().sampleCount = 999;
  zol.silent = true;
  SampleCycle();
  EXPECT_EQ(MaskStamps(Log()), Lines({"1000, Waking ZOL, <T>", "1000, ZOL Wakeup ERROR, <T>",
                                      "1000, Next Sample, <T>", ""}));
}

TEST_F(SampleCycleTest, LogThatCannotBeOpenedLeavesConsoleAndDataFile) {
  SetPath(State().logPath, dir.Path());  // a directory: opening it fails
  SampleCycle();
  // The cycle's lines, then the report of the lost log.
  EXPECT_EQ(CountOf(rig.console.Text(), "\n"), 11u);
  EXPECT_NE(rig.console.Text().find("Enter Sleep OK"), std::string::npos);
  EXPECT_NE(rig.console.Text().find("\nERROR Opening Log File " + dir.Path() + ": "),
            std::string::npos);
  EXPECT_EQ(Dat(), std::string(kRecord) + "\n");
}

TEST_F(SampleCycleTest, RecordThatCannotBeStoredIsReported) {
  SetPath(State().datPath, dir.Path());
  SampleCycle();
  const std::string report = std::string("001, ") + kRecord + "\n001, Store Sample ERROR, <T>\n";
  EXPECT_NE(MaskStamps(rig.console.Text()).find(report), std::string::npos);
  EXPECT_NE(MaskStamps(Log()).find("001, Send Sample OK, <T>\n001, Store Sample ERROR, <T>\n"),
            std::string::npos);
}

TEST_F(SampleCycleTest, CyclesAppendToTheirFiles) {
  for (int i = 0; i < 3; ++i)
    SampleCycle();
  EXPECT_EQ(Dat(), Lines({kRecord, kRecord, kRecord}));
  const std::string log = Log();
  EXPECT_EQ(CountOf(log, "Waking ZOL"), 3u);
  EXPECT_NE(log.find("003, Next Sample"), std::string::npos);
}

TEST_F(SampleCycleTest, NoFileStaysOpenBetweenCycles) {
  UseCtd(true);
  const int before = OpenDescriptors();
  zol.silent = true;
  for (int i = 0; i < 25; ++i)
    SampleCycle();
  zol.silent = false;
  SampleCycle();
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(State().logFile, nullptr);
  EXPECT_EQ(State().datFile, nullptr);
  EXPECT_EQ(State().dat2File, nullptr);
  EXPECT_EQ(State().sampleCount, 26u);
}

}  // namespace
}  // namespace zol::test
