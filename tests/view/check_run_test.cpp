// zolview --check run as a monitoring system runs it, on the real clock:
// the committed KIRN file (long past), a file just written, wrong words.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <string>

#include "support/run_program.h"
#include "support/temp_dir.h"
#include "view/summary.h"

namespace zol::test {
namespace {

ProgramResult Check(const std::vector<std::string>& args) {
  std::vector<std::string> words = {"zolview", "--check"};
  words.insert(words.end(), args.begin(), args.end());
  return RunProgram(ZOLVIEW_EXE, words, {}, 60000);
}

TEST(CheckRunTest, StatusLineAndExitStatusOfTheProgram) {
  const ProgramResult old = Check({ZOL_SOURCE_DIR "/tests/view/data/ZOL0042_KIRN.dat"});
  EXPECT_EQ(old.status, 2) << old.out;
  const std::string critical = "ZOLVIEW CRITICAL - ZOL0042_KIRN.dat: last record ";
  EXPECT_EQ(old.out.substr(0, critical.size()), critical);
  EXPECT_NE(old.out.find(" | age="), std::string::npos) << old.out;
  EXPECT_EQ(old.out.substr(old.out.size() - 23), "s;1800;3600 records=26\n") << old.out;

  // Records every ten minutes, the last two minutes ago.
  TempDir dir;
  const std::string path = dir.File("ZOL0042_KIRN.dat");
  const int64_t last = static_cast<int64_t>(std::time(nullptr)) - 120;
  std::ofstream file(path, std::ios::binary);
  file << "#ALL RECORDS\nCRC, ID, DATE TIME, UTC SECS\n";
  for (int64_t t = last - 3000; t <= last; t += 600)
    file << "0A1B, ZOL0042, " << zol::view::FormatTime(t) << ", " << t << "\n";
  file.close();
  const ProgramResult fresh = Check({path});
  EXPECT_EQ(fresh.status, 0) << fresh.out;
  const std::string ok = "ZOLVIEW OK - ZOL0042_KIRN.dat: last record 2 min ago | age=";
  EXPECT_EQ(fresh.out.substr(0, ok.size()), ok) << fresh.out;
  EXPECT_EQ(Check({"--warn", "1", path}).status, 1);
  EXPECT_EQ(Check({"--crit", "1", path}).status, 2);

  const ProgramResult wrong = Check({"--warn", "many", path});
  EXPECT_EQ(wrong.status, 3);
  EXPECT_EQ(wrong.out, "ZOLVIEW UNKNOWN - --warn needs whole minutes from 0 to 10000000\n");
  EXPECT_NE(wrong.err.find("usage: zolview --check"), std::string::npos) << wrong.err;
  const ProgramResult gone = Check({dir.File("gone.dat")});
  EXPECT_EQ(gone.status, 3);
  EXPECT_EQ(gone.out, "ZOLVIEW UNKNOWN - gone.dat: No such file or directory\n");
}

}  // namespace
}  // namespace zol::test
