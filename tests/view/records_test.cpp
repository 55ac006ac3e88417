// How zolview tells the lines of a data file apart and reads their values.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "view/layout.h"
#include "view/packed_counts.h"
#include "view/record_parser.h"

namespace zol::view {
namespace {

const std::string kKirnRecord =
    "1A2B, ZOL0042, 2024/05/01 10:00:00, 1714557600, 10.00, 12.5000, 34.9000, 0, 1, 0, 0, 14.20, "
    "18.5, 11.95, 0.212, 48200, 1130, 812.0, 3.20, 35.01, 23.40, 0.0042, 35, 85, 0320BB80, 812";

LineKind KindOf(const std::string& line, const Layout* layout) {
  ParsedLine parsed;
  ClassifyLine(line, layout, parsed);
  return parsed.kind;
}

TEST(ViewLayout, ComesFromTheColumnLineOrTheFileName) {
  const Layout kirn = *LayoutForKind("KIRN");
  EXPECT_EQ(kirn.columns.size(), 26u);
  EXPECT_EQ(kirn.columns[kirn.mainColumn], "KIRN NITRATE");
  EXPECT_EQ(kirn.columns[kirn.timeColumn], "DATE TIME");
  EXPECT_FALSE(kirn.numeric[kirn.ColumnIndex("PACKED HEX DATA")]);
  EXPECT_TRUE(kirn.numeric[kirn.ColumnIndex("SW DC")]);
  const Layout pado = *LayoutForKind("PADO");
  EXPECT_EQ(pado.columns.size(), 22u);
  EXPECT_EQ(pado.columns[pado.mainColumn], "FOOBAR PH VALUE");

  EXPECT_EQ(LayoutFromFileName("ZOL0042_KIRN.dat")->kind, "KIRN");
  EXPECT_EQ(LayoutFromFileName("/data/run/ZOL0007_PADO_2.dat")->kind, "PADO");
  EXPECT_FALSE(LayoutFromFileName("ZOL0042_KIRNX.dat").has_value());
  EXPECT_FALSE(LayoutFromFileName("KIRN/ZOL0042.dat").has_value());
  EXPECT_FALSE(LayoutFromColumnLine("CRC; ID").has_value());
}

TEST(ViewRecords, AreToldFromEverythingElse) {
  const Layout kirn = *LayoutForKind("KIRN");
  EXPECT_EQ(KindOf(kKirnRecord, &kirn), LineKind::kRecord);
  EXPECT_EQ(KindOf(kKirnRecord + "\r", &kirn), LineKind::kRecord);
  EXPECT_EQ(KindOf(kKirnRecord, nullptr), LineKind::kUnlabeled);
  // The same line read with the other sensor's layout has too many fields.
  const Layout pado = *LayoutForKind("PADO");
  EXPECT_EQ(KindOf(kKirnRecord, &pado), LineKind::kCut);
  EXPECT_EQ(KindOf(kKirnRecord.substr(0, 80), &kirn), LineKind::kCut);
  EXPECT_EQ(KindOf(kKirnRecord + ", 1", &kirn), LineKind::kCut);
  EXPECT_EQ(KindOf("CFG,SENSOR,KIRN", &kirn), LineKind::kConfig);
  EXPECT_EQ(KindOf("#ALL RECORDS", &kirn), LineKind::kHeader);
  EXPECT_EQ(KindOf("CRC, ID, DATE TIME, UTC SECS", &kirn), LineKind::kHeader);
  EXPECT_EQ(KindOf("", &kirn), LineKind::kBlank);
  EXPECT_EQ(KindOf(" \t\r", &kirn), LineKind::kBlank);
  EXPECT_EQ(KindOf(std::string("CFG\0X", 5), &kirn), LineKind::kBinary);
  EXPECT_EQ(KindOf("\x1b[2J", &kirn), LineKind::kBinary);
  EXPECT_EQ(KindOf("caf\xc3\xa9", &kirn), LineKind::kBinary);
  EXPECT_EQ(KindOf(std::string(kMaxConfigLength + 1, 'C'), &kirn), LineKind::kStray);
  EXPECT_EQ(KindOf(std::string(kMaxConfigLength, 'C'), &kirn), LineKind::kConfig);
  std::string padded = kKirnRecord;
  padded.resize(kMaxRecordLength, 'X');
  EXPECT_EQ(KindOf(padded, &kirn), LineKind::kRecord);
  EXPECT_EQ(KindOf(padded + "X", &kirn), LineKind::kTooLong);
}

// Whatever the CRC field holds, the field count and the time decide; a line
// that is not a record is named for what it is, never "too long" below the
// record limit.
TEST(ViewRecords, AreKnownByTheirColumnsWhateverTheCrcField) {
  const Layout kirn = *LayoutForKind("KIRN");
  const std::string rest = kKirnRecord.substr(kKirnRecord.find(", "));
  struct Case {
    std::string line;
    LineKind kind;
  } cases[] = {
      {"0x0007" + rest, LineKind::kRecord},
      {"" + rest, LineKind::kRecord},
      {"12345678" + rest, LineKind::kRecord},
      {"crc?" + rest, LineKind::kRecord},
      {"0x0007" + rest + std::string(600, ' '), LineKind::kRecord},
      {"0x0007" + rest.substr(0, 150), LineKind::kCut},
      {"BEEF, ZOL0007, 2024/05/01 10:99:00, x", LineKind::kCut},
      {"0x0007, ZOL0042, late, " + std::string(180, 'x'), LineKind::kStray},
      {"CFG,FIRMWARE,ZOL-CTL 3.12.4 (2023-11-02)", LineKind::kConfig},
      {std::string(kMaxRecordLength - 1, 'C') + "\r", LineKind::kStray},
      {std::string(kMaxRecordLength + 1, 'C'), LineKind::kTooLong},
  };
  for (const Case& c : cases)
    EXPECT_EQ(KindOf(c.line, &kirn), c.kind) << c.line.substr(0, 60);
  EXPECT_EQ(KindOf("0x0007" + rest.substr(0, 150), nullptr), LineKind::kUnlabeled);
  EXPECT_EQ(KindOf(std::string(300, 'C'), nullptr), LineKind::kStray);
  ParsedLine parsed;
  const std::string record = "0x0007" + rest;
  ClassifyLine(record, &kirn, parsed);
  ASSERT_EQ(parsed.fields.size(), 26u);
  EXPECT_EQ(parsed.fields[0], "0x0007");
  EXPECT_EQ(parsed.time, 1714557600);
}

TEST(ViewRecords, NeedARealDateAndTime) {
  const Layout kirn = *LayoutForKind("KIRN");
  for (const char* time : {"2024/13/01 10:00:00", "2023/02/29 10:00:00", "2024/05/01 24:00:00",
                           "2024-05-01 10:00:00", "2024/05/01 10:00", "2024/05/01 1O:00:00"}) {
    std::string line = kKirnRecord;
    line.replace(line.find("2024/05/01 10:00:00"), 19, time);
    EXPECT_EQ(KindOf(line, &kirn), LineKind::kBadTime) << time;
  }
  ParsedLine parsed;
  ClassifyLine(kKirnRecord, &kirn, parsed);
  EXPECT_EQ(parsed.time, 1714557600);
  ASSERT_EQ(parsed.fields.size(), 26u);
  EXPECT_EQ(parsed.fields[24], "0320BB80");

  EXPECT_EQ(ParseDateTime("1970/01/01 00:00:00"), 0);
  EXPECT_EQ(ParseDateTime("2024/02/29 23:59:59"), 1709251199);
  EXPECT_EQ(ParseDateTime("2000/03/01 00:00:00"), 951868800);
  EXPECT_EQ(ParseDateTime("1900/02/29 00:00:00"), std::nullopt);
}

TEST(ViewRecords, NumbersMustBeWholeAndInRange) {
  EXPECT_EQ(ParseNumber("23.40"), 23.4);
  EXPECT_EQ(ParseNumber("-2.400e-10"), -2.4e-10);
  EXPECT_EQ(ParseNumber("1714557600"), 1714557600.0);
  for (const char* bad : {"", "1e999", "-1e999", "nan", "inf", "12x", " 12", "0x10", "812XXXX"})
    EXPECT_EQ(ParseNumber(bad), std::nullopt) << bad;
}

// The packed data decode whole or not at all.
TEST(ViewSpectrum, DecodesOnlyWholeRangesOfHexDigits) {
  const struct {
    const char* begin;
    const char* end;
    const char* packed;
    std::optional<std::vector<int32_t>> counts;  // from pixel `begin` on
  } cases[] = {
      {"35", "37", "0320FFFF00a0", std::vector<int32_t>{800, 65535, 160}},
      {"0", "0", "0000", std::vector<int32_t>{0}},
      {"4095", "4095", "BB80", std::vector<int32_t>{48000}},
      {"35", "37", "0320FFFF00A", std::nullopt},    // one digit short
      {"35", "37", "0320FFFF00A00", std::nullopt},  // one too many
      {"35", "37", "0320FFFG00A0", std::nullopt},   // not a hex digit
      {"35", "37", "0320 FFF00A0", std::nullopt},   // a space
      {"37", "35", "0320FFFF00A0", std::nullopt},   // BEG after END
      {"4095", "4096", "00000000", std::nullopt},   // past the last pixel
      {"-1", "1", "000000000000", std::nullopt},    // before the first
      {"3 5", "37", "0320FFFF00A0", std::nullopt},  // not a number
      {"", "37", "0320FFFF00A0", std::nullopt},
  };
  for (const auto& c : cases) {
    const std::optional<PixelRange> range = CheckSpectrum(c.begin, c.end, c.packed);
    ASSERT_EQ(range.has_value(), c.counts.has_value()) << c.begin << " " << c.packed;
    if (!range) continue;
    EXPECT_EQ(range->first, std::stoi(c.begin));
    std::vector<int32_t> counts(static_cast<size_t>(range->Count()), -1);
    DecodeSpectrum(c.packed, counts.data());
    EXPECT_EQ(counts, *c.counts) << c.packed;
  }
}

}  // namespace
}  // namespace zol::view
