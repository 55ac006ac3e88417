#include "view/layout.h"

#include <algorithm>

namespace zol::view {
namespace {

constexpr std::string_view kKirnColumns =
    "CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
    "COUNTER, KIRN_ERROR COUNTER, SYS_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, "
    "INPUT VOLTAGE, INPUT CURRENT, MAX LAMP INTEN, MIN LAMP INTEN, DC MEAN, DC STDDEV, KIRN "
    "SALINITY, KIRN NITRATE, FIT ERROR, DAT PIXEL BEG, DAT PIXEL END, PACKED HEX DATA, SW DC";

constexpr std::string_view kPadoColumns =
    "CRC, ID, DATE TIME, UTC SECS, CTD DEPTH, CTD TEMP, CTD SALINITY, SAMPLE COUNTER, POR "
    "COUNTER, PADO_ERROR COUNTER, HOUSING TEMPERATURE, HOUSING HUMIDITY, INPUT VOLTAGE, INPUT "
    "CURRENT, FOOBAR PH VALUE, BACKUP BATTERY, VRS VOLTS, VRS STDDEV, VK VOLTS, VK STDDEV, IK "
    "AMPS, IB AMPS";

constexpr std::string_view kColumnLineStart = "CRC, ID, DATE TIME";

// Fields that are text, not numbers: the check, the instrument's name, the
// time and the raw detector counts.
bool IsTextColumn(std::string_view name) {
  return name == "CRC" || name == "ID" || name == "DATE TIME" || name == "PACKED HEX DATA";
}

std::string KindOf(const std::vector<std::string>& columns) {
  for (const std::string& name : columns) {
    if (name == "KIRN NITRATE") return "KIRN";
    if (name == "FOOBAR PH VALUE") return "PADO";
  }
  return "";
}

}  // namespace

int Layout::ColumnIndex(std::string_view name) const {
  const auto at = std::find(columns.begin(), columns.end(), name);
  return at == columns.end() ? -1 : static_cast<int>(at - columns.begin());
}

std::optional<Layout> LayoutFromColumnLine(std::string_view line) {
  if (line.substr(0, kColumnLineStart.size()) != kColumnLineStart) return std::nullopt;
  Layout layout;
  for (size_t start = 0;;) {
    const size_t end = line.find(',', start);
    std::string_view name = line.substr(start, end - start);
    while (!name.empty() && name.front() == ' ')
      name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ')
      name.remove_suffix(1);
    layout.columns.emplace_back(name);
    layout.numeric.push_back(!IsTextColumn(name));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  layout.kind = KindOf(layout.columns);
  layout.timeColumn = layout.ColumnIndex("DATE TIME");
  layout.mainColumn =
      layout.ColumnIndex(layout.kind == "PADO" ? "FOOBAR PH VALUE" : "KIRN NITRATE");
  return layout;
}

std::optional<Layout> LayoutForKind(std::string_view kind) {
  if (kind == "KIRN") return LayoutFromColumnLine(kKirnColumns);
  if (kind == "PADO") return LayoutFromColumnLine(kPadoColumns);
  return std::nullopt;
}

std::optional<Layout> LayoutFromFileName(std::string_view path) {
  const size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  for (std::string_view kind : {"KIRN", "PADO"}) {
    const std::string marker = "_" + std::string(kind);
    const size_t at = name.find(marker);
    if (at == std::string_view::npos) continue;
    const std::string_view rest = name.substr(at + marker.size());
    if (rest.empty() || rest.front() == '.' || rest.front() == '_') return LayoutForKind(kind);
  }
  return std::nullopt;
}

}  // namespace zol::view
