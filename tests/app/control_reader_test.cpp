// The control socket's command reader: lines cut from any bytes, the bound
// on a line, the commands and the reply to anything else.
#include "app/control_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zol::test {
namespace {

// Feeds `chunks` one by one and lists what the reader gives: each line, or
// "<too long>".
std::vector<std::string> Read(const std::vector<std::string>& chunks) {
  ControlLineReader reader;
  std::vector<std::string> out;
  for (const std::string& chunk : chunks) {
    reader.Append(chunk.data(), chunk.size());
    std::string line;
    for (auto result = reader.Next(&line); result != ControlLineReader::Result::kNone;
         result = reader.Next(&line)) {
      if (result == ControlLineReader::Result::kTooLong) {
        out.push_back("<too long>");
        return out;
      }
      out.push_back(line);
    }
  }
  return out;
}

TEST(ControlLineReaderTest, CutsLinesFromAnyChunksAndBoundsThem) {
  const std::string longest(kMaxControlLine, 'x');
  struct Case {
    std::vector<std::string> chunks;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {{"status\n"}, {"status"}},
      {{"sta", "tus\r\nsam", "ple\n"}, {"status", "sample"}},
      {{"\n\n"}, {"", ""}},
      {{"half a line"}, {}},
      {{longest + "\n"}, {longest}},
      {{longest + "\r\n"}, {longest}},
      {{longest + "y\n"}, {"<too long>"}},
      {{longest, "yz"}, {"<too long>"}},
      {{std::string(1 << 20, 'z')}, {"<too long>"}},
      {{"a\nb\n" + longest + "yy"}, {"a", "b", "<too long>"}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Read(c.chunks), c.lines) << c.chunks.front().substr(0, 40);
}

TEST(ControlLineReaderTest, GivesWhatFollowsTheLinesTaken) {
  ControlLineReader reader;
  const std::string bytes = "terminal\nW\r\x0bstatus\n";
  reader.Append(bytes.data(), bytes.size());
  std::string line;
  ASSERT_EQ(reader.Next(&line), ControlLineReader::Result::kLine);
  EXPECT_EQ(reader.TakeRest(), "W\r\x0bstatus\n");
  EXPECT_EQ(reader.Buffered(), 0u);
}

TEST(ControlCommandTest, NamesTheCommandsAndEscapesTheRest) {
  const std::vector<std::pair<std::string, ControlCommand>> commands = {
      {"status", ControlCommand::kStatus},     {" sample\t", ControlCommand::kSample},
      {"terminal", ControlCommand::kTerminal}, {"follow", ControlCommand::kFollow},
      {"stop", ControlCommand::kStop},         {"", ControlCommand::kNone},
      {"  ", ControlCommand::kNone},           {"STATUS", ControlCommand::kUnknown},
      {"status now", ControlCommand::kUnknown}};
  for (const auto& [line, command] : commands)
    EXPECT_EQ(ParseControlCommand(line), command) << line;

  const std::vector<std::pair<std::string, std::string>> replies = {
      {"hello", R"({"error":"unknown command: hello"})"},
      {std::string("a\0\x1f\"\\\x7f\xff", 7),
       R"({"error":"unknown command: a\u0000\u001f\"\\\u007f\u00ff"})"},
      {std::string(50, 'q'), R"({"error":"unknown command: )" + std::string(40, 'q') + "\"}"},
  };
  for (const auto& [line, reply] : replies)
    EXPECT_EQ(UnknownCommandReply(line), reply);
}

}  // namespace
}  // namespace zol::test
