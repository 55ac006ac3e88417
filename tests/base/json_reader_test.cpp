#include "base/json_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "base/json_text.h"

namespace zol {
namespace {

JsonValue Parsed(std::string_view text) {
  JsonValue value;
  std::string error;
  EXPECT_TRUE(ParseJson(text, &value, &error)) << text << ": " << error;
  return value;
}

struct StringCase {
  const char* json;
  std::string utf8;
};

TEST(JsonReaderTest, StringsWithEveryEscape) {
  const StringCase cases[] = {
      {R"("")", ""},
      {R"("plain")", "plain"},
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {R"("\u0000\u001F")", std::string("\0\x1f", 2)},
      {R"("\u00e9\u00C3")", "\xc3\xa9\xc3\x83"},
      {R"("\u20AC")", "\xe2\x82\xac"},
      {R"("\uD83D\uDE00")", "\xf0\x9f\x98\x80"},
      {"\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\"", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
  };
  for (const StringCase& c : cases) {
    const JsonValue value = Parsed(c.json);
    EXPECT_TRUE(value.IsString()) << c.json;
    EXPECT_EQ(value.Text(), c.utf8) << c.json;
  }
}

struct NumberCase {
  const char* json;
  double number;
  std::optional<int64_t> integer;
};

TEST(JsonReaderTest, NumbersAndIntegers) {
  const NumberCase cases[] = {
      {"0", 0, 0},
      {"-0", 0, 0},
      {"42", 42, 42},
      {"-7", -7, -7},
      {"2.5", 2.5, std::nullopt},
      {"1e3", 1000, std::nullopt},
      {"1E-2", 0.01, std::nullopt},
      {"9223372036854775807", 9223372036854775807.0, INT64_MAX},
      {"9223372036854775808", 9223372036854775808.0, std::nullopt},
  };
  for (const NumberCase& c : cases) {
    const JsonValue value = Parsed(c.json);
    EXPECT_TRUE(value.IsNumber()) << c.json;
    EXPECT_DOUBLE_EQ(value.Number(), c.number) << c.json;
    EXPECT_EQ(value.Integer(), c.integer) << c.json;
  }
}

TEST(JsonReaderTest, ObjectsArraysAndLiterals) {
  const JsonValue value =
      Parsed(" {\"a\": [1, true, false, null, {}], \"b\": {\"c\": \"d\"}, \"e\": []}\r\n");
  ASSERT_TRUE(value.IsObject());
  ASSERT_EQ(value.Members().size(), 3u);
  const JsonValue* a = value.Find("a");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->Items().size(), 5u);
  EXPECT_EQ(a->Items()[0].Integer(), 1);
  EXPECT_TRUE(a->Items()[1].Bool());
  EXPECT_TRUE(a->Items()[2].IsBool());
  EXPECT_FALSE(a->Items()[2].Bool());
  EXPECT_TRUE(a->Items()[3].IsNull());
  EXPECT_TRUE(a->Items()[4].IsObject());
  EXPECT_EQ(value.Find("b")->Find("c")->Text(), "d");
  EXPECT_TRUE(value.Find("e")->Items().empty());
  EXPECT_EQ(value.Find("z"), nullptr);
  EXPECT_EQ(value.Find("b")->Integer(), std::nullopt);
}

TEST(JsonReaderTest, RefusesWhatIsNotStrictJson) {
  const char* const cases[] = {"",
                               " ",
                               "{",
                               "[1,]",
                               "{\"a\":1,}",
                               "{a:1}",
                               "{\"a\" 1}",
                               "[1 2]",
                               "tru",
                               "nul",
                               "True",
                               "01",
                               "-",
                               "1.",
                               ".5",
                               "1e",
                               "+1",
                               "0x10",
                               "NaN",
                               "1e999",
                               "\"open",
                               "\"a\nb\"",
                               "\"\\x41\"",
                               "\"\\u12\"",
                               "\"\\u12G4\"",
                               "\"\\uDC00\"",
                               "\"\\uD800\"",
                               "\"\\uD800\\u0041\"",
                               "\"\xff\"",
                               "\"\xc0\xaf\"",
                               "\"\xed\xa0\x80\"",
                               "\"\xe2\x82\"",
                               "\"\xf4\x90\x80\x80\"",
                               "{\"a\":1,\"a\":2}",
                               "1 2",
                               "[]]",
                               "'a'"};
  for (const char* text : cases) {
    JsonValue value;
    std::string error;
    EXPECT_FALSE(ParseJson(text, &value, &error)) << text;
    EXPECT_EQ(error.rfind("at byte ", 0), 0u) << text << ": " << error;
  }
}

TEST(JsonReaderTest, LimitsOnSizeDepthAndValues) {
  const JsonLimits limits{.maxBytes = 64, .maxDepth = 3, .maxValues = 5};
  struct LimitCase {
    std::string text;
    bool accepted;
  };
  const LimitCase cases[] = {
      {"[[[1]]]", true},
      {"[[[[1]]]]", false},
      {"{\"a\":{\"b\":{\"c\":{}}}}", false},
      {"[1,2,3,4]", true},
      {"[1,2,3,4,5]", false},
      {"\"" + std::string(62, 'x') + "\"", true},
      {"\"" + std::string(63, 'x') + "\"", false},
  };
  for (const LimitCase& c : cases) {
    JsonValue value;
    std::string error;
    EXPECT_EQ(ParseJson(c.text, &value, &error, limits), c.accepted) << c.text << ": " << error;
  }
  // The default depth stops a deep nest long before the stack would.
  JsonValue value;
  std::string error;
  EXPECT_FALSE(ParseJson(std::string(100000, '['), &value, &error));
}

TEST(JsonReaderTest, Latin1BytesReadBackWhatJsonTextWrote) {
  std::string every;
  for (int byte = 0; byte < 256; ++byte)
    every.push_back(static_cast<char>(byte));
  const JsonValue value = Parsed(JsonString(every));
  EXPECT_EQ(Latin1Bytes(value.Text()), every);
  EXPECT_EQ(Latin1Bytes("\xc4\x80"), std::nullopt);          // U+0100
  EXPECT_EQ(Latin1Bytes("\xe2\x82\xac"), std::nullopt);      // U+20AC
  EXPECT_EQ(Latin1Bytes("\xf0\x9f\x98\x80"), std::nullopt);  // U+1F600
}

}  // namespace
}  // namespace zol
