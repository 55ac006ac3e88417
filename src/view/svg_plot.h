// A self-contained SVG time series of chosen columns: one panel per column
// with its own value axis, a shared time axis, a legend, and gaps drawn as
// breaks. Each pixel column keeps the minimum and maximum of the records
// that fall in it, so a plot of a million records stays small and true.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "view/stats.h"

namespace zol::view {

struct PlotOptions {
  std::vector<std::string> columns;
  int width = 800;        // pixel columns of the data area
  int panelHeight = 160;  // of each column's panel
};

// Step between time ticks for a span, from a list of round steps, so that
// at most about eight ticks fit.
int64_t TimeTickStep(int64_t span);
// Round value ticks (1, 2 or 5 times a power of ten) covering [low, high].
std::vector<double> ValueTicks(double low, double high);
// Text safe inside an XML attribute or element.
std::string XmlEscape(const std::string& text);

// The picture of one series: a run is a stretch without a break, as
// (x, y) points in the data area's pixels.
struct Point {
  double x = 0.0;
  double y = 0.0;
};
std::vector<std::vector<Point>> SeriesRuns(const std::vector<Bin>& bins, double low, double high,
                                           int height);

// Writes the plot of `paths` to `out`, problems to `err`; false when a file
// cannot be read, its layout is unknown or lacks a column.
bool WritePlot(const std::vector<std::string>& paths, const PlotOptions& options, std::FILE* out,
               std::FILE* err);

}  // namespace zol::view
