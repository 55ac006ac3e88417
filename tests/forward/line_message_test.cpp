#include "forward/line_message.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "forward/data_tail.h"
#include "support/temp_dir.h"

namespace zol::forward {
namespace {

struct MessageCase {
  std::string line;
  const char* eol;
  bool pump;
  const char* json;
};

TEST(LineMessageTest, HeadersAndRecordsByZolviewsRule) {
  view::Layout layout;
  layout.columns = {"CRC", "ID", "DATE TIME", "NITRATE", "NOTE"};
  layout.timeColumn = 2;
  const char* head =
      R"({"station":"ZOL0042","file":"ZOL0042_KIRN.dat","generation":1796990000,"offset":77,)";
  const MessageCase cases[] = {
      {"#ALL RECORDS", "\n", false, R"("line":"#ALL RECORDS","eol":"\n","kind":"header"})"},
      {"", "\r\n", false, R"("line":"","eol":"\r\n","kind":"header"})"},
      {"CFG,SENSOR,KIRN", "\n", false, R"("line":"CFG,SENSOR,KIRN","eol":"\n","kind":"header"})"},
      {"AB12, ZOL0042, 2026/12/11 11:52:53, 007.50, ", "\n", true,
       R"("line":"AB12, ZOL0042, 2026/12/11 11:52:53, 007.50, ","eol":"\n","kind":"record",)"
       R"("time":"2026-12-11T11:52:53Z","pump":true,"values":{"CRC":"AB12","ID":"ZOL0042",)"
       R"("DATE TIME":"2026/12/11 11:52:53","NITRATE":7.5,"NOTE":null}})"},
      {"AB12, ZOL0042, 2026/12/11 11:52:53, -1e3, nan", "\n", false,
       R"("line":"AB12, ZOL0042, 2026/12/11 11:52:53, -1e3, nan","eol":"\n","kind":"record",)"
       R"("time":"2026-12-11T11:52:53Z","pump":false,"values":{"CRC":"AB12","ID":"ZOL0042",)"
       R"("DATE TIME":"2026/12/11 11:52:53","NITRATE":-1000,"NOTE":"nan"}})"},
      // A bad date, a cut record, noise: lines, not records.
      {"AB12, ZOL0042, 2026/02/30 11:52:53, 1, 2", "\n", false,
       R"("line":"AB12, ZOL0042, 2026/02/30 11:52:53, 1, 2","eol":"\n","kind":"header"})"},
      {"AB12, ZOL0042, 2026/12/11 11:52:53, 1", "\n", false,
       R"("line":"AB12, ZOL0042, 2026/12/11 11:52:53, 1","eol":"\n","kind":"header"})"},
      {std::string("\x01\xe9\"", 3), "\n", false,
       R"("line":"\u0001\u00e9\"","eol":"\n","kind":"header"})"},
  };
  view::ParsedLine scratch;
  for (const MessageCase& c : cases) {
    const LineOrigin origin{"ZOL0042", "ZOL0042_KIRN.dat", 1796990000, 77, c.pump};
    EXPECT_EQ(LineMessage(origin, c.line, c.eol, layout, scratch), head + std::string(c.json));
  }
}

TEST(DataTailTest, WholeLinesWithTheirEndsAndOverlongOnesInPieces) {
  test::TempDir dir;
  const std::string path = dir.File("ZOL0042_KIRN.dat");
  const std::string longLine(kMaxPiece + 10, 'x');
  std::ofstream(path, std::ios::binary) << "a\nbc\r\n\n" << longLine << "\nunfinished";
  DataTail tail(path);
  std::vector<std::string> seen;
  TailLine line;
  for (uint64_t at = 0; tail.LineAt(at, &line); at = line.End())
    seen.push_back(std::to_string(line.offset) + ":" + std::to_string(line.text.size()) + "+" +
                   std::to_string(line.eol.size()));
  const std::string piece = std::to_string(kMaxPiece);
  const std::string after = std::to_string(7 + kMaxPiece);
  EXPECT_EQ(seen, (std::vector<std::string>{"0:1+1", "2:2+2", "6:0+1", "7:" + piece + "+0",
                                            after + ":10+1"}));
  const DataTail::Count count = tail.CountFrom(2);
  EXPECT_EQ(count.lines, 4u);
  EXPECT_EQ(count.end, 7 + longLine.size() + 1);
  // The last line goes once it is whole.
  std::ofstream(path, std::ios::binary | std::ios::app) << "\n";
  ASSERT_TRUE(tail.LineAt(count.end, &line));
  EXPECT_EQ(line.text, "unfinished");
}

}  // namespace
}  // namespace zol::forward
