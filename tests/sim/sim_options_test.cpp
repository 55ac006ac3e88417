#include "sim/sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zol::sim {
namespace {

struct Parsed {
  ParseOutcome outcome;
  SimOptions options;
  std::string error;
};

Parsed Parse(std::vector<std::string> words) {
  words.insert(words.begin(), "zolsim");
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  Parsed parsed{};
  parsed.outcome =
      ParseSimOptions(static_cast<int>(words.size()), argv.data(), parsed.options, parsed.error);
  return parsed;
}

TEST(SimOptionsTest, EachOptionReachesItsField) {
  const Parsed p =
      Parse({"--kind",         "PADO",      "--measure-seconds", "0.5",    "--seed",          "7",
             "--ctd-echo",     "--verbose", "--zol-link",        "z",      "--ctd-link",      "c",
             "--zol-port",     "3",         "--ctd-port",        "4",      "--exit-with-pid", "99",
             "--zol-fault",    "nak",       "--ctd-fault",       "silent", "--gap-ms",        "5",
             "--clock-offset", "-60",       "--serial",          "9999"});
  ASSERT_EQ(p.outcome, ParseOutcome::kRun) << p.error;
  const SimOptions& o = p.options;
  EXPECT_EQ(o.kind, SensorKind::kPado);
  EXPECT_DOUBLE_EQ(o.measureSeconds, 0.5);
  EXPECT_TRUE(o.seedGiven && o.seed == 7 && o.ctdEcho && o.verbose && !o.noCtd);
  EXPECT_EQ(o.zolLink + o.ctdLink, "zc");
  EXPECT_EQ(o.zolCom * 10 + o.ctdCom, 34);
  EXPECT_EQ(o.exitWithPid, 99);
  EXPECT_EQ(o.zolFaults.size() + o.ctdFaults.size(), 2u);
  EXPECT_EQ(o.gapMs, 5);
  EXPECT_EQ(o.clockOffsetSeconds, -60);
  EXPECT_EQ(o.serialNumber, 9999);
  EXPECT_EQ(Parse({"--help"}).outcome, ParseOutcome::kHelp);
}

TEST(SimOptionsTest, RefusalsNameTheOptionAndWhy) {
  const struct {
    std::vector<std::string> words;
    const char* error;
  } cases[] = {
      {{"--kind", "FOO"}, "--kind: --kind takes KIRN or PADO"},
      {{"--gap-ms", "4"}, "--gap-ms: bad value '4' (5 to 1000 expected)"},
      {{"--serial", "12x"}, "--serial: bad value '12x' (1 to 9999 expected)"},
      {{"--zol-link", ""}, "--zol-link: a link needs a path"},
      {{"--bogus"}, "unknown option or missing value: --bogus"},
      {{"--no-ctd", "extra"}, "unexpected argument: extra"},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.words);
    EXPECT_EQ(p.outcome, ParseOutcome::kError) << c.error;
    EXPECT_EQ(p.error, c.error);
  }
}

}  // namespace
}  // namespace zol::sim
