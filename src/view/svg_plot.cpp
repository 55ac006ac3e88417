#include "view/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "view/data_scan.h"
#include "view/summary.h"

namespace zol::view {
namespace {

constexpr int kLeft = 90;
constexpr int kRight = 30;
constexpr int kLegendLine = 18;
constexpr int kPanelGap = 34;
constexpr int kBottom = 56;
constexpr const char* kColors[] = {"#1f5fa8", "#c0392b", "#2e8b57", "#8e44ad",
                                   "#d35400", "#16a085", "#7f8c8d", "#b7950b"};

struct Series {
  std::string file;
  std::string column;
  TimeBins bins;
};

struct Panel {
  std::string column;
  std::vector<size_t> series;  // indexes into the series list
  double low = 0.0;
  double high = 1.0;
  std::vector<double> ticks;  // computed once: a range widened to them may round to others
};

std::string Label(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", std::abs(value) < 1e-300 ? 0.0 : value);
  return text;
}

// What the first pass learns of a file: where to stop, and its time span.
struct FileSpan {
  std::string path;
  uint64_t bytes = 0;
  std::optional<RecordStats> stats;
};

bool FirstPass(const std::vector<std::string>& paths, const PlotOptions& options,
               std::vector<FileSpan>& spans, std::FILE* err) {
  bool ok = true;
  for (const std::string& path : paths) {
    FileSpan span{path, 0, std::nullopt};
    const ScanResult scan = ScanFile(path, [&](const Layout& layout, const ParsedLine& record) {
      if (!span.stats) span.stats.emplace(layout);
      span.stats->Add(record);
    });
    span.bytes = scan.bytes;
    if (!ReportScanProblems(path, scan, err)) ok = false;
    const Layout* layout = span.stats    ? &span.stats->RecordLayout()
                           : scan.layout ? &*scan.layout
                                         : nullptr;
    for (const std::string& column : options.columns) {
      if (layout != nullptr && layout->ColumnIndex(column) < 0) {
        std::fprintf(err, "zolview: %s: no column \"%s\"\n", path.c_str(), column.c_str());
        ok = false;
      } else if (layout != nullptr && !layout->numeric[layout->ColumnIndex(column)]) {
        std::fprintf(err, "zolview: %s: column \"%s\" holds no numbers\n", path.c_str(),
                     column.c_str());
        ok = false;
      }
    }
    spans.push_back(std::move(span));
  }
  return ok;
}

void SecondPass(const FileSpan& span, size_t firstSeries, size_t columns,
                std::vector<Series>& series) {
  if (!span.stats) return;
  const Layout& layout = span.stats->RecordLayout();
  std::vector<size_t> indexes;
  for (size_t c = 0; c < columns; ++c)
    indexes.push_back(static_cast<size_t>(layout.ColumnIndex(series[firstSeries + c].column)));
  ScanFile(
      span.path,
      [&](const Layout&, const ParsedLine& record) {
        for (size_t c = 0; c < columns; ++c) {
          if (indexes[c] >= record.fields.size()) continue;
          if (const std::optional<double> value = ParseNumber(record.fields[indexes[c]]))
            series[firstSeries + c].bins.Add(record.time, *value);
        }
      },
      span.bytes);
}

void FitPanel(Panel& panel, const std::vector<Series>& series) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (size_t s : panel.series) {
    for (const Bin& bin : series[s].bins.Bins()) {
      if (bin.count == 0) continue;
      low = std::min(low, bin.min);
      high = std::max(high, bin.max);
    }
  }
  if (low > high) {
    low = 0.0;
    high = 1.0;
  }
  if (high - low < 1e-12 * std::max(1.0, std::abs(high))) {
    const double pad = std::max(1e-9, std::abs(high) * 0.01);
    low -= pad;
    high += pad;
  }
  panel.ticks = ValueTicks(low, high);
  panel.low = std::min(low, panel.ticks.front());
  panel.high = std::max(high, panel.ticks.back());
}

void WriteTimeAxis(int64_t from, int64_t to, const PlotOptions& options, int plotTop,
                   int plotBottom, std::FILE* out) {
  const int64_t span = std::max<int64_t>(to - from, 1);
  const int64_t step = TimeTickStep(span);
  const bool withDate = span > 86400;
  std::fprintf(out, "<g class=\"time-axis\" font-size=\"11\" text-anchor=\"middle\">\n");
  for (int64_t tick = (from + step - 1) / step * step; tick <= to; tick += step) {
    const double x =
        kLeft + static_cast<double>(tick - from) / static_cast<double>(span) * options.width;
    const std::string text = FormatTime(tick);  // "YYYY/MM/DD hh:mm:ss"
    const std::string label = withDate    ? text.substr(5, 11)
                              : step < 60 ? text.substr(11)
                                          : text.substr(11, 5);
    std::fprintf(out,
                 "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"#ddd\"/>"
                 "<text x=\"%.1f\" y=\"%d\">%s</text>\n",
                 x, plotTop, x, plotBottom + 5, x, plotBottom + 18, label.c_str());
  }
  std::fprintf(out, "<text x=\"%d\" y=\"%d\">time, %s to %s</text>\n</g>\n",
               kLeft + options.width / 2, plotBottom + 38, FormatTime(from).c_str(),
               FormatTime(to).c_str());
}

void WriteRuns(const Series& series, const Panel& panel, int top, int height, const char* color,
               std::FILE* out) {
  std::fprintf(
      out, "<g class=\"series\" data-column=\"%s\" data-file=\"%s\" stroke=\"%s\" fill=\"%s\">\n",
      XmlEscape(series.column).c_str(), XmlEscape(series.file).c_str(), color, color);
  for (const std::vector<Point>& run :
       SeriesRuns(series.bins.Bins(), panel.low, panel.high, height)) {
    if (run.size() == 1) {
      std::fprintf(out, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"1.5\" stroke=\"none\"/>\n",
                   kLeft + run[0].x, top + run[0].y);
      continue;
    }
    std::fprintf(out, "<polyline fill=\"none\" stroke-width=\"1\" points=\"");
    for (size_t i = 0; i < run.size(); ++i) {
      std::fprintf(out, "%s%.1f,%.1f", i == 0 ? "" : " ", kLeft + run[i].x, top + run[i].y);
    }
    std::fprintf(out, "\"/>\n");
  }
  std::fprintf(out, "</g>\n");
}

void WritePanel(const Panel& panel, const std::vector<Series>& series, int top,
                const PlotOptions& options, std::FILE* out) {
  const int height = options.panelHeight;
  std::fprintf(out, "<g class=\"panel\" data-column=\"%s\">\n", XmlEscape(panel.column).c_str());
  std::fprintf(
      out, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"#888\"/>\n",
      kLeft, top, options.width, height);
  std::fprintf(out, "<text x=\"%d\" y=\"%d\" font-size=\"12\" font-weight=\"bold\">%s</text>\n",
               kLeft, top - 6, XmlEscape(panel.column).c_str());
  for (double tick : panel.ticks) {
    const double y = top + (panel.high - tick) / (panel.high - panel.low) * height;
    std::fprintf(out,
                 "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"#eee\"/>"
                 "<text x=\"%d\" y=\"%.1f\" font-size=\"11\" text-anchor=\"end\">%s</text>\n",
                 kLeft - 4, y, kLeft + options.width, y, kLeft - 8, y + 4, Label(tick).c_str());
  }
  for (size_t s : panel.series)
    WriteRuns(series[s], panel, top, height, kColors[s % std::size(kColors)], out);
  std::fprintf(out, "</g>\n");
}

void WriteLegend(const std::vector<Series>& series, std::FILE* out) {
  std::fprintf(out, "<g class=\"legend\" font-size=\"12\">\n");
  for (size_t s = 0; s < series.size(); ++s) {
    const int y = 18 + static_cast<int>(s) * kLegendLine;
    std::fprintf(out,
                 "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"%s\" stroke-width=\"3\"/>"
                 "<text x=\"%d\" y=\"%d\">%s (%s)</text>\n",
                 kLeft, y - 4, kLeft + 24, y - 4, kColors[s % std::size(kColors)], kLeft + 30, y,
                 XmlEscape(series[s].column).c_str(), XmlEscape(series[s].file).c_str());
  }
  std::fprintf(out, "</g>\n");
}

void WriteSvg(const std::vector<Panel>& panels, const std::vector<Series>& series, int64_t from,
              int64_t to, const PlotOptions& options, std::FILE* out) {
  const int legend = 10 + static_cast<int>(series.size()) * kLegendLine + 10;
  const int plotTop = legend + kPanelGap;
  const int plotBottom =
      plotTop + static_cast<int>(panels.size()) * (options.panelHeight + kPanelGap) - kPanelGap;
  const int width = kLeft + options.width + kRight;
  const int height = plotBottom + kBottom;
  std::fprintf(out,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
               "viewBox=\"0 0 %d %d\" font-family=\"sans-serif\" stroke-linejoin=\"round\">\n"
               "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n",
               width, height, width, height);
  WriteLegend(series, out);
  WriteTimeAxis(from, to, options, plotTop, plotBottom, out);
  for (size_t p = 0; p < panels.size(); ++p) {
    WritePanel(panels[p], series, plotTop + static_cast<int>(p) * (options.panelHeight + kPanelGap),
               options, out);
  }
  std::fprintf(out, "</svg>\n");
}

}  // namespace

int64_t TimeTickStep(int64_t span) {
  static constexpr int64_t kSteps[] = {1,       2,       5,        10,      15,     30,     60,
                                       120,     300,     600,      900,     1800,   3600,   7200,
                                       10800,   21600,   43200,    86400,   172800, 604800, 1209600,
                                       2592000, 7776000, 15552000, 31536000};
  for (const int64_t step : kSteps) {
    if (span / step <= 8) return step;
  }
  return (span / 8 / 31536000 + 1) * 31536000;
}

std::vector<double> ValueTicks(double low, double high) {
  const double rough = (high - low) / 5.0;
  if (!(rough > 0.0) || !std::isfinite(rough)) return {low, high};
  // Up to 10^22 (exact in a double) by products and one division: some C
  // runtimes' pow() is an ulp off there, which moves the ticks a whole step.
  const double exponent = std::floor(std::log10(rough));
  double power = 1.0;
  if (std::fabs(exponent) > 22.0) {
    power = std::pow(10.0, exponent);
  } else {
    for (double i = 0.0; i < std::fabs(exponent); ++i)
      power *= 10.0;
    if (exponent < 0.0) power = 1.0 / power;
  }
  double step = power;
  for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * power;
    if (rough <= step) break;
  }
  std::vector<double> ticks;
  for (double tick = std::floor(low / step) * step; ticks.size() < 20; tick += step) {
    ticks.push_back(tick);
    if (tick >= high) break;
  }
  return ticks;
}

std::string XmlEscape(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        // Control bytes are not allowed in XML 1.0 at all.
        escaped += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
  }
  return escaped;
}

std::vector<std::vector<Point>> SeriesRuns(const std::vector<Bin>& bins, double low, double high,
                                           int height) {
  const auto y = [&](double value) { return (high - value) / (high - low) * height; };
  std::vector<std::vector<Point>> runs;
  bool open = false;
  for (size_t i = 0; i < bins.size(); ++i) {
    const Bin& bin = bins[i];
    if (bin.count == 0) continue;
    if (!open || bin.breakBefore) runs.emplace_back();
    open = true;
    const double x = static_cast<double>(i) + 0.5;
    if (bin.min == bin.max) {
      runs.back().push_back({x, y(bin.min)});
    } else {
      runs.back().push_back({x, y(bin.minFirst ? bin.min : bin.max)});
      runs.back().push_back({x, y(bin.minFirst ? bin.max : bin.min)});
    }
  }
  return runs;
}

bool WritePlot(const std::vector<std::string>& paths, const PlotOptions& options, std::FILE* out,
               std::FILE* err) {
  std::vector<FileSpan> spans;
  if (!FirstPass(paths, options, spans, err)) return false;
  int64_t from = 0;
  int64_t to = 0;
  bool any = false;
  for (const FileSpan& span : spans) {
    if (!span.stats || span.stats->Records() == 0) continue;
    from = any ? std::min(from, span.stats->Earliest()) : span.stats->Earliest();
    to = any ? std::max(to, span.stats->Latest()) : span.stats->Latest();
    any = true;
  }
  if (!any) {
    std::fprintf(err, "zolview: no records to plot\n");
    return false;
  }
  const size_t width = static_cast<size_t>(options.width);
  std::vector<Series> series;
  std::vector<Panel> panels(options.columns.size());
  for (size_t c = 0; c < options.columns.size(); ++c)
    panels[c].column = options.columns[c];
  for (const FileSpan& span : spans) {
    const size_t first = series.size();
    for (size_t c = 0; c < options.columns.size(); ++c) {
      const int64_t usual = span.stats ? span.stats->UsualInterval() : 0;
      series.push_back({span.path, options.columns[c], TimeBins(from, to, width, usual)});
      panels[c].series.push_back(series.size() - 1);
    }
    SecondPass(span, first, options.columns.size(), series);
  }
  for (Panel& panel : panels)
    FitPanel(panel, series);
  WriteSvg(panels, series, from, to, options, out);
  if (std::fflush(out) != 0 || std::ferror(out)) {
    std::fprintf(err, "zolview: cannot write the plot\n");
    return false;
  }
  return true;
}

}  // namespace zol::view
