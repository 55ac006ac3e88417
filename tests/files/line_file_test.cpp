// Line files: whole lines or nothing, even when the disk fills part-way
// through a line, and a failed close that says why.
#include "files/line_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <memory>
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
  std::unique_ptr<LineFile> file = LineFile::Open(path.c_str());
  ASSERT_NE(file, nullptr);
  file->Printf("#ALL RECORDS\n%s\n\n\n", "CRC, ID");
  EXPECT_EQ(Content(), "#ALL RECORDS\nCRC, ID\n\n\n");  // there before the close
  ASSERT_EQ(file->Close(), 0);
  file = LineFile::Open(path.c_str());
  ASSERT_NE(file, nullptr);
  file->Write("rec", 3);
  file->AppendLine("ord");
  file->Printf("tail %s", "without end");
  EXPECT_EQ(Content(), "#ALL RECORDS\nCRC, ID\n\n\nrecord\n");
  ASSERT_EQ(file->Close(), 0);
  EXPECT_EQ(Content(), "#ALL RECORDS\nCRC, ID\n\n\nrecord\ntail without end");
}

TEST_F(LineFileTest, LongTextIsHeldOnlyUpToItsLimit) {
  const std::string line(2000, 'L');  // past the formatting buffer
  const std::string run(64 * 1024 + 1, 'r');
  std::unique_ptr<LineFile> file = LineFile::Open(path.c_str());
  ASSERT_NE(file, nullptr);
  file->Printf("%s\n", line.c_str());
  EXPECT_EQ(Content(), line + "\n");
  file->Printf("%s", run.c_str());
  // Too long a run goes as it stands.
  EXPECT_EQ(Content(), line + "\n" + run);
  // The destructor closes, writing the tail.
  file.reset();
  file = LineFile::Open(path.c_str());
  ASSERT_NE(file, nullptr);
  file->Printf("tail");
  file.reset();
  EXPECT_EQ(Content(), line + "\n" + run + "tail");
}

TEST_F(LineFileTest, LineCrossingAFullDiskLeavesNoFragment) {
  Prefill("kept 1\nkept 2\n");
  std::unique_ptr<LineFile> file = LineFile::Open(path.c_str());
  ASSERT_NE(file, nullptr);
  {
    // Room for 10 more bytes: the 30-byte line would be cut to 10.
    FileSizeLimit limit(14 + 10);
    file->Printf("%s, %s\n", "a line of", "twenty-nine bytes..");
    EXPECT_EQ(Content(), "kept 1\nkept 2\n");
    // A later line that fits is still stored, and nothing of the lost one.
    file->AppendLine("short");
    EXPECT_EQ(Content(), "kept 1\nkept 2\nshort\n");
    file->Printf("%s, %s\n", "again too", "long for the room");
    file->Printf("ok\n");
  }
  EXPECT_EQ(Content(), "kept 1\nkept 2\nshort\nok\n");
  EXPECT_EQ(file->Close(), EFBIG);
  EXPECT_EQ(file->Close(), EFBIG);  // a second close says the same
}

TEST_F(LineFileTest, DeviceWithoutSpaceFailsTheClose) {
  std::unique_ptr<LineFile> file = LineFile::Open("/dev/full");
  ASSERT_NE(file, nullptr);
  file->Printf("001, Waking ZOL, Mon Jan 15 12:34:56 2024\n");
  EXPECT_EQ(file->Close(), ENOSPC);
}

TEST_F(LineFileTest, PathThatIsNoFileCannotBeOpened) {
  errno = 0;
  EXPECT_EQ(LineFile::Open(dir.Path().c_str()), nullptr);
  EXPECT_EQ(errno, EISDIR);
  errno = 0;
  EXPECT_EQ(LineFile::Open(dir.File("no/such/dir").c_str()), nullptr);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
}  // namespace zol::test
