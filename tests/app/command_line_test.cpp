// The command line as the operator meets it: the built program is run with
// its words, and its output, standard error and exit status are compared
// byte for byte. Every port index is mapped to a path that does not exist
// unless a test gives it a pseudo-terminal, so no real device is touched.
#include <gtest/gtest.h>
#include <termios.h>

#include <signal.h>

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/sampler_state.h"
#include "support/pty_pair.h"
#include "support/run_program.h"
#include "support/sampler_process.h"
#include "support/temp_dir.h"

namespace zol::test {
namespace {

const std::string kUsage =
    "Usage: zolsampler -P ZOL_Port -B ZOL_Baud -p CTD_port -b CTD_baud | -l | -v\n"
    "Example with    CTD: zolsampler -P 1 -B 9600 -p 2 -b 9600\n"
    "Example without CTD: zolsampler -P 1 -B 9600 -p -1 -b -1\n";
const std::string kServiceStart =
    "Win64 WSC Version 1.0.0 (Build 1)\n"
    "Overlapped I/O is disabled\n"
    "Setting DTR & RTS on\n"
    "Setting no parity, 8 data bits, & one stop bit (8N1)\n";
const std::string kExit = "(exiting)...\n\a\a";
const std::string kCommunications = "\n\n***Initializing Communications***\n";

EnvOverrides PortMap(const EnvOverrides& mapped) {
  EnvOverrides env;
  for (int n = 1; n <= 256; ++n) {
    env.emplace_back("ZOLSAMPLER_COM" + std::to_string(n),
                     "/nonexistent/zol-com" + std::to_string(n));
  }
  env.insert(env.end(), mapped.begin(), mapped.end());
  return env;
}

ProgramResult RunSampler(const std::vector<std::string>& words, const EnvOverrides& mapped = {}) {
  std::vector<std::string> args = {"zolsampler"};
  args.insert(args.end(), words.begin(), words.end());
  return RunProgram(ZOLSAMPLER_EXE, args, PortMap(mapped));
}

speed_t SpeedOf(const PtyPair& pty) {
  const termios settings = pty.SlaveSettings();
  return cfgetospeed(&settings);
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> words;
  std::string out;
  std::string err;
};

class RefusalTest : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(RefusalTest, PrintsItsMessageAndEndsWithStatusZero) {
  const RefusalCase& c = GetParam();
  const ProgramResult result = RunSampler(c.words);
  EXPECT_EQ(result.out, c.out);
  EXPECT_EQ(result.err, c.err);
  EXPECT_EQ(result.status, 0);
}

const std::string kZolRange = "Error, ZOL CommPort Range = [1,20]\n";
const std::string kCtdRange = "Error, CTD CommPort Range = [1,20]\n";
const std::string kSamePorts = "Error, Port Numbers can't be the same!\n";

INSTANTIATE_TEST_SUITE_P(
    Options, RefusalTest,
    ::testing::Values(
        RefusalCase{"NoWords", {}, "", kUsage},
        RefusalCase{"ZolBaudNotInTable",
                    {"-P", "1", "-B", "960", "-p", "-1", "-b", "-1"},
                    "Error, unrecognized ZOL baud rate: 960\n",
                    ""},
        RefusalCase{"CtdBaudGetsTheSameMessage",
                    {"-P", "1", "-B", "9600", "-p", "2", "-b", "960"},
                    "Error, unrecognized ZOL baud rate: 960\n",
                    ""},
        RefusalCase{"BaudComparedAsText",
                    {"-P", "1", "-B", "09600", "-p", "-1", "-b", "-1"},
                    "Error, unrecognized ZOL baud rate: 09600\n",
                    ""},
        RefusalCase{
            "ZolPortZero", {"-P", "0", "-B", "9600", "-p", "-1", "-b", "-1"}, kZolRange, ""},
        RefusalCase{"ZolPort21", {"-P", "21", "-B", "9600", "-p", "-1", "-b", "-1"}, kZolRange, ""},
        RefusalCase{
            "ZolPortMinusOne", {"-P", "-1", "-B", "9600", "-p", "2", "-b", "9600"}, kZolRange, ""},
        RefusalCase{
            "ZolPortNoDigits", {"-P", "x", "-B", "9600", "-p", "-1", "-b", "-1"}, kZolRange, ""},
        RefusalCase{"ZolPortTooLargeToWrap",
                    {"-P", "4294967297", "-B", "9600", "-p", "-1", "-b", "-1"},
                    kZolRange,
                    ""},
        RefusalCase{
            "CtdPortZero", {"-P", "1", "-B", "9600", "-p", "0", "-b", "9600"}, kCtdRange, ""},
        RefusalCase{
            "CtdPort21", {"-P", "1", "-B", "9600", "-p", "21", "-b", "9600"}, kCtdRange, ""},
        RefusalCase{
            "EqualPorts", {"-P", "2", "-B", "9600", "-p", "2", "-b", "9600"}, kSamePorts, ""},
        RefusalCase{"TrailingTextIgnoredInPort",
                    {"-P", "2x", "-B", "9600", "-p", "2", "-b", "9600"},
                    kSamePorts,
                    ""},
        RefusalCase{"EachOptionActedOnWhenRead",
                    {"-P", "0", "-P", "5", "-B", "9600", "-b", "-1"},
                    kZolRange,
                    ""},
        RefusalCase{"ValuesJoinedToLetters", {"-P1", "-B9600", "-p2", "-b9600"}, "", kUsage},
        RefusalCase{
            "ExtraWord", {"-P", "1", "-B", "9600", "-p", "-1", "-b", "-1", "extra"}, "", kUsage},
        RefusalCase{
            "WordThatIsNoOption", {"-P", "1", "-B", "9600", "-p", "-1", "stray", "-b"}, "", kUsage},
        RefusalCase{"UnknownOption", {"-x"}, "", "zolsampler: invalid option -- 'x'\n" + kUsage},
        RefusalCase{"MissingValue",
                    {"-P", "1", "-B"},
                    "",
                    "zolsampler: option requires an argument -- 'B'\n" + kUsage},
        RefusalCase{"ErrorBeforeVersionWins",
                    {"-B", "960", "-v"},
                    "Error, unrecognized ZOL baud rate: 960\n",
                    ""},
        RefusalCase{"ErrorBeforeScanWins", {"-P", "50", "-l"}, kZolRange, ""}),
    [](const ::testing::TestParamInfo<RefusalCase>& param) { return param.param.name; });

struct Settings {
  int32_t zolPort, zolBaud, ctdPort, ctdBaud;
  bool operator==(const Settings&) const = default;
};
Settings g_seenAtStart{};
int g_starts = 0;

void RecordStart() {
  const SamplerState& state = State();
  g_seenAtStart = {state.zolPort, state.zolBaud, state.ctdPort, state.ctdBaud};
  ++g_starts;
}

TEST(CompleteLineTest, SettingsReachTheStartUpAsTheOptionsSaid) {
  struct Case {
    std::vector<std::string> words;
    Settings expected;
  };
  const std::vector<Case> cases = {
      {{"-P", "1", "-B", "9600", "-p", "-1", "-b", "-1"}, {0, 9600, -1, -1}},
      {{"-P", "1", "-B", "9600", "-p", "2", "-b", "9600"}, {0, 9600, 1, 9600}},
      {{"-B", "0", "-P", "20", "-b", "115200", "-p", "19"}, {19, 0, 18, 115200}},
      {{"-P", "3x", "-B", "300", "-p", " 7", "-b", "-1"}, {2, 300, 6, -1}},
      {{"-P", "+4", "-B", "57600", "-p", "2", "-b", "-1x"}, {3, 57600, 1, -1}},
      {{"-p", "-1", "-b", "1200", "-P", "1", "-B", "2400"}, {0, 2400, -1, 1200}},
      // Nine words pass although -p is missing: the CTD port keeps its 0, COM1.
      {{"-P", "3", "-P", "3", "-B", "9600", "-b", "9600"}, {2, 9600, 0, 9600}},
  };
  for (const Case& c : cases) {
    ResetState();
    std::vector<std::string> words = {"zolsampler"};
    words.insert(words.end(), c.words.begin(), c.words.end());
    std::vector<char*> argv;
    for (std::string& word : words)
      argv.push_back(word.data());
    argv.push_back(nullptr);
    g_starts = 0;
    EXPECT_EQ(RunCommandLine(static_cast<int>(words.size()), argv.data(), RecordStart), 0);
    EXPECT_EQ(g_starts, 1);
    EXPECT_EQ(g_seenAtStart, c.expected) << c.words[1] << " " << c.words[3] << " " << c.words[5];
  }
  ResetState();
}

std::string CompilerLine() {
#if defined(__clang__)
  const std::string name = "Clang";
  const int version[] = {__clang_major__, __clang_minor__, __clang_patchlevel__};
#else
  const std::string name = "GCC ";
  const int version[] = {__GNUC__, __GNUC_MINOR__, __GNUC_PATCHLEVEL__};
#endif
  return name + " version " + std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
         std::to_string(version[2]) + " ";
}

// True when `text` has the layout: '#' a digit, '~' a digit or a blank,
// '@' an upper-case and '%' a lower-case letter, anything else itself.
bool HasLayout(const std::string& text, const std::string& layout) {
  if (text.size() != layout.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    bool fits = false;
    switch (layout[i]) {
      case '#':
        fits = std::isdigit(c) != 0;
        break;
      case '~':
        fits = std::isdigit(c) != 0 || c == ' ';
        break;
      case '@':
        fits = std::isupper(c) != 0;
        break;
      case '%':
        fits = std::islower(c) != 0;
        break;
      default:
        fits = text[i] == layout[i];
    }
    if (!fits) return false;
  }
  return true;
}

TEST(VersionBannerTest, NamesThisBuildAndEndsBeforeLaterOptions) {
  const ProgramResult result = RunSampler({"-v", "-B", "960"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  const std::string header = "\nBuild: main.cpp Date: @%% ~# #### ##:##:##\n\n";
  ASSERT_TRUE(HasLayout(result.out.substr(0, header.size()), header)) << result.out;
  std::string rest = result.out.substr(header.size());
  EXPECT_EQ(rest.substr(0, CompilerLine().size()), CompilerLine());
  rest = rest.substr(std::min(rest.size(), CompilerLine().size()));
  const std::string tail =
      ")\nWSC  version 1.0.0 (Build 1)\nSTDC version " + std::to_string(__cplusplus) + "\n\n";
#if defined(__x86_64__) && defined(__gnu_linux__)
  EXPECT_EQ(rest, "(Linux - x86_64-linux-gnu" + tail);
#else
  EXPECT_EQ(rest.substr(0, 9), "(Linux - ");
  EXPECT_EQ(rest.substr(rest.size() - std::min(rest.size(), tail.size())), tail);
#endif
}

// A complete line leads into the parameter dialogue; the program is run on a
// pseudo-terminal console that answers it, and what follows the heading of
// the communications step is compared.
struct StartResult {
  std::string communications;  // from the heading on
  int status = -1;
};

// `stopAfter`: once the console shows it, SIGTERM abandons the start-up
// (the ZOL doubles here never answer); empty: the program ends by itself.
StartResult RunToCommunications(const std::vector<std::string>& words, bool withCtd,
                                const EnvOverrides& mapped, const std::string& stopAfter = "") {
  std::vector<std::string> args = {ZOLSAMPLER_EXE};
  args.insert(args.end(), words.begin(), words.end());
  std::map<std::string, std::string> env;
  for (const auto& [name, value] : PortMap(mapped))
    env[name] = value;
  TempDir dir;
  SamplerProcess app(args, env, dir.Path());
  StartResult result;
  const bool answered = app.Answer("Serial Number", "42\r") && app.Answer("Rate", "1\r") &&
                        app.Answer("MODE", "1\r") &&
                        (withCtd ? app.Answer("pump ON?", "n\r")
                                 : app.Answer("Temperature", "\r") && app.Answer("Salinity", "\r"));
  if (!answered) return result;
  if (!stopAfter.empty() && app.Expect(stopAfter)) app.Signal(SIGTERM);
  result.status = app.Wait();
  const std::string console = app.Console();
  const size_t heading = console.find(kCommunications);
  if (heading != std::string::npos) result.communications = console.substr(heading);
  if (!stopAfter.empty()) {
    const size_t end = result.communications.find(stopAfter);
    if (end != std::string::npos) result.communications.resize(end + stopAfter.size());
  }
  return result;
}

TEST(CompleteLineTest, WithoutCtdOpensTheZolPortAtItsSpeed) {
  PtyPair zol;
  const std::string opened = "Port 1 Flow control not set\n";
  const StartResult result =
      RunToCommunications({"-P", "1", "-B", "9600", "-p", "-1", "-b", "-1"}, false,
                          {{"ZOLSAMPLER_COM1", zol.SlavePath()}}, opened);
  EXPECT_EQ(result.communications, kCommunications + kServiceStart + opened);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(SpeedOf(zol), B9600);
}

TEST(CompleteLineTest, WithCtdOpensBothPortsZolFirst) {
  PtyPair zol;
  PtyPair ctd;
  const std::string opened = "Port 4 Flow control not set\nPort 2 Flow control not set\n";
  const StartResult result = RunToCommunications(
      {"-P", "4", "-B", "19200", "-p", "2", "-b", "4800"}, true,
      {{"ZOLSAMPLER_COM4", zol.SlavePath()}, {"ZOLSAMPLER_COM2", ctd.SlavePath()}}, opened);
  EXPECT_EQ(result.communications, kCommunications + kServiceStart + opened);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(SpeedOf(zol), B19200);
  EXPECT_EQ(SpeedOf(ctd), B4800);
}

// The failures below end through the exit pause, 2.5 s each.
TEST(CompleteLineTest, MissingZolPortEndsWithStatusOne) {
  const StartResult result =
      RunToCommunications({"-P", "1", "-B", "9600", "-p", "-1", "-b", "-1"}, false, {});
  EXPECT_EQ(result.communications,
            kCommunications + kServiceStart + "COM port hardware not present\n" + kExit);
  EXPECT_EQ(result.status, 1);
}

TEST(CompleteLineTest, SpeedZeroPassesTheLineButNotTheService) {
  PtyPair zol;
  const StartResult result = RunToCommunications({"-P", "1", "-B", "0", "-p", "-1", "-b", "-1"},
                                                 false, {{"ZOLSAMPLER_COM1", zol.SlavePath()}});
  EXPECT_EQ(result.communications,
            kCommunications + kServiceStart + "Unsupported baud rate\n" + kExit);
  EXPECT_EQ(result.status, 1);
}

TEST(CompleteLineTest, CtdPortWithSpeedMinusOneFailsAtItsOpening) {
  PtyPair zol;
  PtyPair ctd;
  const StartResult result = RunToCommunications(
      {"-P", "3", "-B", "9600", "-p", "1", "-b", "-1"}, true,
      {{"ZOLSAMPLER_COM3", zol.SlavePath()}, {"ZOLSAMPLER_COM1", ctd.SlavePath()}});
  EXPECT_EQ(result.communications, kCommunications + kServiceStart +
                                       "Port 3 Flow control not set\nUnsupported baud rate\n" +
                                       kExit);
  EXPECT_EQ(result.status, 1);
}

TEST(ScanTest, FindsTheOneMappedPort) {
  PtyPair com1;
  const ProgramResult result = RunSampler({"-l"}, {{"ZOLSAMPLER_COM1", com1.SlavePath()}});
  EXPECT_EQ(result.out, kServiceStart +
                            "\nChecking COM1 through COM256...\n"
                            "COM1: OK, port exists\n"
                            "\n1 port(s) found\n" +
                            kExit);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

}  // namespace
}  // namespace zol::test
