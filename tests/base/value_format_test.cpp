#include "base/value_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace zol {
namespace {

struct IntFormatCase {
  const char* format;
  int32_t value;
  bool ok;
  const char* text;
};

TEST(ValueFormatTest, FormatInt32) {
  const IntFormatCase cases[] = {
      {"%lu", 30, true, "30"},
      {"%lu", -1, true, "4294967295"},
      {"%ld", -5, true, "-5"},
      {"%+02ld hrs", 0, true, "+0 hrs"},
      {"%d", INT32_MIN, true, "-2147483648"},
      {"%u", -2, true, "4294967294"},
      {"%llu", -1, true, "4294967295"},
      {"%lld", -7, true, "-7"},
      {"%05lx", 255, true, "000ff"},
      {"100%% %ld", 3, true, "100% 3"},
      // Anything but one integer conversion shows nothing.
      {"%s", 1, false, ""},
      {"%.2f", 1, false, ""},
      {"%ld %ld", 1, false, ""},
      {"plain", 1, false, ""},
      {"%*ld", 1, false, ""},
      {"%n", 1, false, ""},
      {"%hd", 1, false, ""},
      {"%1$ld", 1, false, ""},
      {"%", 1, false, ""},
  };
  for (const IntFormatCase& c : cases) {
    char out[32] = "junk";
    EXPECT_EQ(FormatInt32(out, sizeof out, c.format, c.value), c.ok) << c.format;
    EXPECT_STREQ(out, c.text) << c.format;
  }
  EXPECT_FALSE(FormatInt32(nullptr, 0, "%ld", 1));
}

TEST(ValueFormatTest, FormatInt32StaysInsideTheBuffer) {
  char out[4];
  EXPECT_TRUE(FormatInt32(out, sizeof out, "%lu", 123456));
  EXPECT_STREQ(out, "123");
}

TEST(ValueFormatTest, FormatFloat) {
  char out[32];
  EXPECT_TRUE(FormatFloat(out, sizeof out, "%.2f", 20.0f));
  EXPECT_STREQ(out, "20.00");
  EXPECT_TRUE(FormatFloat(out, sizeof out, "%lf", 0.5f));
  EXPECT_STREQ(out, "0.500000");
  EXPECT_TRUE(FormatFloat(out, sizeof out, "%.1Le", 1500.0f));
  EXPECT_STREQ(out, "1.5e+03");
  EXPECT_FALSE(FormatFloat(out, sizeof out, "%lu", 1.0f));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(FormatFloat(out, sizeof out, "%f%f", 1.0f));
}

TEST(ValueFormatTest, FormatNumberAndText) {
  char out[128];
  EXPECT_TRUE(FormatNumberAndText(out, sizeof out, "ZOL%04d_%s_2.dat", 42, "KIRN"));
  EXPECT_STREQ(out, "ZOL0042_KIRN_2.dat");
  EXPECT_TRUE(FormatNumberAndText(out, sizeof out, "ZOL%04u_%s.log", 9999, "PADO"));
  EXPECT_STREQ(out, "ZOL9999_PADO.log");
  EXPECT_FALSE(FormatNumberAndText(out, sizeof out, "%s_%d", 42, "KIRN"));
  EXPECT_STREQ(out, "");
  EXPECT_FALSE(FormatNumberAndText(out, sizeof out, "ZOL%04d.log", 42, "KIRN"));
  EXPECT_FALSE(FormatNumberAndText(out, sizeof out, "%ld%s", 42, "KIRN"));
  EXPECT_FALSE(FormatNumberAndText(out, sizeof out, "%d%s", 42, nullptr));
  char small[8];
  EXPECT_TRUE(FormatNumberAndText(small, sizeof small, "ZOL%04d_%s.log", 42, "KIRN"));
  EXPECT_STREQ(small, "ZOL0042");
}

struct IntScanCase {
  const char* text;
  const char* format;
  int result;
  int32_t value;  // 77 when untouched
};

TEST(ValueFormatTest, ScanInt32) {
  const IntScanCase cases[] = {
      {"12", "%lu", 1, 12},
      {"12abc", "%lu", 1, 12},
      {"abc", "%lu", 0, 77},
      {"   ", "%lu", EOF, 77},
      {"-1", "%lu", 1, -1},
      {"-5", "%lu", 1, static_cast<int32_t>(4294967291u)},
      {"4294967295", "%lu", 1, -1},
      {"4294967296", "%lu", 1, -1},
      {"99999999999999999999", "%lu", 1, -1},
      {"-4294967296", "%lu", 1, -1},
      {"-12", "%ld", 1, -12},
      {"2147483648", "%ld", 1, INT32_MAX},
      {"-2147483649", "%ld", 1, INT32_MIN},
      {"7", "%d", 1, 7},
      {"ff", "%lx", 1, 255},
      {"9", "%llu", 1, 9},
      {"5000000000", "%lld", 1, INT32_MAX},
      {"1", "%f", kBadScanFormat, 77},
      {"1", "%s", kBadScanFormat, 77},
      {"1", "%*lu", kBadScanFormat, 77},
      {"1", "%lu%lu", kBadScanFormat, 77},
      {"1", "%hu", kBadScanFormat, 77},
  };
  for (const IntScanCase& c : cases) {
    int32_t value = 77;
    EXPECT_EQ(ScanInt32(c.text, c.format, &value), c.result) << c.text << " " << c.format;
    EXPECT_EQ(value, c.value) << c.text << " " << c.format;
  }
}

TEST(ValueFormatTest, ScanFloat) {
  float value = 9.0f;
  EXPECT_EQ(ScanFloat("12.5x", "%f", &value), 1);
  EXPECT_EQ(value, 12.5f);
  EXPECT_EQ(ScanFloat("0.25", "%lf", &value), 1);
  EXPECT_EQ(value, 0.25f);
  EXPECT_EQ(ScanFloat("3", "%Lf", &value), 1);
  EXPECT_EQ(value, 3.0f);
  EXPECT_EQ(ScanFloat("abc", "%f", &value), 0);
  EXPECT_EQ(ScanFloat("  ", "%f", &value), EOF);
  EXPECT_EQ(value, 3.0f);
  EXPECT_EQ(ScanFloat("1", "%lu", &value), kBadScanFormat);
  EXPECT_EQ(ScanFloat("1", "%f %f", &value), kBadScanFormat);
  EXPECT_EQ(value, 3.0f);
}

}  // namespace
}  // namespace zol
