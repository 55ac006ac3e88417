// One line of a data file as the link publishes it on `<prefix>/data`: a
// JSON object naming the line (station, file, generation, offset), the line
// and its line end as stored, its kind, and for a sample record its time,
// whether it is the pump sample's, and its fields by the mode's column
// names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "view/layout.h"
#include "view/record_parser.h"

namespace zol::forward {

struct LineOrigin {
  std::string_view station;  // "ZOL0042"
  std::string_view file;     // "ZOL0042_KIRN.dat"
  int64_t generation = 0;
  uint64_t offset = 0;  // where the line starts in the file
  bool pump = false;    // the pump sample's file
};

// `line` without its line end `eol` ("\n", "\r\n", or "" for a piece of an
// overlong line). `scratch` is reused between calls.
std::string LineMessage(const LineOrigin& origin, std::string_view line, std::string_view eol,
                        const view::Layout& layout, view::ParsedLine& scratch);

}  // namespace zol::forward
