// zolview --check on the driven clock: limits from the usual interval or
// the command line, the status at and past each limit, several files.
#include <gtest/gtest.h>

#include <algorithm>
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

// "--check --warn 5 x.dat" as words.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  for (size_t at = 0; at < line.size();) {
    const size_t blank = std::min(line.find(' ', at), line.size());
    words.push_back(line.substr(at, blank - at));
    at = blank + 1;
  }
  return words;
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
  // "--warn 5 --crit 8" as a request; the files go to CheckFile one by one.
  CheckRequest Request(const std::string& limits) {
    CheckRequest request;
    std::string error;
    EXPECT_TRUE(ParseCheckRequest(Words("--check any.dat " + limits), request, error)) << error;
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
    const char* limits;
    bool single;
    int64_t age;
    CheckStatus status;
    int64_t warn, crit;  // the limits in force, in seconds
  };
  const Case cases[] = {
      {"", false, 1800, CheckStatus::kOk, 1800, 3600},
      {"", false, 1801, CheckStatus::kWarning, 1800, 3600},
      {"", false, 3600, CheckStatus::kWarning, 1800, 3600},
      {"", false, 3601, CheckStatus::kCritical, 1800, 3600},
      {"--warn 5 --crit 8", false, 301, CheckStatus::kWarning, 300, 480},
      {"--crit 8 --warn 5", false, 481, CheckStatus::kCritical, 300, 480},
      // A critical age below the default warning age pulls the warning down,
      {"--crit 10", false, 600, CheckStatus::kOk, 600, 600},
      {"--crit 10", false, 601, CheckStatus::kCritical, 600, 600},
      // a warning age above the default critical one lifts the critical age.
      {"--warn 90", false, 5401, CheckStatus::kCritical, 5400, 5400},
      {"--warn 0", false, 1, CheckStatus::kWarning, 0, 3600},
      // The instrument's clock ahead by more than the warning age.
      {"", false, -1801, CheckStatus::kWarning, 1800, 3600},
      {"", false, -1800, CheckStatus::kOk, 1800, 3600},
      {"", true, 3 * 3600 + 1, CheckStatus::kWarning, 10800, 21600},
      {"", true, 6 * 3600 + 1, CheckStatus::kCritical, 10800, 21600},
  };
  for (const Case& c : cases) {
    clock.SetWallSeconds(kLast + c.age);
    const FileCheck check = CheckFile(c.single ? single : tenMinutes, Request(c.limits), Now());
    const std::string row = std::string(c.limits) + " at " + std::to_string(c.age);
    EXPECT_EQ(check.status, c.status) << row;
    EXPECT_EQ(check.age, c.age) << row;
    EXPECT_EQ(check.warnSeconds, c.warn) << row;
    EXPECT_EQ(check.critSeconds, c.crit) << row;
  }
  clock.SetWallSeconds(kLast + 240);
  EXPECT_EQ(CheckLine({CheckFile(tenMinutes, Request(""), Now())}),
            "ZOLVIEW OK - ZOL0042_KIRN.dat: last record 4 min ago | age=240s;1800;3600 records=20");
  clock.SetWallSeconds(kLast - 1801);
  EXPECT_EQ(CheckFile(tenMinutes, Request(""), Now()).detail, "last record 30 min ahead of now");
}

TEST_F(CheckTest, FilesWithoutAnswerAndSeveralFiles) {
  clock.SetWallSeconds(kLast + 60);
  const std::string fresh = Write("ZOL0042_KIRN.dat", RecordsFile(5, 600));
  // A minute between records: critical past 6 min.
  const std::string often = Write("ZOL0042_KIRN_2.dat", RecordsFile(5, 60));
  const std::string empty = Write("ZOL0007_PADO.dat", "#ALL RECORDS\n");
  const std::string unlabeled = Write("plain.dat", "0A1B, ZOL0042, 2026/12/08 04:50:00, 1\n");
  const CheckRequest request = Request("");
  const auto check = [&](const std::vector<std::string>& paths) {
    std::vector<FileCheck> checks;
    for (const std::string& path : paths)
      checks.push_back(CheckFile(path, request, Now()));
    return checks;
  };
  const std::string gone = dir.File("gone.dat");
  const std::pair<std::vector<std::string>, CheckStatus> cases[] = {
      {{empty}, CheckStatus::kCritical},
      {{gone}, CheckStatus::kUnknown},
      {{unlabeled}, CheckStatus::kUnknown},
      {{fresh, often}, CheckStatus::kOk},
      {{fresh, empty}, CheckStatus::kCritical},
      {{fresh, gone, empty}, CheckStatus::kUnknown},  // unknown outranks critical
  };
  for (const auto& [paths, status] : cases)
    EXPECT_EQ(WorstStatus(check(paths)), status) << paths.back();
  EXPECT_EQ(CheckLine(check({empty, gone, unlabeled})),
            "ZOLVIEW UNKNOWN - worst of 3 files: ZOL0007_PADO.dat: no record (CRITICAL); "
            "gone.dat: No such file or directory (UNKNOWN); plain.dat: cannot tell the record "
            "layout (UNKNOWN) | 'ZOL0007_PADO.dat records'=0");
  EXPECT_EQ(CheckLine(check({fresh, often})),
            "ZOLVIEW OK - worst of 2 files: ZOL0042_KIRN.dat: last record 1 min ago (OK); "
            "ZOL0042_KIRN_2.dat: last record 1 min ago (OK) | 'ZOL0042_KIRN.dat age'=60s;1800;3600 "
            "'ZOL0042_KIRN.dat records'=5 'ZOL0042_KIRN_2.dat age'=60s;180;360 "
            "'ZOL0042_KIRN_2.dat records'=5");
  // Ten minutes on, only the file of frequent records is overdue: it decides.
  clock.Advance(600 * 1000);
  const std::vector<FileCheck> later = check({fresh, often});
  EXPECT_EQ(later[0].status, CheckStatus::kOk);
  EXPECT_EQ(later[1].detail, "last record 11 min ago");
  EXPECT_EQ(WorstStatus(later), CheckStatus::kCritical);
  EXPECT_EQ(CheckLine(later).substr(0, 50), "ZOLVIEW CRITICAL - worst of 2 files: ZOL0042_KIRN.");
}

TEST_F(CheckTest, RefusesWordsOutsideItsUsage) {
  const char* bad[] = {
      "--check",
      "--check --warn x.dat",
      "--check --warn -1 x.dat",
      "--check --warn 5m x.dat",
      "--check --crit 10000001 x.dat",
      "--check --warn 5 --warn 6 x.dat",
      "--check --warn 20 --crit 10 x.dat",
      "--check --csv x.dat",
      "--check --check x.dat",
      "--warn 5 x.dat",
  };
  for (const char* line : bad) {
    CheckRequest request;
    std::string error;
    EXPECT_FALSE(ParseCheckRequest(Words(line), request, error)) << line;
    EXPECT_FALSE(error.empty());
  }
  CheckRequest request;
  std::string error;
  ASSERT_TRUE(ParseCheckRequest({"--warn", "5", "--check", "--", "--warn"}, request, error));
  EXPECT_EQ(request.files, std::vector<std::string>{"--warn"});
  EXPECT_EQ(request.warnMinutes, 5);
}

}  // namespace
}  // namespace zol::view
