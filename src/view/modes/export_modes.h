// zolview --netcdf and --nccsv: the data files as a CF time series.
#pragma once

#include <string>
#include <vector>

namespace zol::view {

struct ExportMode {
  bool netcdf = false;  // else NCCSV on standard output
  std::string output;   // the netCDF file
  std::string meta;     // the metadata file, or ""
  std::vector<std::string> files;
};

// Whether this build writes netCDF files.
bool HasNetcdf();
// The exit status: 0 all written, 1 otherwise (a faulty metadata file
// writes nothing).
int RunExport(const ExportMode& mode, int argc, char** argv);

}  // namespace zol::view
