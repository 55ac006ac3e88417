// Records as RFC 4180 CSV: a header of column names, one row per record,
// each field as stored, CR LF line ends.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace zol::view {

// One field, quoted when it holds a comma, a quote, CR or LF.
void AppendCsvField(std::string& row, std::string_view field);
// Fields joined by commas, ended by CR LF.
std::string CsvRow(const std::vector<std::string_view>& fields);

// Writes the records of every file to `out`, problems to `err`. All files
// must share one layout; false when one cannot be read or differs.
bool WriteCsv(const std::vector<std::string>& paths, std::FILE* out, std::FILE* err);

}  // namespace zol::view
