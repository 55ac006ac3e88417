// The metadata file of a conversion: global attributes, and per column its
// units, standard name and quality-test limits, as `key = value` lines.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zol::view {

struct ColumnMeta {
  std::string units;
  std::string standardName;
  std::string comment;
  // Gross range: outside fail limits fails, outside suspect limits is suspect.
  std::optional<double> failMin, failMax, suspectMin, suspectMax;
  // Spike: distance from the mean of both neighbours.
  std::optional<double> spikeSuspect, spikeFail;
  // Flat line: this many values in a row within the tolerance.
  std::optional<double> flatSuspect, flatFail, flatTolerance;
};

struct Meta {
  std::vector<std::pair<std::string, std::string>> globals;  // in file order
  std::map<std::string, ColumnMeta> columns;                 // by column name
  std::optional<double> latitude, longitude;
};

// False with "line N: reason" in `error` on the first faulty line.
bool ParseMeta(std::string_view text, Meta& meta, std::string& error);
// The file read whole and parsed; its name leads the error.
bool LoadMeta(const std::string& path, Meta& meta, std::string& error);

}  // namespace zol::view
