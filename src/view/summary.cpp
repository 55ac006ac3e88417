#include "view/summary.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "view/data_scan.h"
#include "view/packed_counts.h"
#include "view/qc.h"

namespace zol::view {
namespace {

struct QcSummary {
  int column;
  QcColumn test;
  QcLimits limits;
};

struct FileSummary {
  ScanResult scan;
  std::vector<QcSummary> flags;
  std::optional<RecordStats> stats;
  std::optional<GapFinder> gaps;
  std::optional<TimeBins> spark;
  SpectrumColumns spectrum;
  uint64_t undecoded = 0;  // records whose spectrum does not decode
};

void PrintCounts(const ScanResult& scan, std::FILE* out) {
  const LineCounts& c = scan.counts;
  std::fprintf(out, "  records           %llu\n", static_cast<unsigned long long>(c.records));
  std::fprintf(out, "  starts            %llu (%llu configuration lines)\n",
               static_cast<unsigned long long>(c.starts),
               static_cast<unsigned long long>(c.configLines));
  std::fprintf(
      out,
      "  not data          %llu: %llu binary, %llu too long, %llu cut, "
      "%llu unreadable time, %llu unfinished",
      static_cast<unsigned long long>(c.Rejected()), static_cast<unsigned long long>(c.binary),
      static_cast<unsigned long long>(c.tooLong), static_cast<unsigned long long>(c.cut),
      static_cast<unsigned long long>(c.badTime), static_cast<unsigned long long>(c.unfinished));
  if (c.unlabeled > 0)
    std::fprintf(out, ", %llu of unknown layout", static_cast<unsigned long long>(c.unlabeled));
  if (c.stray > 0)
    std::fprintf(out, ", %llu neither record nor configuration",
                 static_cast<unsigned long long>(c.stray));
  std::fprintf(out, "\n");
  const uint64_t lines = c.records + c.configLines + c.header + c.blank + c.cut + c.badTime +
                         c.unlabeled + c.stray + c.binary;
  const char* ends = c.crlf == 0 ? "LF" : c.crlf >= lines ? "CR LF" : "mixed LF and CR LF";
  if (lines > 0) std::fprintf(out, "  line ends         %s\n", ends);
}

void PrintTimes(const FileSummary& file, std::FILE* out) {
  const RecordStats& stats = *file.stats;
  if (stats.Records() == 0) return;
  std::fprintf(out, "  first sample      %s\n", FormatTime(stats.First()).c_str());
  std::fprintf(out, "  last sample       %s\n", FormatTime(stats.Last()).c_str());
  if (stats.Backwards() > 0)
    std::fprintf(out, "  time steps back   %llu\n",
                 static_cast<unsigned long long>(stats.Backwards()));
  const int64_t usual = stats.UsualInterval();
  if (usual == 0) return;
  std::fprintf(out, "  usual interval    %s\n", FormatDuration(usual).c_str());
  const GapFinder& gaps = *file.gaps;
  std::fprintf(out, "  gaps              %llu longer than one and a half intervals\n",
               static_cast<unsigned long long>(gaps.Total()));
  for (const Gap& gap : gaps.Listed()) {
    std::fprintf(out, "    %s to %s (%s)\n", FormatTime(gap.from).c_str(),
                 FormatTime(gap.to).c_str(), FormatDuration(gap.to - gap.from).c_str());
  }
  if (gaps.Total() > gaps.Listed().size())
    std::fprintf(out, "    and %llu more\n",
                 static_cast<unsigned long long>(gaps.Total() - gaps.Listed().size()));
}

void PrintColumns(const Layout& layout, const RecordStats& stats, std::FILE* out) {
  if (stats.Records() == 0) return;
  std::fprintf(out, "  %-22s %10s %14s %14s %14s %6s\n", "column", "count", "min", "mean", "max",
               "bad");
  for (size_t i = 0; i < layout.columns.size(); ++i) {
    if (!layout.numeric[i]) continue;
    const ColumnStats& column = stats.Columns()[i];
    if (column.count == 0) {
      std::fprintf(out, "  %-22.22s %10s %14s %14s %14s %6llu\n", layout.columns[i].c_str(), "0",
                   "-", "-", "-", static_cast<unsigned long long>(column.bad));
      continue;
    }
    std::fprintf(out, "  %-22.22s %10llu %14.10g %14.10g %14.10g %6llu\n",
                 layout.columns[i].c_str(), static_cast<unsigned long long>(column.count),
                 column.min, column.Mean(), column.max,
                 static_cast<unsigned long long>(column.bad));
  }
}

void StartFlags(const Layout& layout, const Meta* meta, FileSummary& file) {
  for (size_t c = 0; c < layout.columns.size(); ++c) {
    if (!IsQcTested(layout, layout.columns[c])) continue;
    QcLimits limits = LimitsFor(layout.columns[c], meta);
    file.flags.push_back({static_cast<int>(c), QcColumn(limits.limits), limits});
  }
}

std::string FormatLimit(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

void PrintFlags(const Layout& layout, FileSummary& file, std::FILE* out) {
  if (file.flags.empty() || file.stats->Records() == 0) return;
  std::fprintf(out, "  %-22s %10s %14s %10s %10s %10s\n", "quality flags", "pass", "not evaluated",
               "suspect", "fail", "missing");
  for (QcSummary& flags : file.flags) {
    flags.test.Finish();
    const auto& n = flags.test.Counts();
    std::fprintf(out, "  %-22.22s %10llu %14llu %10llu %10llu %10llu\n",
                 layout.columns[flags.column].c_str(), static_cast<unsigned long long>(n[0]),
                 static_cast<unsigned long long>(n[1]), static_cast<unsigned long long>(n[2]),
                 static_cast<unsigned long long>(n[3]), static_cast<unsigned long long>(n[4]));
  }
  std::fprintf(out, "  fail range\n");
  for (const QcSummary& flags : file.flags) {
    const ColumnMeta& l = flags.limits.limits;
    const std::string low = l.failMin ? FormatLimit(*l.failMin) : "-";
    const std::string high = l.failMax ? FormatLimit(*l.failMax) : "-";
    std::fprintf(out, "  %-22.22s %s to %s (%s)\n", layout.columns[flags.column].c_str(),
                 low.c_str(), high.c_str(), flags.limits.source);
  }
}

void PrintSpectra(const FileSummary& file, std::FILE* out) {
  if (file.undecoded > 0)
    std::fprintf(out, "  spectra not decoded: %llu\n",
                 static_cast<unsigned long long>(file.undecoded));
}

void PrintSparkline(const FileSummary& file, std::FILE* out) {
  const Layout& layout = file.stats->RecordLayout();
  if (!file.spark || layout.mainColumn < 0) return;
  const ColumnStats& column = file.stats->Columns()[layout.mainColumn];
  if (column.count == 0) return;
  std::fprintf(out, "  %s  %s  %.6g .. %.6g\n", layout.columns[layout.mainColumn].c_str(),
               Sparkline(file.spark->Bins()).c_str(), column.min, column.max);
}

// The second pass, up to where the first one stopped: gaps and sparkline
// need the usual interval and the time span first.
void SecondPass(const std::string& path, FileSummary& file) {
  const RecordStats& stats = *file.stats;
  const size_t main = static_cast<size_t>(stats.RecordLayout().mainColumn);
  file.gaps.emplace(stats.UsualInterval(), kGapsListed);
  if (stats.Records() > 0)
    file.spark.emplace(stats.Earliest(), stats.Latest(), kSparklineWidth, stats.UsualInterval());
  ScanFile(
      path,
      [&](const Layout&, const ParsedLine& record) {
        file.gaps->Add(record.time);
        if (main >= record.fields.size() || !file.spark) return;
        if (const std::optional<double> value = ParseNumber(record.fields[main]))
          file.spark->Add(record.time, *value);
      },
      file.scan.bytes);
}

}  // namespace

std::string FormatTime(int64_t seconds) {
  const int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  const int64_t inDay = seconds - days * 86400;
  // Civil date from days since 1970 (the inverse of the parser's).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  char text[128];
  std::snprintf(text, sizeof text, "%04lld/%02lld/%02lld %02lld:%02lld:%02lld",
                static_cast<long long>(year), static_cast<long long>(month),
                static_cast<long long>(day), static_cast<long long>(inDay / 3600),
                static_cast<long long>(inDay / 60 % 60), static_cast<long long>(inDay % 60));
  return text;
}

std::string FormatDuration(int64_t seconds) {
  const long long days = seconds / 86400;
  const long long hours = seconds / 3600 % 24;
  const long long minutes = seconds / 60 % 60;
  const long long rest = seconds % 60;
  char text[64];
  if (days > 0) {
    std::snprintf(text, sizeof text, "%lld d %lld h %lld min", days, hours, minutes);
  } else if (hours > 0) {
    std::snprintf(text, sizeof text, "%lld h %lld min %lld s", hours, minutes, rest);
  } else if (minutes > 0) {
    std::snprintf(text, sizeof text, "%lld min %lld s", minutes, rest);
  } else {
    std::snprintf(text, sizeof text, "%lld s", rest);
  }
  return text;
}

// True when the empty bin at `index` lies between two bins of data with no
// gap between them: sparse records then draw a line, and only gaps blank.
bool BridgesRecords(const std::vector<Bin>& bins, size_t index, bool seenData) {
  if (!seenData) return false;
  for (size_t next = index + 1; next < bins.size(); ++next) {
    if (bins[next].count > 0) return !bins[next].breakBefore;
  }
  return false;
}

std::string Sparkline(const std::vector<Bin>& bins) {
  static constexpr const char* kLevels[] = {"\u2581", "\u2582", "\u2583", "\u2584",
                                            "\u2585", "\u2586", "\u2587", "\u2588"};
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (const Bin& bin : bins) {
    if (bin.count == 0) continue;
    const double mean = bin.sum / static_cast<double>(bin.count);
    low = std::min(low, mean);
    high = std::max(high, mean);
  }
  std::string line;
  const char* level = nullptr;
  for (size_t i = 0; i < bins.size(); ++i) {
    const Bin& bin = bins[i];
    if (bin.count == 0) {
      line += BridgesRecords(bins, i, level != nullptr) ? level : " ";
      continue;
    }
    const double mean = bin.sum / static_cast<double>(bin.count);
    const double share = high > low ? (mean - low) / (high - low) : 0.5;
    level = kLevels[std::clamp(static_cast<int>(std::lround(share * 7.0)), 0, 7)];
    line += level;
  }
  return line;
}

bool PrintSummaries(const std::vector<std::string>& paths, std::FILE* out, std::FILE* err,
                    const Meta* meta) {
  bool allRead = true;
  for (const std::string& path : paths) {
    FileSummary file;
    file.scan = ScanFile(path, [&](const Layout& layout, const ParsedLine& record) {
      if (!file.stats) {
        file.stats.emplace(layout);
        StartFlags(layout, meta, file);
        file.spectrum = FindSpectrumColumns(layout);
      }
      file.stats->Add(record);
      const SpectrumColumns& sc = file.spectrum;
      if (sc.Present() &&
          !CheckSpectrum(record.fields[sc.begin], record.fields[sc.end], record.fields[sc.packed]))
        ++file.undecoded;
      for (QcSummary& flags : file.flags)
        flags.test.Push(ParseNumber(record.fields[flags.column]));
    });
    if (!file.scan.opened) {
      std::fprintf(err, "zolview: %s: %s\n", path.c_str(), file.scan.error.c_str());
      allRead = false;
      continue;
    }
    std::fprintf(out, "%s", path.c_str());
    if (!file.scan.layout) {
      std::fprintf(out, " (layout unknown: no column line, no KIRN or PADO in the name)\n");
      PrintCounts(file.scan, out);
      std::fprintf(err, "zolview: %s: cannot tell the record layout\n", path.c_str());
      allRead = false;
      continue;
    }
    const std::string& kind = file.scan.layout->kind;
    std::fprintf(out, " (%s)\n", kind.empty() ? "own column line" : kind.c_str());
    if (!file.stats) file.stats.emplace(*file.scan.layout);
    SecondPass(path, file);
    PrintCounts(file.scan, out);
    PrintSpectra(file, out);
    PrintTimes(file, out);
    PrintColumns(file.stats->RecordLayout(), *file.stats, out);
    PrintFlags(file.stats->RecordLayout(), file, out);
    PrintSparkline(file, out);
    if (!file.scan.error.empty()) {
      std::fprintf(err, "zolview: %s: read error: %s\n", path.c_str(), file.scan.error.c_str());
      allRead = false;
    }
  }
  return allRead;
}

}  // namespace zol::view
