// What zolview computes while the records stream past, and how it prints it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "view/csv_writer.h"
#include "view/stats.h"
#include "view/summary.h"
#include "view/svg_plot.h"

namespace zol::view {
namespace {

TEST(ViewStats, UsualIntervalIsTheMedianOfPositiveSteps) {
  IntervalHistogram intervals;
  EXPECT_EQ(intervals.Median(), 0);
  for (int64_t step : {60, 61, 59, 60, 3600, 0, -5, 60})
    intervals.Add(step);
  EXPECT_EQ(intervals.Median(), 60);
  IntervalHistogram long_;
  for (int64_t step : {200000, 300000, 90})
    long_.Add(step);
  EXPECT_EQ(long_.Median(), 86401);  // beyond a day, in one bucket
}

TEST(ViewStats, GapsAreStepsOverOneAndAHalfIntervals) {
  EXPECT_FALSE(IsGap(90, 60));
  EXPECT_TRUE(IsGap(91, 60));
  EXPECT_FALSE(IsGap(1000, 0));
  GapFinder gaps(60, 2);
  for (int64_t time : {0, 60, 120, 211, 271, 500, 560, 1000})
    gaps.Add(time);
  EXPECT_EQ(gaps.Total(), 3u);
  ASSERT_EQ(gaps.Listed().size(), 2u);
  EXPECT_EQ(gaps.Listed()[0].from, 120);
  EXPECT_EQ(gaps.Listed()[0].to, 211);
  EXPECT_EQ(gaps.Listed()[1].from, 271);
}

TEST(ViewStats, ColumnsCountBadValuesApart) {
  ColumnStats column;
  for (const char* field : {"2.5", "-1", "x", "1e999", "4.5"})
    column.Add(field);
  EXPECT_EQ(column.count, 3u);
  EXPECT_EQ(column.bad, 2u);
  EXPECT_EQ(column.min, -1.0);
  EXPECT_EQ(column.max, 4.5);
  EXPECT_DOUBLE_EQ(column.Mean(), 2.0);
}

TEST(ViewStats, BinsKeepExtremesAndMarkGaps) {
  TimeBins bins(0, 1000, 10, 10);
  for (int64_t time = 0; time <= 300; time += 10)
    bins.Add(time, time == 150 ? 99.0 : 1.0);
  bins.Add(800, 5.0);  // after a gap
  bins.Add(810, -7.0);
  const std::vector<Bin>& b = bins.Bins();
  EXPECT_EQ(b[1].count, 10u);
  EXPECT_EQ(b[1].max, 99.0);
  EXPECT_EQ(b[1].min, 1.0);
  EXPECT_TRUE(b[8].breakBefore);
  EXPECT_EQ(b[8].min, -7.0);
  EXPECT_FALSE(b[8].minFirst);
  EXPECT_EQ(b[9].count, 0u);
  EXPECT_EQ(bins.IndexOf(1000), 9u);
  EXPECT_EQ(bins.IndexOf(-50), 0u);

  const auto runs = SeriesRuns(b, -10.0, 100.0, 110);
  ASSERT_EQ(runs.size(), 2u);
  // Bins 0 to 3 with data: one point where all values agree, two otherwise.
  EXPECT_EQ(runs[0].size(), 1u + 2u + 1u + 1u);
  EXPECT_DOUBLE_EQ(runs[0][0].x, 0.5);
  EXPECT_DOUBLE_EQ(runs[0][0].y, 99.0);
  ASSERT_EQ(runs[1].size(), 2u);
  EXPECT_DOUBLE_EQ(runs[1][0].y, 95.0);  // 5 first, then -7
  EXPECT_DOUBLE_EQ(runs[1][1].y, 107.0);

  // Bin means 1, 10.8, 1, 1 and -1: the lowest mean gets the lowest block.
  EXPECT_EQ(Sparkline(b), "\u2582\u2588\u2582\u2582    \u2581 ");
  // Sparse records without a gap between them draw an unbroken line.
  TimeBins sparse(0, 90, 10, 30);
  for (int64_t time : {0, 30, 60, 90})
    sparse.Add(time, static_cast<double>(time));
  EXPECT_EQ(Sparkline(sparse.Bins()),
            "\u2581\u2581\u2581\u2583\u2583\u2583\u2586\u2586\u2586\u2588");
}

TEST(ViewText, TimesDurationsCsvAndXmlAreExact) {
  EXPECT_EQ(FormatTime(1714557600), "2024/05/01 10:00:00");
  EXPECT_EQ(FormatTime(0), "1970/01/01 00:00:00");
  EXPECT_EQ(FormatTime(951868799), "2000/02/29 23:59:59");
  EXPECT_EQ(FormatDuration(59), "59 s");
  EXPECT_EQ(FormatDuration(3661), "1 h 1 min 1 s");
  EXPECT_EQ(FormatDuration(90061), "1 d 1 h 1 min");

  EXPECT_EQ(CsvRow({"a", "b c", ""}), "a,b c,\r\n");
  EXPECT_EQ(CsvRow({"x,y", "say \"hi\"", "1\r\n2"}), "\"x,y\",\"say \"\"hi\"\"\",\"1\r\n2\"\r\n");
  EXPECT_EQ(XmlEscape("A<B & \"C\">\x01"), "A&lt;B &amp; &quot;C&quot;&gt;?");
}

TEST(ViewText, TicksAreRoundAndCoverTheRange) {
  EXPECT_EQ(ValueTicks(0.0, 10.0), (std::vector<double>{0, 2, 4, 6, 8, 10}));
  const std::vector<double> ph = ValueTicks(8.0512, 8.058);
  EXPECT_LE(ph.front(), 8.0512);
  EXPECT_GE(ph.back(), 8.058);
  EXPECT_LE(ph.size(), 12u);
  EXPECT_EQ(ValueTicks(1.0, 1.0).size(), 2u);
  EXPECT_EQ(TimeTickStep(60), 10);
  EXPECT_EQ(TimeTickStep(3600), 600);
  EXPECT_EQ(TimeTickStep(86400), 10800);
}

}  // namespace
}  // namespace zol::view
