// The real zolsampler on a pseudo-terminal console against the real zolsim:
// the simulator's links live in the test's own directory, the sampler works
// there too, and the simulator is bound to the sampler's life, so a run that
// ends leaves nothing behind. Helpers read the step lines of one cycle out of
// the console or the log with the time stamps, the CTD values and the sample
// records masked, so whole cycles compare as text.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "sim/sim_process.h"
#include "support/sampler_process.h"
#include "support/stamps.h"
#include "support/temp_dir.h"

namespace zol::test {

inline constexpr int kSimStartMs = 5000;
// A good cycle takes a few seconds with one-second measurements; waits for
// one allow for a loaded machine.
inline constexpr int kCycleMs = 30000;

struct RunSetup {
  std::vector<std::string> simOptions;  // faults, kind... beyond links, seed and measure time
  bool withCtd = true;
  bool pump = false;
  int mode = 1;  // 1 KIRN, 2 PADO
  // The text of an answers file for an unattended start; none when empty.
  std::string answers;
  bool keyboard = true;  // false: standard input is /dev/null
};

inline std::string KindName(int mode) {
  return mode == 1 ? "KIRN" : "PADO";
}

inline std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines)
    text += line + "\n";
  return text;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// A sample record of the simulated ZOL: "CRC, ZOL0042, ..." (it may carry
// padding after its fields).
inline bool IsRecord(const std::string& text) {
  static const std::regex start("[0-9A-F]{4}, ZOL[0-9]{4}, .*");
  return std::regex_match(text, start);
}

// CRC-16/CCITT-FALSE over the text after the CRC field: a record whose check
// holds reached the file byte for byte as the instrument made it.
inline bool RecordIntact(const std::string& record) {
  if (record.size() < 6) return false;
  uint16_t crc = 0xFFFF;
  for (unsigned char byte : record.substr(6)) {
    crc ^= static_cast<uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                : static_cast<uint16_t>(crc << 1);
  }
  char hex[8];
  std::snprintf(hex, sizeof hex, "%04X", crc);
  return record.compare(0, 4, hex) == 0;
}

// The record's comma-separated fields.
inline std::vector<std::string> RecordFields(const std::string& record) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t end; (end = record.find(", ", start)) != std::string::npos; start = end + 2)
    fields.push_back(record.substr(start, end - start));
  fields.push_back(record.substr(start));
  return fields;
}

// Step lines with what changes from run to run masked: the stamps as <T>,
// the CTD values as <values> and the CTD reply that could not be parsed as
// <reply>.
inline std::string MaskSteps(const std::string& text) {
  static const std::regex values("ParseCtdDat OK, [-0-9.]+, [-0-9.]+, [-0-9.]+,");
  static const std::regex reply("ParseCtdDat ERROR, rbuf= .*, <T>");
  const std::string masked =
      std::regex_replace(MaskStamps(text), values, "ParseCtdDat OK, <values>,");
  return std::regex_replace(masked, reply, "ParseCtdDat ERROR, rbuf= <reply>, <T>");
}

// The step lines of cycle `n` ("001, ..."), in order and masked, with sample
// records shown as <record>.
inline std::string CycleSteps(const std::string& text, int n) {
  char head[16];
  std::snprintf(head, sizeof head, "%03d, ", n);
  std::string out;
  for (const std::string& line : SplitLines(text)) {
    if (line.rfind(head, 0) != 0) continue;
    const std::string rest = line.substr(5);
    out += head + (IsRecord(rest) ? "<record>" : MaskSteps(rest)) + "\n";
  }
  return out;
}

// The records of cycle `n` shown on the console, in order.
inline std::vector<std::string> CycleRecords(const std::string& console, int n) {
  char head[16];
  std::snprintf(head, sizeof head, "%03d, ", n);
  std::vector<std::string> records;
  for (const std::string& line : SplitLines(console)) {
    if (line.rfind(head, 0) == 0 && IsRecord(line.substr(5))) records.push_back(line.substr(5));
  }
  return records;
}

// The stamp on the first line that starts with `head`.
inline std::string StampOn(const std::string& text, const std::string& head) {
  const size_t at = text.find(head);
  if (at == std::string::npos) return "(no " + head + ")";
  const std::vector<std::string> stamps = Stamps(text.substr(at, text.find('\n', at) - at));
  return stamps.empty() ? "(no stamp)" : stamps[0];
}

// A stamp read back as UTC seconds (the sampler runs with TZ=UTC).
inline int64_t SecondsOf(const std::string& stamp) {
  std::tm broken{};
  if (strptime(stamp.c_str(), "%a %b %d %H:%M:%S %Y", &broken) == nullptr) return -1;
  return timegm(&broken);
}

// Expected step lines of one cycle: `steps` in their console form, numbered
// `n`. The log form leaves out the console-only lines and the serial number
// of the Waking line. Every cycle ends with its Next Sample line and an empty
// line; CycleSteps drops the empty line, LogCycle keeps it.
inline std::string ConsoleCycle(int n, const std::vector<std::string>& steps) {
  char head[16];
  std::snprintf(head, sizeof head, "%03d, ", n);
  std::string out;
  for (const std::string& step : steps)
    out += head + step + "\n";
  return out;
}

inline std::string LogCycle(int n, const std::vector<std::string>& steps) {
  std::vector<std::string> logged;
  for (const std::string& step : steps) {
    if (step.rfind("Sampling ", 0) == 0 || step == "<record>") continue;
    if (step.rfind("Waking ZOL ", 0) == 0) {
      logged.push_back("Waking ZOL, <T>");
    } else if (step.rfind("ParseCtdDat ERROR, rbuf= ", 0) == 0) {
      logged.push_back("ParseCtdDat ERROR, <T>");
    } else {
      logged.push_back(step);
    }
  }
  return ConsoleCycle(n, logged) + "\n";
}

// The console steps of a cycle in which everything succeeds.
inline std::vector<std::string> GoodSteps(const RunSetup& setup) {
  const std::string sampling = "Sampling " + KindName(setup.mode) + ", <T>";
  std::vector<std::string> steps = {"Waking ZOL 0042, <T>", "ZOL Wakeup OK, <T>"};
  if (setup.withCtd) {
    steps.insert(steps.end(), {"Sampling CTD, <T>", "Get  CtdDat OK, <T>",
                               "ParseCtdDat OK, <values>, <T>", "Send CtdDat OK, <T>"});
  } else {
    steps.push_back("Send UserTempSal OK, <T>");
  }
  steps.insert(steps.end(), {sampling, "Take Sample OK, <T>", "Send Sample OK, <T>", "<record>"});
  if (setup.withCtd && setup.pump) {
    steps.insert(steps.end(),
                 {"CtdPump ON OK, <T>", sampling, "Take Sample OK, <T>", "Send Sample OK, <T>",
                  "<record>", "Enter Sleep OK, <T>", "CtdPump OFF OK, <T>"});
  } else {
    steps.push_back("Enter Sleep OK, <T>");
  }
  steps.push_back("Next Sample, <T>");
  return steps;
}

inline bool PathExists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

class SimRunTest : public ::testing::Test {
 protected:
  // Starts the sampler in the test's directory and zolsim; true once both
  // run and the simulator's devices are ready. The links must exist before
  // the sampler opens its ports: an attended sampler does so only after the
  // dialogue, so the simulator, bound to its life, follows it; an unattended
  // one does so at once, so the simulator comes first and is stopped by
  // ExpectEndedWith.
  bool Launch(const RunSetup& setup) {
    setup_ = setup;
    if (setup.answers.empty()) return StartSampler() && StartSimulator(app->Pid());
    return WriteAnswers(setup.answers) && StartSimulator(-1) && StartSampler();
  }

  bool StartSampler() {
    const std::vector<std::string> ports = setup_.withCtd
                                               ? std::vector<std::string>{"-p", "2", "-b", "9600"}
                                               : std::vector<std::string>{"-p", "-1", "-b", "-1"};
    std::vector<std::string> args = runAs;
    args.insert(args.end(), {ZOLSAMPLER_EXE, "-P", "1", "-B", "9600"});
    args.insert(args.end(), ports.begin(), ports.end());
    std::map<std::string, std::string> env = {
        {"ZOLSAMPLER_COM1", ZolLink()}, {"ZOLSAMPLER_COM2", CtdLink()}, {"TZ", "UTC"}};
    env.insert(samplerEnv.begin(), samplerEnv.end());
    if (!setup_.answers.empty()) env["ZOLSAMPLER_ANSWERS"] = AnswersPath();
    app = std::make_unique<SamplerProcess>(args, env, dir.Path(), setup_.keyboard);
    return app->Pid() > 0;
  }

  // `samplerPid` > 0: the simulator ends when that process has ended.
  bool StartSimulator(pid_t samplerPid) {
    const RunSetup& setup = setup_;
    std::vector<std::string> simArgs = {"--zol-link", ZolLink(),           "--seed",
                                        "7",          "--measure-seconds", "1"};
    simStopsAlone_ = samplerPid > 0;
    if (simStopsAlone_)
      simArgs.insert(simArgs.end(), {"--exit-with-pid", std::to_string(samplerPid)});
    if (setup.withCtd) {
      simArgs.insert(simArgs.end(), {"--ctd-link", CtdLink()});
    } else {
      simArgs.push_back("--no-ctd");
    }
    if (setup.mode == 2) simArgs.insert(simArgs.end(), {"--kind", "PADO"});
    simArgs.insert(simArgs.end(), setup.simOptions.begin(), setup.simOptions.end());
    if (!runAs.empty()) {
      simArgs.insert(simArgs.begin(), ZOLSIM_EXE);
      simArgs.insert(simArgs.begin(), runAs.begin() + 1, runAs.end());
    }
    sim = std::make_unique<sim::test::ChildProcess>(runAs.empty() ? ZOLSIM_EXE : runAs[0], simArgs);
    if (!sim->Started() || sim->ReadLine(kSimStartMs) != "ZOLSAMPLER_COM1=" + ZolLink())
      return false;
    return !setup.withCtd || sim->ReadLine(kSimStartMs) == "ZOLSAMPLER_COM2=" + CtdLink();
  }

  // The dialogue up to the clock question (answered: keep the ZOL's clock).
  bool AnswerParameters() {
    const bool asked =
        app->Answer("Enter ZOL Serial Number", "42\r") &&
        app->Answer("Enter ZOL Sample Rate in minutes", "1\r") &&
        app->Answer("Enter ZOL Sample MODE: KIRN=1 PADO=2", std::to_string(setup_.mode) + "\r");
    const bool water = setup_.withCtd ? app->Answer("CTD pump ON?", setup_.pump ? "y\r" : "n\r")
                                      : app->Answer("Enter Solution Temperature", "\r") &&
                                            app->Answer("Enter Solution Salinity", "\r");
    // The clock step waits for the ZOL: up to ten wake-ups of 2 s each.
    return asked && water && app->Answer("Sync ZOL RTC to PC?", "\r", 60000);
  }

  // The whole start-up; true once the sampling thread runs.
  bool StartSampling(const RunSetup& setup) {
    return Launch(setup) && AnswerParameters() &&
           app->Answer("Sync start of sampling to minute value?", "\r", 60000);
  }

  // The start-up, the first (scheduled) cycle and, when `forced`, a second
  // cycle forced with CTRL+F; true once the last of them has ended.
  bool RunCycles(const RunSetup& setup, bool forced = true, int cycleMs = kCycleMs) {
    if (!StartSampling(setup) || !CycleEnded(1, cycleMs)) return false;
    if (!forced) return true;
    app->Type("\x06");
    return CycleEnded(2, cycleMs);
  }

  // CTRL+Z: status 0, the terminal as it was, and the simulator gone with
  // the sampler, its links removed.
  void StopSampling() {
    app->Type("\x1a");
    ExpectEndedWith(0);
    EXPECT_NE(app->Console().find("\nGot CTRL+Z - Terminating Sampling Thread\n"
                                  "Thread Exit Code = 707\n"),
              std::string::npos)
        << app->Console();
  }

  void ExpectEndedWith(int status) {
    EXPECT_EQ(app->Wait(60000), status) << app->Console();
    EXPECT_TRUE(SameTerminalSettings(app->SettingsBefore(), app->SettingsNow()));
    EXPECT_EQ(simStopsAlone_ ? sim->WaitExit(kSimStartMs) : sim->Stop(), 0) << sim->Errors();
    EXPECT_FALSE(PathExists(ZolLink()));
    EXPECT_FALSE(PathExists(CtdLink()));
  }

  // Waits for the end of cycle `n`.
  bool CycleEnded(int n, int timeoutMs = kCycleMs) {
    char line[32];
    std::snprintf(line, sizeof line, "%03d, Next Sample, ", n);
    return app->Expect(line, timeoutMs);
  }

  std::string FileName(const char* suffix) const {
    return "ZOL0042_" + KindName(setup_.mode) + suffix;
  }
  std::string Read(const char* suffix) const { return ReadFile(dir.File(FileName(suffix))); }
  bool Exists(const char* suffix) const { return PathExists(dir.File(FileName(suffix))); }

  std::string Header() const {
    static const char* const kColumns[] = {
        "CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
        "COUNTER, KIRN_ERROR COUNTER, SYS_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, "
        "INPUT VOLTAGE, INPUT CURRENT, MAX LAMP INTEN, MIN LAMP INTEN, DC MEAN, DC STDDEV, KIRN "
        "SALINITY, KIRN NITRATE, FIT ERROR, DAT PIXEL BEG, DAT PIXEL END, PACKED HEX DATA, SW DC",
        "CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
        "COUNTER, PADO_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, INPUT VOLTAGE, INPUT "
        "CURRENT, FOOBAR PH VALUE, BACKUP BATTERY, VRS VOLTS, VRS STDDEV, VK VOLTS, VK STDDEV, IK "
        "AMPS, IB AMPS"};
    return std::string("#ALL RECORDS\n") + kColumns[setup_.mode - 1] + "\n\n\n";
  }

  // The configuration block of the data file: checks it against what the
  // console reported and the simulated ZOL's identity, and returns it.
  std::string ConfigBlock(const std::string& data) {
    const std::string header = Header();
    if (data.compare(0, header.size(), header) != 0) return "(no header)";
    std::string block;
    for (const std::string& line : SplitLines(data.substr(header.size()))) {
      if (line.rfind("CFG,", 0) != 0) break;
      block += line + "\n";
    }
    const size_t lines = SplitLines(block).size();
    EXPECT_NE(
        app->Console().find("\n" + std::to_string(lines - 1) + " Configuration Records Received\n"),
        std::string::npos)
        << block;
    for (const std::string& expected :
         {std::string("CFG,SERIAL NUMBER,0042\n"), "CFG,SENSOR," + KindName(setup_.mode) + "\n",
          "CFG,SAMPLE MODE," + std::to_string(setup_.mode) + "\n"})
      EXPECT_NE(block.find(expected), std::string::npos) << expected;
    return block;
  }

  std::string AnswersPath() const { return dir.File("zol.answers"); }
  bool WriteAnswers(const std::string& text) const { return WriteFile(AnswersPath(), text); }

  std::string ZolLink() const { return dir.File("zol"); }
  std::string CtdLink() const { return dir.File("ctd"); }

  TempDir dir;
  // The sampler's environment beyond its ports and zone.
  std::map<std::string, std::string> samplerEnv;
  // A command both programs run under (a change of user), none when empty.
  std::vector<std::string> runAs;
  RunSetup setup_;
  bool simStopsAlone_ = true;
  std::unique_ptr<SamplerProcess> app;
  std::unique_ptr<sim::test::ChildProcess> sim;
};

}  // namespace zol::test
