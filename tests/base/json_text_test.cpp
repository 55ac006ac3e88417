#include "base/json_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace zol {
namespace {

struct EscapeCase {
  std::string bytes;
  const char* json;
};

TEST(JsonTextTest, StringsAreAsciiAndReadBackByteForByte) {
  const EscapeCase cases[] = {
      {"", "\"\""},
      {"plain 1.5,2", "\"plain 1.5,2\""},
      {"\"\\/", "\"\\\"\\\\/\""},
      {"\n\r\t", "\"\\n\\r\\t\""},
      {std::string("\0\x01\x1f", 3), "\"\\u0000\\u0001\\u001f\""},
      {"\x7f", "\"\\u007f\""},
      {"\x80\xff\xc3\xa9", "\"\\u0080\\u00ff\\u00c3\\u00a9\""},
  };
  for (const EscapeCase& c : cases)
    EXPECT_EQ(JsonString(c.bytes), c.json) << c.json;
  // Every byte: printable ASCII stays, everything else is escaped.
  for (int byte = 0; byte < 256; ++byte) {
    const std::string json = JsonString(std::string(1, static_cast<char>(byte)));
    for (const char c : json)
      EXPECT_TRUE(c >= 0x20 && c < 0x7F) << byte;
    const bool plain = byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\';
    EXPECT_EQ(json.size() == 3, plain) << byte;
  }
}

struct NumberCase {
  double value;
  const char* json;
};

TEST(JsonTextTest, NumbersAsJsonAllows) {
  const NumberCase cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {22.5, "22.5"},
      {-5.0, "-5"},
      {0.1, "0.1"},
      {1e20, "1e20"},
      {1e-7, "1e-07"},
      {std::nan(""), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
      {-std::numeric_limits<double>::infinity(), "null"},
  };
  for (const NumberCase& c : cases) {
    std::string out;
    AppendJsonNumber(&out, c.value);
    EXPECT_EQ(out, c.json);
  }
}

TEST(JsonTextTest, ObjectsAndTimes) {
  const std::string object = JsonObject()
                                 .Integer("cycle", 7)
                                 .String("state", "waiting")
                                 .Bool("alarm", false)
                                 .Null("ctd")
                                 .Raw("ports", "{}")
                                 .Number("t", 1.25)
                                 .Text();
  EXPECT_EQ(object,
            "{\"cycle\":7,\"state\":\"waiting\",\"alarm\":false,\"ctd\":null,\"ports\":{},"
            "\"t\":1.25}");
  EXPECT_EQ(JsonObject().Text(), "{}");
  EXPECT_EQ(IsoUtc(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(IsoUtc(1796990400), "2026-12-11T12:00:00Z");
}

}  // namespace
}  // namespace zol
