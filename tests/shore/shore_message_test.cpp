#include "shore/shore_message.h"

#include <gtest/gtest.h>

#include <string>

namespace zol::shore {
namespace {

// A good message with one member's JSON replaced ("" leaves it out).
std::string Message(const std::string& member = "", const std::string& json = "") {
  const std::pair<const char*, std::string> members[] = {
      {"station", R"("ZOL0042")"}, {"file", R"("ZOL0042_KIRN.dat")"}, {"generation", "1765453973"},
      {"offset", "120"},           {"line", R"("a,\u00e9\u0000")"},   {"eol", R"("\r\n")"},
      {"kind", R"("record")"}};
  std::string text = "{";
  for (const auto& [name, value] : members) {
    const std::string& chosen = name == member ? json : value;
    if (chosen.empty()) continue;
    if (text.size() > 1) text += ",";
    text += "\"" + std::string(name) + "\":" + chosen;
  }
  return text + "}";
}

TEST(ShoreMessageTest, ReadsTheLineAsItsStoredBytes) {
  LineMessage message;
  std::string error;
  ASSERT_TRUE(ParseLineMessage(Message(), &message, &error)) << error;
  EXPECT_EQ(message.station, "ZOL0042");
  EXPECT_EQ(message.file, "ZOL0042_KIRN.dat");
  EXPECT_EQ(message.generation, 1765453973);
  EXPECT_EQ(message.offset, 120u);
  EXPECT_EQ(message.bytes, std::string("a,\xe9\0\r\n", 6));
}

struct BadCase {
  std::string member;
  std::string json;  // "" leaves the member out
  const char* error;
};

TEST(ShoreMessageTest, RefusesWhatCouldEscapeTheFolderOrMisplaceALine) {
  const BadCase cases[] = {
      {"station", "", "no string \"station\""},
      {"station", "42", "no string \"station\""},
      {"station", R"("")", "not a plain name"},
      {"station", R"("..")", "not a plain name"},
      {"station", R"(".hidden")", "not a plain name"},
      {"station", R"("a/b")", "not a plain name"},
      {"file", R"("..\\x")", "not a plain name"},
      {"file", R"("a\\b")", "not a plain name"},
      {"file", R"("x..y")", "not a plain name"},
      {"file", R"("a\u0000b")", "not a plain name"},
      {"file", R"("/etc/passwd")", "not a plain name"},
      {"file", "\"" + std::string(kMaxNameBytes + 1, 'f') + "\"", "not a plain name"},
      {"file", R"("\u0100")", "above U+00FF"},
      {"generation", R"("1")", "no integer \"generation\""},
      {"generation", "1.5", "no integer \"generation\""},
      {"offset", "", "no integer \"offset\""},
      {"offset", "-1", "a negative \"offset\""},
      {"offset", "1e3", "no integer \"offset\""},
      {"offset", "99999999999999999999", "no integer \"offset\""},
      {"line", "null", "no string \"line\""},
      {"line", R"("a\u20acb")", "above U+00FF"},
      {"line", R"("a\nb")", "a line end inside"},
      {"eol", R"("\r")", "neither"},
      {"eol", R"("")", "neither"},
  };
  for (const BadCase& c : cases) {
    LineMessage message;
    std::string error;
    EXPECT_FALSE(ParseLineMessage(Message(c.member, c.json), &message, &error)) << c.json;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.json << ": " << error;
  }
  const char* const notObjects[] = {"", "[1]", "{\"station\":", "\"x\"", "{}{}"};
  for (const char* text : notObjects) {
    LineMessage message;
    std::string error;
    EXPECT_FALSE(ParseLineMessage(text, &message, &error)) << text;
  }
}

}  // namespace
}  // namespace zol::shore
