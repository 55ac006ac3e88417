#include "view/modes/export_modes.h"

#include <cstdio>
#include <ctime>

#include "view/nccsv_writer.h"
#ifdef ZOLVIEW_NETCDF
#include "view/netcdf/netcdf_writer.h"
#endif

namespace zol::view {
namespace {

// The command as typed, for the file's history.
std::string CommandLine(int argc, char** argv) {
  std::string line = "zolview";
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    const bool quote = word.empty() || word.find_first_of(" \t'\"") != std::string::npos;
    line += quote ? " '" + word + "'" : " " + word;
  }
  return line;
}

}  // namespace

bool HasNetcdf() {
#ifdef ZOLVIEW_NETCDF
  return true;
#else
  return false;
#endif
}

int RunExport(const ExportMode& mode, int argc, char** argv) {
  ExportRequest request;
  request.files = mode.files;
  request.command = CommandLine(argc, argv);
  request.now = static_cast<int64_t>(std::time(nullptr));
  std::string error;
  if (!mode.meta.empty() && !LoadMeta(mode.meta, request.meta, error)) {
    std::fprintf(stderr, "zolview: %s\n", error.c_str());
    return 1;
  }
  if (!mode.netcdf) {
    NccsvWriter writer(stdout);
    return ExportFiles(request, writer, stderr) ? 0 : 1;
  }
#ifdef ZOLVIEW_NETCDF
  NetcdfWriter writer(mode.output);
  const bool ok = ExportFiles(request, writer, stderr);
  // A file cut short is no file; one finished with some inputs left out stays.
  writer.DiscardUnfinished();
  return ok ? 0 : 1;
#else
  std::fprintf(stderr, "zolview: this build writes no netCDF files (use --nccsv)\n");
  return 1;
#endif
}

}  // namespace zol::view
