// Line files on Windows: CR LF line ends after what is there, and a line
// that crosses the file-size limit the check script sets (a full disk, as
// wine sees one) cut back whole.
#include "files/line_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "support/temp_dir.h"

namespace zol::test {
namespace {

class WindowsLineFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.File("ZOL0042_KIRN.log");
};

TEST_F(WindowsLineFileTest, LinesEndInCrLfAfterWhatIsThere) {
  ASSERT_TRUE(WriteFile(path, "kept\r\n"));
  std::unique_ptr<LineFile> file = LineFile::Open(path.c_str());
  ASSERT_NE(file, nullptr);
  file->Printf("001, %s\n\n", "Waking ZOL");
  EXPECT_EQ(ReadFile(path), "kept\r\n001, Waking ZOL\r\n\r\n");
  file->AppendLine("a\rb");  // a lone CR stays as it is
  file->Printf("tail");
  EXPECT_EQ(ReadFile(path), "kept\r\n001, Waking ZOL\r\n\r\na\rb\r\n");
  EXPECT_EQ(file->Close(), 0);
  EXPECT_EQ(ReadFile(path), "kept\r\n001, Waking ZOL\r\n\r\na\rb\r\ntail");
}

TEST_F(WindowsLineFileTest, MissingFileIsCreatedButNoMissingFolder) {
  std::unique_ptr<LineFile> file = LineFile::Open(path.c_str());
  ASSERT_NE(file, nullptr);
  file->AppendLine("first");
  EXPECT_EQ(file->Close(), 0);
  EXPECT_EQ(ReadFile(path), "first\r\n");
  errno = 0;
  EXPECT_EQ(LineFile::Open(dir.File("no/such/dir").c_str()), nullptr);
  EXPECT_EQ(errno, ENOENT);
}

// scripts/windows-check.sh runs this with the process's file-size limit in
// ZOL_TEST_FILE_SIZE_LIMIT (bytes).
TEST_F(WindowsLineFileTest, LineCrossingTheSizeLimitLeavesNoFragment) {
  const char* limitText = std::getenv("ZOL_TEST_FILE_SIZE_LIMIT");
  if (limitText == nullptr || *limitText == '\0')
    GTEST_SKIP() << "needs a file-size limit, given in ZOL_TEST_FILE_SIZE_LIMIT";
  const size_t limit = std::strtoull(limitText, nullptr, 10);
  ASSERT_GT(limit, 16U);
  // Room for 10 more bytes.
  const std::string kept = std::string(limit - 12, 'k') + "\r\n";
  ASSERT_TRUE(WriteFile(path, kept));
  std::unique_ptr<LineFile> file = LineFile::Open(path.c_str());
  ASSERT_NE(file, nullptr);
  file->AppendLine("a line that crosses it");
  EXPECT_EQ(ReadFile(path), kept);
  file->AppendLine("ok");
  EXPECT_EQ(ReadFile(path), kept + "ok\r\n");
  file->AppendLine("again too long");
  file->AppendLine("ok");
  EXPECT_EQ(ReadFile(path), kept + "ok\r\nok\r\n");
  // As on Linux: a write the limit cut short.
  EXPECT_EQ(file->Close(), EFBIG);
}

}  // namespace
}  // namespace zol::test
