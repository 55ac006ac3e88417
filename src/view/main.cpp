// zolview: the sampler's data files as a summary, as CSV, or as a plot.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "view/check.h"
#include "view/csv_writer.h"
#include "view/meta.h"
#include "view/modes/export_modes.h"
#include "view/standard_output.h"
#include "view/summary.h"
#include "view/svg_plot.h"

namespace {

constexpr const char* kUsage =
    "usage: zolview FILE...                          summary of each data file\n"
    "       zolview --csv FILE...                    records as CSV on standard output\n"
    "       zolview --plot COLUMN[,COLUMN...] -o PLOT.svg FILE...   SVG time series\n"
    "       zolview --netcdf -o OUT.nc [--meta FILE] FILE...   CF netCDF-4 time series\n"
    "       zolview --nccsv [--meta FILE] FILE...        the same as NCCSV on standard output\n"
    "       zolview --meta FILE FILE...                  summary with the quality-test limits\n"
    "       zolview --check [--warn MINUTES] [--crit MINUTES] FILE...   for monitoring\n";
constexpr const char* kNoNetcdf = "(this build has no --netcdf: it was built without libnetcdf)\n";

enum class Mode { kSummary, kCsv, kPlot, kNetcdf, kNccsv };

struct Options {
  Mode mode = Mode::kSummary;
  std::vector<std::string> columns;
  std::string output;
  std::string meta;
  std::vector<std::string> files;
};

std::vector<std::string> SplitColumns(const std::string& list) {
  std::vector<std::string> columns;
  for (size_t start = 0;;) {
    const size_t comma = list.find(',', start);
    columns.push_back(list.substr(start, comma - start));
    if (comma == std::string::npos) return columns;
    start = comma + 1;
  }
}

// False on anything the usage does not allow.
bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    const bool hasValue = i + 1 < argc;
    if (word == "--csv" && options.mode == Mode::kSummary) {
      options.mode = Mode::kCsv;
    } else if (word == "--plot" && options.mode == Mode::kSummary && hasValue) {
      options.mode = Mode::kPlot;
      options.columns = SplitColumns(argv[++i]);
    } else if (word == "--netcdf" && options.mode == Mode::kSummary) {
      options.mode = Mode::kNetcdf;
    } else if (word == "--nccsv" && options.mode == Mode::kSummary) {
      options.mode = Mode::kNccsv;
    } else if (word == "--meta" && hasValue && options.meta.empty()) {
      options.meta = argv[++i];
    } else if (word == "-o" && hasValue && options.output.empty()) {
      options.output = argv[++i];
    } else if (word == "--") {
      options.files.insert(options.files.end(), argv + i + 1, argv + argc);
      break;
    } else if (!word.empty() && word[0] == '-') {
      return false;
    } else {
      options.files.push_back(word);
    }
  }
  if (options.files.empty()) return false;
  for (const std::string& column : options.columns) {
    if (column.empty()) return false;
  }
  if (!options.meta.empty() && options.mode != Mode::kSummary && options.mode != Mode::kNetcdf &&
      options.mode != Mode::kNccsv)
    return false;
  // The picture and the netCDF file go to files of their own; -o means
  // nothing elsewhere.
  const bool toFile = options.mode == Mode::kPlot || options.mode == Mode::kNetcdf;
  return toFile == !options.output.empty();
}

struct FileCloser {
  // Only on a path that already failed; the good path closes and checks.
  void operator()(std::FILE* file) const { (void)std::fclose(file); }
};

// --check before any "--": the check reads its own words and exit statuses.
bool IsCheck(int argc, char** argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--check") == 0) return true;
  }
  return false;
}

int64_t SystemSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int Plot(const Options& options) {
  std::unique_ptr<std::FILE, FileCloser> out(std::fopen(options.output.c_str(), "wb"));
  if (!out) {
    std::fprintf(stderr, "zolview: %s: %s\n", options.output.c_str(), std::strerror(errno));
    return 1;
  }
  zol::view::PlotOptions plot;
  plot.columns = options.columns;
  const bool ok = zol::view::WritePlot(options.files, plot, out.get(), stderr);
  // A close that fails loses the end of the picture.
  return std::fclose(out.release()) == 0 && ok ? 0 : 1;
}

int Summaries(const Options& options) {
  zol::view::Meta meta;
  std::string error;
  if (!options.meta.empty() && !zol::view::LoadMeta(options.meta, meta, error)) {
    std::fprintf(stderr, "zolview: %s\n", error.c_str());
    return 1;
  }
  return zol::view::PrintSummaries(options.files, stdout, stderr,
                                   options.meta.empty() ? nullptr : &meta)
             ? 0
             : 1;
}

}  // namespace

int main(int argc, char** argv) {
  zol::view::PrepareStandardOutput();
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    if (!zol::view::HasNetcdf()) std::fputs(kNoNetcdf, stdout);
    return 0;
  }
  if (IsCheck(argc, argv))
    return zol::view::RunCheck(std::vector<std::string>(argv + 1, argv + argc), SystemSeconds,
                               stdout, stderr);
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    if (!zol::view::HasNetcdf()) std::fputs(kNoNetcdf, stderr);
    return 2;
  }
  switch (options.mode) {
    case Mode::kSummary:
      return Summaries(options);
    case Mode::kCsv:
      return zol::view::WriteCsv(options.files, stdout, stderr) ? 0 : 1;
    case Mode::kPlot:
      return Plot(options);
    case Mode::kNetcdf:
    case Mode::kNccsv:
      return zol::view::RunExport(
          {options.mode == Mode::kNetcdf, options.output, options.meta, options.files}, argc, argv);
  }
  return 2;
}
