// zolview's reading of data file lines: any bytes, split into lines as the
// file reader does, must classify and parse without fault, and a record
// must keep the shape it was accepted for.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "view/record_parser.h"
#include "view/stats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const zol::view::Layout kirn = *zol::view::LayoutForKind("KIRN");
  static const zol::view::Layout pado = *zol::view::LayoutForKind("PADO");
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const zol::view::Layout& layout = size % 2 == 0 ? kirn : pado;
  zol::view::ParsedLine parsed;
  zol::view::RecordStats stats(layout);
  for (size_t start = 0; start <= input.size();) {
    const size_t end = std::min(input.find('\n', start), input.size());
    zol::view::ClassifyLine(input.substr(start, end - start), &layout, parsed);
    if (parsed.kind == zol::view::LineKind::kRecord) {
      // A record is its field count and a real DATE TIME, nothing else.
      if (parsed.fields.size() != layout.columns.size()) std::abort();
      if (zol::view::ParseDateTime(parsed.fields[layout.timeColumn]) != parsed.time) std::abort();
      stats.Add(parsed);
    }
    start = end + 1;
  }
  return 0;
}
