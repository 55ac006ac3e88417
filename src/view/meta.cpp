#include "view/meta.h"

#include <cctype>
#include <cmath>
#include <fstream>
#include <sstream>

#include "view/record_parser.h"

namespace zol::view {
namespace {

std::string_view Trim(std::string_view text) {
  const size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string_view::npos) return {};
  const size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

bool IsAttributeName(std::string_view name) {
  if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_'))
    return false;
  for (const char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

// Written by zolview from the data itself: a metadata file must not override them.
bool IsDerivedGlobal(std::string_view name) {
  for (std::string_view derived :
       {"Conventions", "featureType", "cdm_data_type", "cdm_timeseries_variables",
        "time_coverage_start", "time_coverage_end", "date_created", "history", "source"}) {
    if (name == derived) return true;
  }
  return false;
}

// The setting `key` of a column to `value`; a reason when it is not one.
std::string SetColumn(ColumnMeta& column, std::string_view key, std::string_view value) {
  if (key == "units") {
    column.units = value;
  } else if (key == "standard_name") {
    if (!IsAttributeName(value)) return "a standard name is one word of letters and _";
    column.standardName = value;
  } else if (key == "comment") {
    column.comment = value;
  } else {
    const std::pair<std::string_view, std::optional<double> ColumnMeta::*> numbers[] = {
        {"fail_min", &ColumnMeta::failMin},
        {"fail_max", &ColumnMeta::failMax},
        {"suspect_min", &ColumnMeta::suspectMin},
        {"suspect_max", &ColumnMeta::suspectMax},
        {"spike_suspect", &ColumnMeta::spikeSuspect},
        {"spike_fail", &ColumnMeta::spikeFail},
        {"flat_suspect", &ColumnMeta::flatSuspect},
        {"flat_fail", &ColumnMeta::flatFail},
        {"flat_tolerance", &ColumnMeta::flatTolerance}};
    for (const auto& [name, member] : numbers) {
      if (key != name) continue;
      const std::optional<double> number = ParseNumber(value);
      if (!number) return std::string(name) + " needs a number";
      column.*member = number;
      return "";
    }
    return "unknown column setting \"" + std::string(key) + "\"";
  }
  return "";
}

std::string CheckColumn(const std::string& name, const ColumnMeta& column) {
  if (column.failMin && column.failMax && *column.failMin > *column.failMax)
    return name + ": fail_min above fail_max";
  if (column.suspectMin && column.suspectMax && *column.suspectMin > *column.suspectMax)
    return name + ": suspect_min above suspect_max";
  for (const std::optional<double>& count : {column.flatSuspect, column.flatFail}) {
    // floor, not a cast to an integer: a count past any integer's range is no fault here.
    if (count && (!std::isfinite(*count) || *count < 2 || std::floor(*count) != *count))
      return name + ": a flat line count is a whole number of at least 2";
  }
  return "";
}

std::string ParseLine(std::string_view line, Meta& meta) {
  const size_t equals = line.find('=');
  if (equals == std::string_view::npos) return "expected key = value";
  const std::string_view key = Trim(line.substr(0, equals));
  const std::string_view value = Trim(line.substr(equals + 1));
  if (value.empty()) return "no value for \"" + std::string(key) + "\"";
  const size_t dot = key.rfind('.');
  if (dot != std::string_view::npos) {
    const std::string column(Trim(key.substr(0, dot)));
    if (column.empty()) return "no column before \".\"";
    ColumnMeta& entry = meta.columns[column];
    const std::string reason = SetColumn(entry, Trim(key.substr(dot + 1)), value);
    return reason.empty() ? CheckColumn(column, entry) : reason;
  }
  if (!IsAttributeName(key)) return "\"" + std::string(key) + "\" is not an attribute name";
  if (IsDerivedGlobal(key)) return "\"" + std::string(key) + "\" is written from the data";
  if (key == "latitude" || key == "longitude") {
    const std::optional<double> number = ParseNumber(value);
    const int limit = key == "latitude" ? 90 : 180;
    if (!number || *number < -limit || *number > limit)
      return std::string(key) + " needs degrees from " + std::to_string(-limit) + " to " +
             std::to_string(limit);
    (key == "latitude" ? meta.latitude : meta.longitude) = number;
    return "";
  }
  for (const auto& [name, existing] : meta.globals) {
    if (name == key) return "\"" + std::string(key) + "\" given twice";
  }
  meta.globals.emplace_back(key, value);
  return "";
}

}  // namespace

bool ParseMeta(std::string_view text, Meta& meta, std::string& error) {
  int number = 0;
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = Trim(text.substr(start, end - start));
    start = end + 1;
    ++number;
    if (line.empty() || line.front() == '#') continue;
    const std::string reason = ParseLine(line, meta);
    if (!reason.empty()) {
      error = "line " + std::to_string(number) + ": " + reason;
      return false;
    }
  }
  return true;
}

bool LoadMeta(const std::string& path, Meta& meta, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = path + ": cannot be read";
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (!ParseMeta(text.str(), meta, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace zol::view
