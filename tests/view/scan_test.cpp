// zolview reading whole files: the bounded line reader, the counts of one
// scan, the CSV of files that disagree, and a plot reduced per pixel column.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "view/csv_writer.h"
#include "view/data_scan.h"
#include "view/line_reader.h"
#include "view/svg_plot.h"

namespace zol::view {
namespace {

using zol::test::TempDir;

// A PADO record at `seconds` past 2024/05/01 10:00:00 with pH `ph`.
std::string PadoRecord(int seconds, const char* ph) {
  char text[400];
  std::snprintf(text, sizeof text,
                "BEEF, ZOL0007, 2024/05/01 %02d:%02d:%02d, %d, 1.00, 12.0000, 35.0000, 1, 1, 0, "
                "13.80, 21.0, 12.02, 0.094, %s, 3.04, -0.881234, 0.000012, -0.932111, 0.000015, "
                "1.200e-09, -2.400e-10",
                10 + seconds / 3600, seconds / 60 % 60, seconds % 60, 1714557600 + seconds, ph);
  return text;
}

class ViewFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir.File(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  // What `write` puts into a stream, as text.
  template <typename Write>
  std::string Captured(Write write, bool& ok) {
    std::FILE* file = std::tmpfile();
    ok = write(file);
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;)
      text += static_cast<char>(c);
    std::fclose(file);
    return text;
  }
  TempDir dir;
};

TEST_F(ViewFileTest, ReaderKeepsLinesBoundedAndStopsAtTheLimit) {
  const std::string path =
      Write("lines", "one\r\n" + std::string(5000, 'x') + "\ntwo\n" + std::string(3000, 'y'));
  LineReader reader(path, UINT64_MAX, 100);
  std::vector<std::string> seen;
  for (Line line; reader.Next(line);) {
    seen.push_back(line.tooLong ? "<long>" : std::string(line.text));
    if (!line.terminated) seen.back() += "<unfinished>";
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"one\r", "<long>", "two", "<long><unfinished>"}));
  EXPECT_EQ(reader.BytesRead(), 5u + 5001u + 4u + 3000u);

  LineReader limited(path, 7, 100);
  Line line;
  ASSERT_TRUE(limited.Next(line));
  EXPECT_EQ(line.text, "one\r");
  ASSERT_TRUE(limited.Next(line));
  EXPECT_EQ(line.text, "xx");
  EXPECT_FALSE(line.terminated);
  EXPECT_FALSE(limited.Next(line));

  LineReader missing(dir.File("none"), UINT64_MAX, 100);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_FALSE(missing.Next(line));
  EXPECT_EQ(missing.Error(), "No such file or directory");
}

TEST_F(ViewFileTest, ScanCountsEveryKindOfLineAndStarts) {
  const std::string path = Write(
      "ZOL0007_PADO_2.dat",
      "CFG,A\nCFG,B\n" + PadoRecord(0, "8.1") + "\n" + PadoRecord(60, "8.2") + "\n\nCFG,A\n" +
          PadoRecord(120, "8.3") + "\n" + std::string(200, 'Q') + "\n" + std::string("\x7f\n") +
          PadoRecord(180, "8.4").substr(0, 100) + "\n" + "BEEF, ZOL0007, 2024/05/01 10:99:00, x\n");
  std::vector<int64_t> times;
  const ScanResult scan = ScanFile(
      path, [&](const Layout&, const ParsedLine& record) { times.push_back(record.time); });
  ASSERT_TRUE(scan.layout.has_value());
  EXPECT_EQ(scan.layout->kind, "PADO");
  EXPECT_EQ(times, (std::vector<int64_t>{1714557600, 1714557660, 1714557720}));
  const LineCounts& c = scan.counts;
  EXPECT_EQ(c.records, 3u);
  EXPECT_EQ(c.configLines, 3u);
  EXPECT_EQ(c.starts, 2u);
  EXPECT_EQ(c.blank, 1u);
  EXPECT_EQ(c.tooLong, 0u);
  EXPECT_EQ(c.stray, 1u);  // too long for a configuration line, yet far below a record's limit
  EXPECT_EQ(c.binary, 1u);
  EXPECT_EQ(c.cut, 2u);  // the last line's field count is wrong before its time is read
  EXPECT_EQ(c.Rejected(), 4u);

  // A second pass stops where the first did, even when the file grew.
  std::ofstream(path, std::ios::app) << PadoRecord(240, "8.5") << "\n";
  size_t again = 0;
  ScanFile(
      path, [&](const Layout&, const ParsedLine&) { ++again; }, scan.bytes);
  EXPECT_EQ(again, 3u);
}

TEST_F(ViewFileTest, CsvLeavesOutFilesOfAnotherLayout) {
  const std::string pado = Write("ZOL0007_PADO.dat", PadoRecord(0, "8.1") + "\n");
  const std::string kirn = Write("ZOL0007_KIRN.dat", PadoRecord(0, "8.1") + "\n");
  const std::string other =
      Write("other.dat", "CRC, ID, DATE TIME, UTC SECS\nBEEF, ZOL0007, 2024/05/01 10:00:00, 1\n");
  bool ok = false;
  std::FILE* err = std::tmpfile();
  const std::string csv = Captured(
      [&](std::FILE* out) {
        return WriteCsv({pado, kirn, other}, out, err);
      },
      ok);
  std::fclose(err);
  EXPECT_FALSE(ok);
  // The KIRN-named file's line has too few fields for KIRN: left out, counted.
  const Layout layout = *LayoutForKind("PADO");
  const std::vector<std::string_view> header(layout.columns.begin(), layout.columns.end());
  std::string expected = CsvRow(header);
  std::string row = PadoRecord(0, "8.1");
  for (size_t at; (at = row.find(", ")) != std::string::npos;)
    row.replace(at, 2, ",");
  EXPECT_EQ(csv, expected + row + "\r\n");
}

// Every value label of the plot's one panel stands within the panel's frame.
void ExpectTicksInsidePanel(const std::string& svg) {
  std::smatch frame;
  ASSERT_TRUE(std::regex_search(
      svg, frame, std::regex("<rect x=\"90\" y=\"(\\d+)\" width=\"\\d+\" height=\"(\\d+)\"")));
  const double top = std::stod(frame[1]);
  const double bottom = top + std::stod(frame[2]);
  const std::regex label("<text x=\"82\" y=\"([-0-9.]+)\"");
  size_t labels = 0;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), label); it != std::sregex_iterator();
       ++it) {
    const double y = std::stod((*it)[1]) - 4;  // labels sit 4 px under their tick
    EXPECT_GE(y, top - 0.05) << (*it)[0];
    EXPECT_LE(y, bottom + 0.05) << (*it)[0];
    ++labels;
  }
  EXPECT_GE(labels, 3u);
}

TEST_F(ViewFileTest, PlotOfManyRecordsKeepsTwoPointsPerPixelColumn) {
  std::string text;
  for (int i = 0; i < 5000; ++i) {
    const int seconds = i < 2500 ? i * 2 : i * 2 + 3000;  // one gap in the middle
    text += PadoRecord(seconds, i == 1234 ? "9.9" : i % 2 == 0 ? "8.00" : "8.01") + "\n";
  }
  const std::string path = Write("ZOL0007_PADO.dat", text);
  PlotOptions options;
  options.columns = {"FOOBAR PH VALUE"};
  options.width = 200;
  bool ok = false;
  const std::string svg =
      Captured([&](std::FILE* out) { return WritePlot({path}, options, out, stderr); }, ok);
  EXPECT_TRUE(ok);
  size_t polylines = 0;
  size_t points = 0;
  for (size_t at = 0; (at = svg.find("<polyline", at)) != std::string::npos; ++at) {
    ++polylines;
    const size_t start = svg.find("points=\"", at) + 8;
    const std::string list = svg.substr(start, svg.find('"', start) - start);
    points += static_cast<size_t>(std::count(list.begin(), list.end(), ' ')) + 1;
  }
  EXPECT_EQ(polylines, 2u);
  // 13,000 s over 200 columns: 77 columns each side of the 3,000 s gap, and
  // in each both 8.00 and 8.01.
  EXPECT_EQ(points, 2u * 154u);
  // The one spike survives the reduction: the value axis reaches up to it.
  EXPECT_NE(svg.find(">10</text>"), std::string::npos);
  ExpectTicksInsidePanel(svg);
  EXPECT_NE(svg.find("FOOBAR PH VALUE (" + path + ")"), std::string::npos);

  // A range whose round ticks, once the axis is widened to them, would
  // round to a coarser step.
  const std::string narrow =
      Write("ZOL0008_PADO.dat", PadoRecord(0, "15.3372") + "\n" + PadoRecord(60, "15.3451") + "\n");
  const std::string small =
      Captured([&](std::FILE* out) { return WritePlot({narrow}, options, out, stderr); }, ok);
  EXPECT_TRUE(ok);
  ExpectTicksInsidePanel(small);
}

}  // namespace
}  // namespace zol::view
