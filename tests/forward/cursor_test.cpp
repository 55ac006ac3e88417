#include "forward/cursor.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <optional>
#include <string>

#include "support/temp_dir.h"

namespace zol::forward {
namespace {

TEST(CursorTest, ReadsBackOnlyWhatItWrites) {
  const Cursor cursors[] = {{0, 0}, {1234, 1796990000}, {UINT64_MAX, INT64_MAX}};
  for (const Cursor& cursor : cursors)
    EXPECT_EQ(ParseCursor(FormatCursor(cursor)), cursor) << FormatCursor(cursor);
  for (const char* bad : {"", "\n", "12 34", "12  34\n", " 12 34\n", "12 34 \n", "-1 34\n",
                          "12 -34\n", "12 3x\n", "12\n", "99999999999999999999 1\n",
                          "1 9223372036854775808\n", "12 34\n\n", "012 34\n", "12 034\n"})
    EXPECT_EQ(ParseCursor(bad), std::nullopt) << bad;
}

TEST(CursorTest, WrittenBesideItsDataFileAndRemovedWithIt) {
  test::TempDir dir;
  const std::string data = dir.File("ZOL0042_KIRN.dat");
  EXPECT_EQ(ReadCursor(data), std::nullopt);
  ASSERT_EQ(WriteCursor(data, {10, 20}), 0);
  ASSERT_EQ(WriteCursor(data, {30, 20}), 0);
  EXPECT_EQ(ReadCursor(data), (Cursor{30, 20}));
  EXPECT_EQ(test::ReadFile(dir.File("ZOL0042_KIRN.dat.sent")), "30 20\n");
  std::ofstream(dir.File("ZOL0042_KIRN.dat.sent")) << "garbage";
  EXPECT_EQ(ReadCursor(data), std::nullopt);
  RemoveCursor(data);
  EXPECT_FALSE(StatFile(dir.File("ZOL0042_KIRN.dat.sent")).exists);
  EXPECT_NE(WriteCursor(dir.File("missing/ZOL0042_KIRN.dat"), {1, 2}), 0);
}

TEST(CursorTest, AFilesSizeAndTheSecondItWasMade) {
  test::TempDir dir;
  const int64_t before = std::time(nullptr);
  std::ofstream(dir.File("ZOL0042_KIRN.dat"), std::ios::binary) << "12345\r\n";
  const FileFacts facts = StatFile(dir.File("ZOL0042_KIRN.dat"));
  EXPECT_TRUE(facts.exists);
  EXPECT_EQ(facts.size, 7u);
  EXPECT_GE(facts.bornSecond, before - 2);
  EXPECT_LE(facts.bornSecond, std::time(nullptr) + 2);
}

}  // namespace
}  // namespace zol::forward
