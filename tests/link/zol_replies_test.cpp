// The ZOL's replies are untrusted text; these pure checks decide what the
// system answers, so every field rule and every message is pinned here.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdint>
#include <string>
#include <vector>

#include "link/zol_protocol.h"

namespace zol {
namespace {

struct CommandCase {
  int64_t seconds;
  float temp, sal, pressure;
  const char* expected;  // nullptr: refused
};

TEST(FormatCtdCommandTest, WritesTheFieldsOrRefusesWhatCannotFit) {
  const std::vector<CommandCase> cases = {
      {1000, 12.34f, 35.5f, -5.0f, "CTD,1000,12.3400,35.5000,-5.00"},
      {1705322096, 20.0f, 35.0f, -5.0f, "CTD,1705322096,20.0000,35.0000,-5.00"},
      {1705322096, 15.1234f, 33.5678f, 12.345f, "CTD,1705322096,15.1234,33.5678,12.35"},
      {1000, 12.34567f, 0.0f, 0.0f, "CTD,1000,12.3457,0.0000,0.00"},
      // Times go out as their low 32 bits.
      {(int64_t{1} << 32) + 1000, 1.0f, 2.0f, 3.0f, "CTD,1000,1.0000,2.0000,3.00"},
      {-1, 1.0f, 2.0f, 3.0f, "CTD,4294967295,1.0000,2.0000,3.00"},
      // Below 1e28 in magnitude everything fits, even with the longest time.
      {UINT32_MAX, -9.9e27f, -9.9e27f, -9.9e27f, ""},
      {1000, FLT_MAX, FLT_MAX, FLT_MAX, nullptr},
      {1000, -1e38f, 1e38f, 1e38f, nullptr},
  };
  for (const CommandCase& c : cases) {
    char buf[kCtdCommandSize];
    const bool fits = FormatCtdCommand(buf, sizeof buf, c.seconds, c.temp, c.sal, c.pressure);
    if (c.expected == nullptr) {
      EXPECT_FALSE(fits) << c.temp;
      EXPECT_STREQ(buf, "");
    } else {
      EXPECT_TRUE(fits) << c.temp;
      if (*c.expected != '\0') {
        EXPECT_STREQ(buf, c.expected);
      }
    }
  }
}

struct EchoCase {
  const char* reply;
  CtdEchoVerdict verdict;
  const char* message;
};

// Values sent in these cases: seconds 1000, T 12.34, S 35.5, P -5.0.
TEST(CheckCtdEchoTest, ChecksEachFieldInOrderWithItsMessage) {
  using enum CtdEchoVerdict;
  const std::vector<EchoCase> cases = {
      {"CTD,1000,12.3400,35.5000,-5.00", kAccept, ""},
      {"echo> CTD,1000,12.3400,35.5000,-5.00 <", kAccept, ""},
      {"CTD,1000,12.3400,35.5000,-4.60", kAccept, ""},
      {"CTD,1000,12.3400,35.5000,-5.50", kAccept, ""},
      {"CTD,1000,12.3400,35.5000,-5.00,extra,fields", kAccept, ""},
      {"CTD,,1000,,12.3400,35.5000,,,-5.00", kAccept, ""},
      {"CTD,+1000,12.34,35.5,-5", kAccept, ""},
      {"CTD,1000,12.3400,35.5000,-5.60", kRefuse, "NAK,CTD,PMatchErr -5.000000, -5.60\n"},
      {"CTD,1000,12.3400,35.5000", kRefuse, ""},
      {"CTD,", kRefuse, ""},
      {"CTD,-1000,12.3400,35.5000,-5.00", kRefuse, "NAK,CTD,ESignErr: -1000\n"},
      {"CTD,10-00,x", kRefuse, "NAK,CTD,ESignErr: 10-00\n"},
      {"CTD,4294967296,12.34", kRefuse, "NAK,CTD,EOverflowErr: 4294967296\n"},
      {"CTD,99999999999999999999999,1", kRefuse, "NAK,CTD,EOverflowErr: 99999999999999999999999\n"},
      {"CTD,0,12.3400,35.5000,-5.00", kRefuse, "NAK,CTD,EConvertErr: 0\n"},
      {"CTD,abc,12.3400", kRefuse, "NAK,CTD,EConvertErr: abc\n"},
      {"CTD,1001,12.3400,35.5000,-5.00", kRefuse, "NAK,CTD,EMatchErr 1000, 1001\n"},
      {"CTD,1000,1e999,35.5000,-5.00", kRefuse, "NAK,CTD,TOverflowErr: 1e999\n"},
      {"CTD,1000,1e39,35.5000,-5.00", kRefuse, "NAK,CTD,TOverflowErr: 1e39\n"},
      {"CTD,1000,x,35.5000,-5.00", kRefuse, "NAK,CTD,TConvertErr: x\n"},
      {"CTD,1000,0,35.5000,-5.00", kRefuse, "NAK,CTD,TMatchErr 12.340000, 0\n"},
      {"CTD,1000,12.3401,35.5000,-5.00", kRefuse, "NAK,CTD,TMatchErr 12.340000, 12.3401\n"},
      {"CTD,1000,12.3400,1e-400,-5.00", kRefuse, "NAK,CTD,SOverflowErr: 1e-400\n"},
      {"CTD,1000,12.3400,zz,-5.00", kRefuse, "NAK,CTD,SConvertErr: zz\n"},
      {"CTD,1000,12.3400,35.6,-5.00", kRefuse, "NAK,CTD,SMatchErr 35.500000, 35.6\n"},
      {"CTD,1000,12.3400,35.5000,-1e999", kRefuse, "NAK,CTD,POverflowErr: -1e999\n"},
      {"CTD,1000,12.3400,35.5000,p", kRefuse, "NAK,CTD,PConvertErr: p\n"},
      {"CTD,1000,12.3400,35.5000,nan", kRefuse, "NAK,CTD,PMatchErr -5.000000, nan\n"},
      {"CTD,1000,12.3400,35.5000,inf", kRefuse, "NAK,CTD,PMatchErr -5.000000, inf\n"},
      {"ctd,1000,12.3400,35.5000,-5.00", kNoEcho, ""},
      {"NAK", kNoEcho, ""},
      {"", kNoEcho, ""},
  };
  for (const EchoCase& c : cases) {
    const CtdEchoCheck check = CheckCtdEcho(c.reply, 1000, 12.34f, 35.5f, -5.0f);
    EXPECT_EQ(check.verdict, c.verdict) << c.reply;
    EXPECT_EQ(check.message, c.message) << c.reply;
  }
  EXPECT_EQ(CheckCtdEcho(nullptr, 1000, 12.34f, 35.5f, -5.0f).verdict, kNoEcho);
}

TEST(CheckCtdEchoTest, ValuesWithMoreDecimalsThanSentAreRefusedEvenWhenEchoed) {
  const CtdEchoCheck check =
      CheckCtdEcho("CTD,1000,12.3457,35.5000,-5.00", 1000, 12.34567f, 35.5f, -5.0f);
  EXPECT_EQ(check.verdict, CtdEchoVerdict::kRefuse);
  EXPECT_EQ(check.message, "NAK,CTD,TMatchErr 12.345670, 12.3457\n");
}

TEST(CheckCtdEchoTest, TheTimeFieldIsComparedAsItsLow32Bits) {
  const int64_t seconds = (int64_t{1} << 32) + 1000;
  EXPECT_EQ(CheckCtdEcho("CTD,1000,1,2,3", seconds, 1.0f, 2.0f, 3.0f).verdict,
            CtdEchoVerdict::kAccept);
  EXPECT_EQ(CheckCtdEcho("CTD,999,1,2,3", seconds, 1.0f, 2.0f, 3.0f).message,
            "NAK,CTD,EMatchErr 1000, 999\n");
}

TEST(CheckCtdEchoTest, HugeAndBinaryRepliesAreHandled) {
  std::string longToken = "CTD,1000," + std::string(5000, '9');
  const CtdEchoCheck check = CheckCtdEcho(longToken.c_str(), 1000, 12.34f, 35.5f, -5.0f);
  EXPECT_EQ(check.verdict, CtdEchoVerdict::kRefuse);
  EXPECT_EQ(check.message.rfind("NAK,CTD,TOverflowErr: 9999", 0), 0u);
  EXPECT_EQ(check.message.size(), std::string("NAK,CTD,TOverflowErr: \n").size() + 5000);
  EXPECT_EQ(CheckCtdEcho("CTD,\x01\xff\x80,\x7f", 1000, 1.0f, 2.0f, 3.0f).message,
            "NAK,CTD,EConvertErr: \x01\xff\x80\n");
}

TEST(ZolTimeRepliesTest, QueryReplyValueFollowsTheQuestionMarkAndComma) {
  const std::vector<std::pair<const char*, int64_t>> cases = {
      {"RTC,?,1705322096", 1705322096},
      {"junk RTC,?,1705322096 junk", 1705322096},
      {"?,2147483647", 2147483647},
      {"?,  42abc", 42},
      {"?,2147483648", 0},
      {"?,99999999999999999999999", 0},
      {"?,0", 0},
      {"?,-5", 0},
      {"?,abc", 0},
      {"?x,y,12", 0},         // the first comma after the '?' is followed by y
      {"a,?b,7", 7},          // commas before the '?' do not count
      {"RTC,1705322096", 0},  // no '?'
      {"RTC?", 0},            // no ',' after it
      {"", 0},
  };
  for (const auto& [reply, expected] : cases)
    EXPECT_EQ(ZolTimeFromQueryReply(reply), expected) << reply;
  EXPECT_EQ(ZolTimeFromQueryReply(nullptr), 0);
}

TEST(ZolTimeRepliesTest, SetReplyValueIsTheTextAfterTheThirdComma) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"ACK,RTC,SET,1705322096", "1705322096"},
      {"a,b,c,d,e", "d,e"},
      {"a,b,c,", ""},
      {",,,x", "x"},
      {"ACK,RTC", nullptr},
      {"", nullptr},
  };
  for (const auto& [reply, expected] : cases) {
    const char* field = ZolTimeSetField(reply);
    if (expected == nullptr) {
      EXPECT_EQ(field, nullptr) << reply;
    } else {
      ASSERT_NE(field, nullptr) << reply;
      EXPECT_STREQ(field, expected);
    }
  }
  EXPECT_EQ(ZolTimeSetField(nullptr), nullptr);
  EXPECT_EQ(ZolTimeValue("1705322096,x"), 1705322096);
  EXPECT_EQ(ZolTimeValue("-1"), 0);
  EXPECT_EQ(ZolTimeValue(nullptr), 0);
}

}  // namespace
}  // namespace zol
