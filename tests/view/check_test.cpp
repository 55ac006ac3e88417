// zolview --check on the driven clock: limits from the usual interval or
// the command line, the status at and past each limit, several files.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/fake_clock.h"
#include "support/temp_dir.h"
#include "view/check.h"
#include "view/summary.h"

namespace zol::view {
namespace {

using zol::test::FakeClock;
using zol::test::TempDir;

constexpr int64_t kLast = 1796705400;  // 2026/12/08 04:50:00, the last record

// A file of its own column line and `count` records ending at kLast, one
// every `interval` seconds.
std::string RecordsFile(int count, int64_t interval) {
  std::string text = "#ALL RECORDS\nCRC, ID, DATE TIME, UTC SECS\n\n";
  for (int i = count - 1; i >= 0; --i) {
    const int64_t time = kLast - i * interval;
    text += "0A1B, ZOL0042, " + FormatTime(time) + ", " + std::to_string(time) + "\n";
  }
  return text;
}

class CheckTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir.File(name);
    EXPECT_TRUE(zol::test::WriteFile(path, bytes)) << path;
    return path;
  }
  std::function<int64_t()> Now() {
    return [this] { return clock.WallSeconds(); };
  }
  CheckRequest Request(std::vector<std::string> words) {
    CheckRequest request;
    std::string error;
    // The files are given to CheckFile one by one.
    words.insert(words.begin(), "--check");
    words.push_back("any.dat");
    EXPECT_TRUE(ParseCheckRequest(words, request, error)) << error;
    return request;
  }
  TempDir dir;
  FakeClock clock;
};

TEST_F(CheckTest, StatusAtAndPastEachLimit) {
  // Every ten minutes: warning past 30 min, critical past 60 min.
  const std::string tenMinutes = Write("ZOL0042_KIRN.dat", RecordsFile(20, 600));
  // One record shows no interval: the fallback limits hold.
  const std::string single = Write("single.dat", RecordsFile(1, 600));
  struct Case {
    const char* what;
    std::string path;
    std::vector<std::string> limits;
    int64_t age;
    CheckStatus status;
    std::string line;
  };
  const Case cases[] = {
      {"fresh",
       tenMinutes,
       {},
       240,
       CheckStatus::kOk,
       "ZOLVIEW OK - ZOL0042_KIRN.dat: last record 4 min ago | age=240s;1800;3600 records=20"},
      {"at the warning age", tenMinutes, {}, 1800, CheckStatus::kOk, ""},
      {"past it",
       tenMinutes,
       {},
       1801,
       CheckStatus::kWarning,
       "ZOLVIEW WARNING - ZOL0042_KIRN.dat: last record 30 min ago | age=1801s;1800;3600 "
       "records=20"},
      {"at the critical age", tenMinutes, {}, 3600, CheckStatus::kWarning, ""},
      {"past it", tenMinutes, {}, 3601, CheckStatus::kCritical, ""},
      {"given limits",
       tenMinutes,
       {"--warn", "5", "--crit", "8"},
       301,
       CheckStatus::kWarning,
       "ZOLVIEW WARNING - ZOL0042_KIRN.dat: last record 5 min ago | age=301s;300;480 records=20"},
      {"given limits", tenMinutes, {"--crit", "8", "--warn", "5"}, 481, CheckStatus::kCritical, ""},
      // A critical age below the default warning age pulls the warning down.
      {"critical only",
       tenMinutes,
       {"--crit", "10"},
       599,
       CheckStatus::kOk,
       "ZOLVIEW OK - ZOL0042_KIRN.dat: last record 9 min ago | age=599s;600;600 records=20"},
      {"critical only", tenMinutes, {"--crit", "10"}, 601, CheckStatus::kCritical, ""},
      // A warning age above the default critical one lifts the critical age.
      {"warning only",
       tenMinutes,
       {"--warn", "90"},
       5401,
       CheckStatus::kCritical,
       "ZOLVIEW CRITICAL - ZOL0042_KIRN.dat: last record 90 min ago | age=5401s;5400;5400 "
       "records=20"},
      {"warning only", tenMinutes, {"--warn", "0"}, 1, CheckStatus::kWarning, ""},
      {"clock ahead",
       tenMinutes,
       {},
       -1801,
       CheckStatus::kWarning,
       "ZOLVIEW WARNING - ZOL0042_KIRN.dat: last record 30 min ahead of now | "
       "age=-1801s;1800;3600 records=20"},
      {"clock a little ahead", tenMinutes, {}, -60, CheckStatus::kOk, ""},
      {"fallback",
       single,
       {},
       3 * 3600 + 1,
       CheckStatus::kWarning,
       "ZOLVIEW WARNING - single.dat: last record 180 min ago | age=10801s;10800;21600 "
       "records=1"},
      {"fallback", single, {}, 6 * 3600 + 1, CheckStatus::kCritical, ""},
  };
  for (const Case& c : cases) {
    clock.SetWallSeconds(kLast + c.age);
    const std::vector<FileCheck> checks = {CheckFile(c.path, Request(c.limits), Now())};
    EXPECT_EQ(checks[0].status, c.status) << c.what << " " << c.age;
    if (!c.line.empty()) {
      EXPECT_EQ(CheckLine(checks), c.line) << c.what;
    }
  }
}

TEST_F(CheckTest, FilesWithoutAnswerAndSeveralFiles) {
  clock.SetWallSeconds(kLast + 60);
  const std::string fresh = Write("ZOL0042_KIRN.dat", RecordsFile(5, 600));
  // A minute between records: critical past 6 min.
  const std::string often = Write("ZOL0042_KIRN_2.dat", RecordsFile(5, 60));
  const std::string empty = Write("ZOL0007_PADO.dat", "#ALL RECORDS\n");
  const std::string unlabeled = Write("plain.dat", "0A1B, ZOL0042, 2026/12/08 04:50:00, 1\n");
  const CheckRequest request = Request({});
  const auto check = [&](const std::vector<std::string>& paths) {
    std::vector<FileCheck> checks;
    for (const std::string& path : paths)
      checks.push_back(CheckFile(path, request, Now()));
    return checks;
  };
  struct Case {
    std::vector<std::string> paths;
    CheckStatus status;
    std::string line;
  };
  const Case cases[] = {
      {{empty},
       CheckStatus::kCritical,
       "ZOLVIEW CRITICAL - ZOL0007_PADO.dat: no record | records=0"},
      {{dir.File("gone.dat")},
       CheckStatus::kUnknown,
       "ZOLVIEW UNKNOWN - gone.dat: No such file or directory"},
      {{unlabeled},
       CheckStatus::kUnknown,
       "ZOLVIEW UNKNOWN - plain.dat: cannot tell the record layout"},
      {{fresh, often},
       CheckStatus::kOk,
       "ZOLVIEW OK - worst of 2 files: ZOL0042_KIRN.dat: last record 1 min ago (OK); "
       "ZOL0042_KIRN_2.dat: last record 1 min ago (OK) | 'ZOL0042_KIRN.dat age'=60s;1800;3600 "
       "'ZOL0042_KIRN.dat records'=5 'ZOL0042_KIRN_2.dat age'=60s;180;360 "
       "'ZOL0042_KIRN_2.dat records'=5"},
      // Unknown outranks critical.
      {{fresh, dir.File("gone.dat"), empty},
       CheckStatus::kUnknown,
       "ZOLVIEW UNKNOWN - worst of 3 files: ZOL0042_KIRN.dat: last record 1 min ago (OK); "
       "gone.dat: No such file or directory (UNKNOWN); ZOL0007_PADO.dat: no record (CRITICAL) | "
       "'ZOL0042_KIRN.dat age'=60s;1800;3600 'ZOL0042_KIRN.dat records'=5 "
       "'ZOL0007_PADO.dat records'=0"},
  };
  for (const Case& c : cases) {
    const std::vector<FileCheck> checks = check(c.paths);
    EXPECT_EQ(WorstStatus(checks), c.status) << c.line;
    EXPECT_EQ(CheckLine(checks), c.line);
  }
  // Ten minutes on, only the file of frequent records is overdue: it decides.
  clock.Advance(600 * 1000);
  const std::vector<FileCheck> later = check({fresh, often});
  EXPECT_EQ(later[0].status, CheckStatus::kOk);
  EXPECT_EQ(later[1].detail, "last record 11 min ago");
  EXPECT_EQ(WorstStatus(later), CheckStatus::kCritical);
  EXPECT_EQ(CheckLine(later).substr(0, 50), "ZOLVIEW CRITICAL - worst of 2 files: ZOL0042_KIRN.");
}

TEST_F(CheckTest, RefusesWordsOutsideItsUsage) {
  const std::vector<std::vector<std::string>> bad = {
      {"--check"},
      {"--check", "--warn", "x.dat"},
      {"--check", "--warn", "-1", "x.dat"},
      {"--check", "--warn", "5m", "x.dat"},
      {"--check", "--crit", "10000001", "x.dat"},
      {"--check", "--warn", "5", "--warn", "6", "x.dat"},
      {"--check", "--warn", "20", "--crit", "10", "x.dat"},
      {"--check", "--csv", "x.dat"},
      {"--check", "--check", "x.dat"},
      {"--warn", "5", "x.dat"},
  };
  for (const std::vector<std::string>& words : bad) {
    CheckRequest request;
    std::string error;
    EXPECT_FALSE(ParseCheckRequest(words, request, error)) << words.size();
    EXPECT_FALSE(error.empty());
  }
  CheckRequest request;
  std::string error;
  ASSERT_TRUE(ParseCheckRequest({"--warn", "5", "--check", "--", "--warn"}, request, error));
  EXPECT_EQ(request.files, std::vector<std::string>{"--warn"});
  EXPECT_EQ(request.warnMinutes, 5);

  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  EXPECT_EQ(RunCheck({"--check", "--warn", "20", "--crit", "10", "x.dat"}, Now(), out, err), 3);
  char line[128] = {};
  std::rewind(out);
  ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
  EXPECT_STREQ(line, "ZOLVIEW UNKNOWN - --warn is above --crit\n");
  EXPECT_GT(std::ftell(err), 0);
  std::fclose(out);
  std::fclose(err);
}

}  // namespace
}  // namespace zol::view
