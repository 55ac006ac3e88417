// The record layout of a data file: the names of a sample record's fields,
// taken from the file's own column line or, in a file without a header, from
// the sensor kind in its name.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zol::view {

struct Layout {
  std::string kind;                  // "KIRN", "PADO" or "" for a column line of another kind
  std::vector<std::string> columns;  // in record order
  std::vector<bool> numeric;         // per column: holds a number
  int timeColumn = -1;               // DATE TIME
  int mainColumn = -1;               // the value worth a look: nitrate or pH; -1 when absent

  int ColumnIndex(std::string_view name) const;
};

// A column line ("CRC, ID, DATE TIME, ..."); nothing for any other line.
std::optional<Layout> LayoutFromColumnLine(std::string_view line);
// The built-in layout of "KIRN" or "PADO".
std::optional<Layout> LayoutForKind(std::string_view kind);
// From a data file's name: ZOL0042_KIRN.dat, ZOL0042_PADO_2.dat, in any folder.
std::optional<Layout> LayoutFromFileName(std::string_view path);

}  // namespace zol::view
