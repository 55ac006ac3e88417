#include "shore/rebuilder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace zol::shore {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;

// The lines of one ship file, each with its offset.
struct ShipFile {
  std::vector<std::string> lines;
  uint64_t Offset(std::size_t index) const {
    uint64_t offset = 0;
    for (std::size_t i = 0; i < index; ++i)
      offset += lines[i].size();
    return offset;
  }
  std::string Bytes(std::size_t count) const {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i)
      bytes += lines[i];
    return bytes;
  }
};

const ShipFile kShip{{"#ALL RECORDS\r\n", "DATE TIME,T\r\n", "2026/12/11 11:52:53,1.5\r\n",
                      "2026/12/11 12:52:53,\xe9\r\n", "2026/12/11 13:52:53,2\r\n"}};

LineMessage Line(std::size_t index, int64_t generation = 100, const ShipFile& ship = kShip) {
  return {"ZOL0042", "ZOL0042_KIRN.dat", generation, ship.Offset(index), ship.lines[index]};
}

class RebuilderTest : public ::testing::Test {
 protected:
  std::string Shore() const { return ReadFile(dir_.Path() + "/ZOL0042/ZOL0042_KIRN.dat"); }
  Rebuilder Make(RebuildLimits limits = {}) {
    return Rebuilder(dir_.Path(), limits,
                     [this](const std::string& line) { reports_.push_back(line); });
  }
  TempDir dir_;
  std::vector<std::string> reports_;
};

struct Step {
  std::size_t line;
  Outcome outcome;
  std::size_t linesInFile;  // the file holds the ship's first N lines
};

TEST_F(RebuilderTest, WritesOnlyTheContiguousFront) {
  const Step steps[] = {
      {0, Outcome::kWritten, 1},   {2, Outcome::kHeld, 1},    {3, Outcome::kHeld, 1},
      {2, Outcome::kDuplicate, 1}, {1, Outcome::kWritten, 4}, {0, Outcome::kDuplicate, 4},
      {3, Outcome::kDuplicate, 4}, {4, Outcome::kWritten, 5},
  };
  Rebuilder rebuilder = Make();
  for (const Step& step : steps) {
    EXPECT_EQ(rebuilder.Apply(Line(step.line)), step.outcome) << step.line;
    EXPECT_EQ(Shore(), kShip.Bytes(step.linesInFile)) << step.line;
  }
  EXPECT_TRUE(reports_.empty());
}

TEST_F(RebuilderTest, ARestartCarriesOnFromTheFileItsGenerationAndItsHeldLines) {
  {
    Rebuilder first = Make();
    EXPECT_EQ(first.Apply(Line(0)), Outcome::kWritten);
    EXPECT_EQ(first.Apply(Line(1)), Outcome::kWritten);
    EXPECT_EQ(first.Apply(Line(3)), Outcome::kHeld);
  }
  Rebuilder second = Make();
  EXPECT_EQ(second.Apply(Line(1)), Outcome::kDuplicate);
  EXPECT_EQ(second.Apply(Line(3)), Outcome::kDuplicate);
  EXPECT_EQ(second.Apply(Line(0, 99)), Outcome::kStale);
  EXPECT_EQ(second.Apply(Line(2)), Outcome::kWritten);
  EXPECT_EQ(Shore(), kShip.Bytes(4));
  EXPECT_FALSE(fs::exists(dir_.Path() + "/ZOL0042/.ZOL0042_KIRN.dat.held"));
}

TEST_F(RebuilderTest, ANewGenerationMovesTheOldFileAside) {
  const ShipFile next{{"#ALL RECORDS\n", "DATE TIME,T\n"}};
  {
    Rebuilder first = Make();
    EXPECT_EQ(first.Apply(Line(0)), Outcome::kWritten);
    EXPECT_EQ(first.Apply(Line(2)), Outcome::kHeld);
    EXPECT_EQ(first.Apply(Line(1, 200, next)), Outcome::kHeld);
  }
  // The generation and its held line are kept across a restart.
  Rebuilder second = Make();
  EXPECT_EQ(second.Apply(Line(1)), Outcome::kStale);
  EXPECT_EQ(second.Apply(Line(0, 200, next)), Outcome::kWritten);
  EXPECT_EQ(Shore(), next.Bytes(2));
  EXPECT_EQ(ReadFile(dir_.Path() + "/ZOL0042/ZOL0042_KIRN.dat.100"), kShip.Bytes(1));
}

TEST_F(RebuilderTest, BoundsAreKeptAndSaidOnce) {
  Rebuilder rebuilder = Make({.maxAhead = 60, .maxHeldLines = 1, .maxHeldBytes = 1000});
  EXPECT_EQ(rebuilder.Apply(Line(2)), Outcome::kHeld);
  EXPECT_EQ(rebuilder.Apply(Line(3)), Outcome::kRefused);  // no room
  EXPECT_EQ(rebuilder.Apply(Line(4)), Outcome::kRefused);  // too far ahead
  LineMessage huge = Line(4);
  huge.offset = uint64_t{1} << 62;
  EXPECT_EQ(rebuilder.Apply(huge), Outcome::kRefused);
  ASSERT_EQ(reports_.size(), 3u);
  EXPECT_NE(reports_[0].find("no room to hold the line at offset 52"), std::string::npos);
  EXPECT_NE(reports_[1].find("more than 60 bytes past the front at 0"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_.Path() + "/ZOL0042/ZOL0042_KIRN.dat"));
}

TEST_F(RebuilderTest, HostileMessagesWriteNothingOutsideTheFolder) {
  const fs::path inside = fs::path(dir_.Path()) / "shore";
  fs::create_directories(inside);
  Rebuilder rebuilder(inside, {}, [this](const std::string& line) { reports_.push_back(line); });
  const char* const messages[] = {
      R"({"station":"..","file":"x","generation":1,"offset":0,"line":"a","eol":"\n"})",
      R"({"station":"s","file":"../../x","generation":1,"offset":0,"line":"a","eol":"\n"})",
      R"({"station":"s","file":"/tmp/x","generation":1,"offset":0,"line":"a","eol":"\n"})",
      R"({"station":"s","file":"x","generation":1,"offset":0,"line":"a","eol":"\n")",
  };
  for (const char* message : messages)
    EXPECT_EQ(rebuilder.Handle("zolsampler/x/data", message), Outcome::kRefused) << message;
  ASSERT_EQ(reports_.size(), 4u);
  EXPECT_EQ(reports_[0].rfind("refused a message on zolsampler/x/data: ", 0), 0u);
  for (const auto& entry : fs::recursive_directory_iterator(dir_.Path()))
    EXPECT_EQ(entry.path(), inside) << entry.path();
}

}  // namespace
}  // namespace zol::shore
