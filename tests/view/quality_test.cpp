// The metadata file and the quality flags, as tables of cases.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "view/dataset.h"
#include "view/meta.h"
#include "view/nccsv_writer.h"
#include "view/qc.h"
#include "view/summary.h"

namespace zol::view {
namespace {

using zol::test::TempDir;

TEST(ViewMeta, ReadsGlobalsColumnsAndComments) {
  Meta meta;
  std::string error;
  ASSERT_TRUE(
      ParseMeta("# a cruise\ntitle = Nitrate, Leg 2 \n\n  latitude = -54.5\r\n"
                "KIRN NITRATE.units = umol/L\nKIRN NITRATE.fail_min = -5\n"
                "KIRN NITRATE.fail_max=100\nCTD TEMP.flat_suspect = 3\n",
                meta, error))
      << error;
  ASSERT_EQ(meta.globals.size(), 1u);
  EXPECT_EQ(meta.globals[0].first, "title");
  EXPECT_EQ(meta.globals[0].second, "Nitrate, Leg 2");
  EXPECT_EQ(meta.latitude, -54.5);
  EXPECT_EQ(meta.columns["KIRN NITRATE"].units, "umol/L");
  EXPECT_EQ(meta.columns["KIRN NITRATE"].failMin, -5.0);
  EXPECT_EQ(meta.columns["KIRN NITRATE"].failMax, 100.0);
  EXPECT_EQ(meta.columns["CTD TEMP"].flatSuspect, 3.0);
}

TEST(ViewMeta, TakesAFlatLineCountPastAnyIntegerRange) {
  Meta meta;
  std::string error;
  ASSERT_TRUE(ParseMeta("CTD TEMP.flat_fail = 1e300\n", meta, error)) << error;
  EXPECT_EQ(meta.columns["CTD TEMP"].flatFail, 1e300);
}

TEST(ViewMeta, RefusesAFaultyLineWithItsNumber) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"title = x\njust words\n", "line 2: expected key = value"},
      {"title =\n", "line 1: no value for \"title\""},
      {"# c\n\nKIRN NITRATE.fail_min = low\n", "line 3: fail_min needs a number"},
      {"KIRN NITRATE.colour = red\n", "line 1: unknown column setting \"colour\""},
      {"KIRN NITRATE.fail_min = 5\nKIRN NITRATE.fail_max = 1\n",
       "line 2: KIRN NITRATE: fail_min above fail_max"},
      {"CTD TEMP.flat_fail = 1.5\n",
       "line 1: CTD TEMP: a flat line count is a whole number of "
       "at least 2"},
      {"history = mine\n", "line 1: \"history\" is written from the data"},
      {"my title = x\n", "line 1: \"my title\" is not an attribute name"},
      {"title = a\ntitle = b\n", "line 2: \"title\" given twice"},
      {"latitude = 91\n", "line 1: latitude needs degrees from -90 to 90"},
      {".units = m\n", "line 1: no column before \".\""},
  };
  for (const auto& c : cases) {
    Meta meta;
    std::string error;
    EXPECT_FALSE(ParseMeta(c.text, meta, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

// Flags of a run of values; NaN stands for a missing one.
std::vector<int> Flags(const ColumnMeta& limits, const std::vector<double>& values) {
  QcColumn test(limits);
  std::vector<int> flags;
  for (const double value : values) {
    const std::optional<QcFlag> flag =
        test.Push(std::isnan(value) ? std::nullopt : std::optional<double>(value));
    if (flag) flags.push_back(*flag);
  }
  if (const std::optional<QcFlag> flag = test.Finish()) flags.push_back(*flag);
  return flags;
}

TEST(ViewQc, FlagsGrossRangeSpikesAndFlatLines) {
  const double nan = std::nan("");
  ColumnMeta range;
  range.failMin = 0;
  range.failMax = 50;
  range.suspectMin = 5;
  range.suspectMax = 40;
  ColumnMeta spiky = range;
  spiky.spikeSuspect = 3;
  spiky.spikeFail = 5;
  ColumnMeta flat;
  flat.flatSuspect = 3;
  flat.flatFail = 4;
  flat.flatTolerance = 0.01;
  const struct {
    const char* what;
    ColumnMeta limits;
    std::vector<double> values;
    std::vector<int> flags;
  } cases[] = {
      {"no limits: nothing is called good", {}, {1, 2, 3}, {2, 2, 2}},
      {"gross range", range, {20, 41, 51, -1, 4, nan}, {1, 3, 4, 4, 3, 9}},
      // Spike defaults to a tenth and a fifth of the fail range: 5 and 10.
      {"spike, default thresholds", range, {20, 20, 27, 20, 20}, {1, 1, 3, 1, 1}},
      {"spike, own thresholds", spiky, {20, 24, 20, 20, 26, 20, 20}, {1, 3, 1, 1, 4, 1, 1}},
      {"spike not judged beside a missing value", spiky, {20, nan, 35, 20}, {1, 9, 1, 1}},
      // Flat line alone may warn but never passes a value.
      {"flat line", flat, {7, 7.005, 7, 7, 8, 8}, {2, 2, 3, 4, 2, 2}},
      {"flat line restarts after a gap", flat, {7, 7, nan, 7, 7}, {2, 2, 9, 2, 2}},
      {"default flat line: five equal values", range, {9, 9, 9, 9, 9, 9}, {1, 1, 1, 1, 3, 3}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Flags(c.limits, c.values), c.flags) << c.what;

  QcColumn counted(range);
  for (const double value : {20.0, 45.0, 60.0})
    counted.Push(value);
  counted.Push(std::nullopt);
  counted.Finish();
  EXPECT_EQ(counted.Counts(), (std::array<uint64_t, 5>{1, 0, 1, 1, 1}));
}

// Without a metadata file the sensor's own range is the fail range; the
// file overrides it limit by limit.
TEST(ViewQc, LimitsComeFromTheSensorUnlessTheMetadataFileGivesThem) {
  Meta meta;
  std::string error;
  ASSERT_TRUE(
      ParseMeta("KIRN NITRATE.fail_max = 60\nCTD TEMP.fail_min = -2\n"
                "CTD TEMP.fail_max = 35\nCTD DEPTH.fail_max = 100\n",
                meta, error));
  const struct {
    const char* column;
    const Meta* meta;
    std::optional<double> min, max;
    std::string source;
  } cases[] = {
      {"KIRN NITRATE", nullptr, -5, 3000, "default"},
      {"FOOBAR PH VALUE", nullptr, 0, 14, "default"},
      {"CTD TEMP", nullptr, -2.5, 40, "default"},
      {"CTD SALINITY", nullptr, 0, 42, "default"},
      {"CTD DEPTH", nullptr, std::nullopt, std::nullopt, "none"},
      {"KIRN NITRATE", &meta, -5, 60, "default and metadata file"},
      {"CTD TEMP", &meta, -2, 35, "metadata file"},
      {"CTD DEPTH", &meta, std::nullopt, 100, "metadata file"},
  };
  for (const auto& c : cases) {
    const QcLimits limits = LimitsFor(c.column, c.meta);
    EXPECT_EQ(limits.limits.failMin, c.min) << c.column;
    EXPECT_EQ(limits.limits.failMax, c.max) << c.column;
    EXPECT_EQ(limits.source, c.source) << c.column;
  }
}

// Rows as a writer receives them, chunk by chunk.
struct RowsSeen : DatasetWriter {
  bool Begin(const Schema& schema, std::string&) override {
    for (size_t v = 0; v < schema.variables.size(); ++v) {
      if (schema.variables[v].name == "kirn_nitrate_qc") qc = v;
    }
    return true;
  }
  bool Write(const Chunk& chunk, std::string&) override {
    chunks.push_back(chunk.rows);
    for (size_t row = 0; row < chunk.rows; ++row) {
      times.push_back(chunk.numbers[0][row]);
      flags.push_back(static_cast<int>(chunk.numbers[qc][row]));
    }
    return true;
  }
  bool End(std::string&) override { return true; }
  size_t qc = 0;
  std::vector<size_t> chunks;
  std::vector<double> times;
  std::vector<int> flags;
};

// Past one chunk, rows and flags carry on across its end: a spike on the
// last row of the first chunk is judged by the first row of the next.
TEST(ViewExport, ChunksKeepRowsAndFlagsAcrossTheirEnds) {
  TempDir dir;
  const std::string path = dir.File("ZOL0042_KIRN.dat");
  {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 9000; ++i) {
      // Alternating, so no flat line.
      const std::string nitrate = i == kChunkRows - 1 ? "60.0" : i % 2 ? "20.01" : "20.02";
      out << "0x0007, ZOL0042, " << FormatTime(1796688000 + 60 * i)
          << ", 0, 10.00, 12.5, 34.9, 0, 1, 0, 0, 14.20, 18.5, 11.95, 0.212, 48200, 1130, "
             "812.0, 3.20, 35.01, "
          << nitrate << ", 0.0042, 35, 85, 0320BB80, 812\n";
    }
  }
  ExportRequest request;
  request.files = {path};
  std::string error;
  ASSERT_TRUE(
      ParseMeta("KIRN NITRATE.fail_min = 0\nKIRN NITRATE.fail_max = 100\n"
                "KIRN NITRATE.spike_suspect = 15\nKIRN NITRATE.spike_fail = 25\n",
                request.meta, error));
  RowsSeen seen;
  EXPECT_TRUE(ExportFiles(request, seen, stderr));
  EXPECT_EQ(seen.chunks, (std::vector<size_t>{kChunkRows, kChunkRows, 9000 - 2 * kChunkRows}));
  ASSERT_EQ(seen.times.size(), 9000u);
  EXPECT_EQ(seen.times[kChunkRows], 1796688000 + 60.0 * kChunkRows);
  EXPECT_EQ(seen.times.back(), 1796688000 + 60.0 * 8999);
  std::vector<int> expected(9000, kQcPass);
  // 40 from its neighbours' mean; they are 20 from theirs.
  expected[kChunkRows - 2] = kQcSuspect;
  expected[kChunkRows - 1] = kQcFail;
  expected[kChunkRows] = kQcSuspect;
  EXPECT_EQ(seen.flags, expected);
}

TEST(ViewExport, NamesAndNccsvStrings) {
  EXPECT_EQ(VariableName("KIRN NITRATE"), "kirn_nitrate");
  EXPECT_EQ(VariableName("KIRN_ERROR COUNTER"), "kirn_error_counter");
  EXPECT_EQ(VariableName("PACKED HEX DATA"), "packed_hex_data");
  EXPECT_EQ(VariableName("2ND (V)"), "v_2nd_v");
  EXPECT_EQ(IsoTime(1714557600), "2024-05-01T10:00:00Z");
  EXPECT_EQ(NccsvString("ZOL0042", false), "ZOL0042");
  EXPECT_EQ(NccsvString("ZOL0042", true), "\"ZOL0042\"");
  EXPECT_EQ(NccsvString("a,b", false), "\"a,b\"");
  EXPECT_EQ(NccsvString(" x", false), "\" x\"");
  EXPECT_EQ(NccsvString("say \"hi\"\nback\\slash\ttab\x01", false),
            "\"say \"\"hi\"\"\\nback\\\\slash\\ttab\\u0001\"");
}

}  // namespace
}  // namespace zol::view
