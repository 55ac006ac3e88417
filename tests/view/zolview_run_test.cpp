// zolview on data files written by the real sampler against the real
// zolsim: two starts with a gap between them, hostile lines added after,
// read back as a summary, as CSV through Python's csv module and as SVG
// through Python's XML parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "simrun/sim_run.h"
#include "support/run_program.h"
#include "view/record_parser.h"

namespace zol::test {
namespace {

// Rows of a CSV file, fields joined again with the records' own ", ".
constexpr const char* kCsvBack =
    "import csv, sys\n"
    "with open(sys.argv[1], newline='') as f:\n"
    "    for row in csv.reader(f, strict=True):\n"
    "        print(', '.join(row))\n";

// Per series of the plot: its column, runs drawn (lines and lone dots) and points.
constexpr const char* kSvgBack =
    "import sys, xml.etree.ElementTree as E\n"
    "ns = '{http://www.w3.org/2000/svg}'\n"
    "for g in E.parse(sys.argv[1]).iter(ns + 'g'):\n"
    "    if g.get('class') != 'series': continue\n"
    "    lines = g.findall(ns + 'polyline'); dots = g.findall(ns + 'circle')\n"
    "    points = sum(len(p.get('points').split()) for p in lines) + len(dots)\n"
    "    print('%s|%d|%d' % (g.get('data-column'), len(lines) + len(dots), points))\n";

class ZolviewRunTest : public SimRunTest {
 protected:
  // A further start in the same folder: the files of the first are kept.
  bool StartAgain(const RunSetup& setup) {
    return Launch(setup) && AnswerParameters() &&
           app->Answer("should it be REMOVED?", "\r", 60000) &&
           app->Answer("should it be REMOVED?", "\r") &&
           app->Answer("Sync start of sampling to minute value?", "\r", 60000) && CycleEnded(1) &&
           ForceCycle(2);
  }
  bool ForceCycle(int n) {
    app->Type("\x06");
    return CycleEnded(n);
  }

  ProgramResult View(const std::vector<std::string>& args) {
    std::vector<std::string> words = {"zolview"};
    words.insert(words.end(), args.begin(), args.end());
    return RunProgram(ZOLVIEW_EXE, words, {}, 60000);
  }
  ProgramResult Python(const char* script, const std::string& file) {
    return RunProgram("/usr/bin/env", {"env", "python3", "-c", script, file}, {}, 60000);
  }

  // The records the console showed, in order, over every start so far.
  std::vector<std::string> records;
  void CollectRecords(int cycles) {
    for (int n = 1; n <= cycles; ++n) {
      for (const std::string& record : CycleRecords(app->Console(), n))
        records.push_back(record);
    }
  }
};

void Append(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << bytes;
}

std::string LineOf(const std::string& text, const std::string& head) {
  const size_t at = text.find(head);
  return at == std::string::npos ? "(no " + head + ")" : text.substr(at, text.find('\n', at) - at);
}

// Lines no record may be taken from, after the records of `data`; the last
// record again with its nitrate out of range, which is returned.
std::string AppendHostileLines(const std::string& data, const std::vector<std::string>& records) {
  std::string outOfRange = records.back();
  const std::vector<std::string> fields = RecordFields(outOfRange);
  outOfRange.replace(outOfRange.rfind(", " + fields[20] + ", "), fields[20].size() + 4,
                     ", 1e999, ");
  Append(data, std::string("\0\0\0\xff\xfe noise\n", 12) +  // binary
                   std::string(70000, 'A') + "\n" +         // far longer than any record
                   records[0].substr(0, 90) + "\n" +        // cut
                   outOfRange + "\n" +                      // a nitrate out of range
                   records[1].substr(0, 60));               // unfinished
  return outOfRange;
}

// The summary: counts, first and last sample, the gap between the starts.
void ExpectSummary(const ProgramResult& summary, const std::vector<std::string>& records) {
  EXPECT_EQ(summary.status, 0) << summary.err;
  const std::string& out = summary.out;
  EXPECT_EQ(LineOf(out, "  records "), "  records           7");
  EXPECT_EQ(LineOf(out, "  starts "), "  starts            2 (26 configuration lines)");
  EXPECT_EQ(LineOf(out, "  not data "),
            "  not data          4: 1 binary, 1 too long, 1 cut, 0 unreadable time, 1 unfinished");
  EXPECT_EQ(LineOf(out, "  first sample"), "  first sample      " + RecordFields(records[0])[2]);
  EXPECT_EQ(LineOf(out, "  last sample"), "  last sample       " + RecordFields(records.back())[2]);
  // A cycle slowed by a loaded machine may count as a gap of its own: the
  // one between the starts must be there, whatever else is.
  const std::string gaps = LineOf(out, "  gaps ");
  ASSERT_EQ(gaps.substr(0, 20), "  gaps              ") << out;
  EXPECT_GE(std::atoi(gaps.c_str() + 20), 1) << out;
  const std::string gapFrom = RecordFields(records[2])[2];
  const std::string gapTo = RecordFields(records[3])[2];
  EXPECT_NE(out.find("    " + gapFrom + " to " + gapTo + " ("), std::string::npos) << out;
  EXPECT_NE(LineOf(out, "  KIRN NITRATE ").find("      6   "), std::string::npos) << out;
  EXPECT_EQ(LineOf(out, "  KIRN NITRATE ").substr(80), "      1");
  EXPECT_NE(LineOf(out, "  time steps back").find(" 1"), std::string::npos) << out;
}

TEST_F(ZolviewRunTest, ReadsKirnFileOfTwoStartsWithAGapAndHostileLines) {
  const RunSetup setup{{}, false, false, 1};
  ASSERT_TRUE(RunCycles(setup));
  ASSERT_TRUE(ForceCycle(3));
  StopSampling();
  CollectRecords(3);
  // The second start's ZOL clock runs a minute ahead, longer than any cycle
  // of the runs: its records stand after a gap without waiting for one.
  ASSERT_TRUE(StartAgain(RunSetup{{"--clock-offset", "60"}, false, false, 1}));
  ASSERT_TRUE(ForceCycle(3));
  StopSampling();
  CollectRecords(3);
  ASSERT_EQ(records.size(), 6u);
  const std::string data = dir.File(FileName(".dat"));
  const std::string outOfRange = AppendHostileLines(data, records);
  ASSERT_NO_FATAL_FAILURE(ExpectSummary(View({data}), records));

  // The CSV read back by a real reader: the column line, then every record as stored.
  const std::string csvPath = dir.File("out.csv");
  const ProgramResult csv = View({"--csv", data});
  EXPECT_EQ(csv.status, 0) << csv.err;
  EXPECT_NE(csv.err.find("4 lines not data, left out"), std::string::npos) << csv.err;
  std::ofstream(csvPath, std::ios::binary) << csv.out;
  const ProgramResult rows = Python(kCsvBack, csvPath);
  ASSERT_EQ(rows.status, 0) << rows.err;
  std::vector<std::string> expected = {SplitLines(Header())[1]};
  expected.insert(expected.end(), records.begin(), records.end());
  expected.push_back(outOfRange);
  EXPECT_EQ(SplitLines(rows.out), expected);

  // The plot: a break at the gap, one point per record with a nitrate.
  const std::string svg = dir.File("plot.svg");
  const ProgramResult plot = View({"--plot", "KIRN NITRATE,CTD TEMP", "-o", svg, data});
  EXPECT_EQ(plot.status, 0) << plot.err;
  const ProgramResult series = Python(kSvgBack, svg);
  ASSERT_EQ(series.status, 0) << series.err;
  EXPECT_EQ(series.out, "KIRN NITRATE|2|6\nCTD TEMP|2|6\n");
}

TEST_F(ZolviewRunTest, ReadsPadoFilesWithCrLfLineEndsAndWithoutHeader) {
  const RunSetup setup{{}, true, true, 2};
  ASSERT_TRUE(RunCycles(setup));
  StopSampling();
  std::string data = Read(".dat");
  std::string crlf;
  for (const char c : data)
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const std::string crlfPath = dir.File("ZOL0042_PADO_crlf.dat");
  std::ofstream(crlfPath, std::ios::binary) << crlf;
  // The second data file has no header: its layout comes from its name.
  const std::string second = dir.File(FileName("_2.dat"));

  const ProgramResult summary = View({crlfPath, second});
  EXPECT_EQ(summary.status, 0) << summary.err;
  EXPECT_NE(summary.out.find(crlfPath +
                             " (PADO)\n  records           2\n"
                             "  starts            1 (13 configuration lines)\n"
                             "  not data          0: 0 binary, 0 too long, 0 cut, 0 unreadable "
                             "time, 0 unfinished\n  line ends         CR LF\n"),
            std::string::npos)
      << summary.out;
  EXPECT_NE(summary.out.find(second + " (PADO)\n  records           2\n  starts            0"),
            std::string::npos)
      << summary.out;
  EXPECT_NE(summary.out.find("  FOOBAR PH VALUE  "), std::string::npos) << summary.out;

  const ProgramResult csv = View({"--csv", crlfPath, second});
  EXPECT_EQ(csv.status, 0) << csv.err;
  const std::vector<std::string> lines = SplitLines(csv.out);
  ASSERT_EQ(lines.size(), 5u) << csv.out;
  EXPECT_EQ(lines[0].substr(0, 25), "CRC,ID,DATE TIME,UTC SECS");
  EXPECT_EQ(lines[1].back(), '\r');

  // Neither a column line nor a sensor kind in the name.
  const std::string plain = dir.File("plain.dat");
  std::ofstream(plain, std::ios::binary) << SplitLines(data).back() << "\n";
  const ProgramResult unknown = View({"--csv", plain});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("cannot tell the record layout"), std::string::npos) << unknown.err;
}

TEST_F(ZolviewRunTest, RefusesWhatItCannotDo) {
  EXPECT_EQ(View({}).status, 2);
  EXPECT_EQ(View({"--plot", "KIRN NITRATE", "x.dat"}).status, 2);  // no -o
  EXPECT_EQ(View({"--csv", "-o", "x.svg", "x.dat"}).status, 2);
  EXPECT_EQ(View({"--bogus", "x.dat"}).status, 2);
  const ProgramResult missing = View({dir.File("ZOL0001_KIRN.dat")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
  const std::string empty = dir.File("ZOL0001_KIRN.dat");
  std::ofstream(empty) << "";
  const ProgramResult noColumn = View({"--plot", "NO SUCH", "-o", dir.File("p.svg"), empty});
  EXPECT_EQ(noColumn.status, 1);
  EXPECT_NE(noColumn.err.find("no column \"NO SUCH\""), std::string::npos) << noColumn.err;
}

}  // namespace
}  // namespace zol::test
