// Line files: whole lines or nothing, even when the disk fills part-way
// through a line, and a failed close that says why.
#include "files/line_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace zol::test {
namespace {

class LineFileTest : public ::testing::Test {
 protected:
  void Prefill(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  std::string Content() { return ReadFile(path); }

  TempDir dir;
  std::string path = dir.File("ZOL0042_KIRN.dat");
};

TEST_F(LineFileTest, AppendsAfterWhatIsThereAndCreatesMissingFiles) {
  std::FILE* file = OpenLineFile(path.c_str());
  ASSERT_NE(file, nullptr);
  std::fprintf(file, "#ALL RECORDS\n%s\n\n\n", "CRC, ID");
  EXPECT_EQ(Content(), "#ALL RECORDS\nCRC, ID\n\n\n");  // there before the close
  ASSERT_EQ(std::fclose(file), 0);
  file = OpenLineFile(path.c_str());
  ASSERT_NE(file, nullptr);
  std::fputs("rec", file);
  std::fputs("ord\n", file);
  std::fputs("tail without end", file);
  EXPECT_EQ(Content(), "#ALL RECORDS\nCRC, ID\n\n\nrecord\n");
  ASSERT_EQ(std::fclose(file), 0);
  EXPECT_EQ(Content(), "#ALL RECORDS\nCRC, ID\n\n\nrecord\ntail without end");
}

TEST_F(LineFileTest, LineCrossingAFullDiskLeavesNoFragment) {
  Prefill("kept 1\nkept 2\n");
  std::FILE* file = OpenLineFile(path.c_str());
  ASSERT_NE(file, nullptr);
  {
    // Room for 10 more bytes: the 30-byte line would be cut to 10.
    FileSizeLimit limit(14 + 10);
    std::fprintf(file, "%s, %s\n", "a line of", "twenty-nine bytes..");
    EXPECT_EQ(Content(), "kept 1\nkept 2\n");
    // A later line that fits is still stored, and nothing of the lost one.
    std::fprintf(file, "%s\n", "short");
    EXPECT_EQ(Content(), "kept 1\nkept 2\nshort\n");
    std::fprintf(file, "%s, %s\n", "again too", "long for the room");
    std::fprintf(file, "ok\n");
  }
  EXPECT_EQ(Content(), "kept 1\nkept 2\nshort\nok\n");
  errno = 0;
  EXPECT_EQ(std::fclose(file), EOF);
  EXPECT_EQ(errno, EFBIG);
}

TEST_F(LineFileTest, DeviceWithoutSpaceFailsTheClose) {
  std::FILE* file = OpenLineFile("/dev/full");
  ASSERT_NE(file, nullptr);
  std::fprintf(file, "001, Waking ZOL, Mon Jan 15 12:34:56 2024\n");
  errno = 0;
  EXPECT_EQ(std::fclose(file), EOF);
  EXPECT_EQ(errno, ENOSPC);
}

TEST_F(LineFileTest, PathThatIsNoFileCannotBeOpened) {
  errno = 0;
  EXPECT_EQ(OpenLineFile(dir.Path().c_str()), nullptr);
  EXPECT_EQ(errno, EISDIR);
  EXPECT_EQ(OpenLineFile(dir.File("no/such/dir").c_str()), nullptr);
}

}  // namespace
}  // namespace zol::test
