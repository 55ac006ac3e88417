#include "forward/line_message.h"

#include <optional>

#include "base/json_text.h"

namespace zol::forward {
namespace {

// A record's fields by column name: numbers as zolview reads them, empty
// fields as null, the rest as strings.
std::string Values(const view::Layout& layout, const view::ParsedLine& parsed) {
  JsonObject values;
  for (size_t i = 0; i < parsed.fields.size() && i < layout.columns.size(); ++i) {
    const std::string_view field = parsed.fields[i];
    if (field.empty()) {
      values.Null(layout.columns[i]);
    } else if (const std::optional<double> number = view::ParseNumber(field)) {
      values.Number(layout.columns[i], *number);
    } else {
      values.String(layout.columns[i], field);
    }
  }
  return values.Text();
}

}  // namespace

std::string LineMessage(const LineOrigin& origin, std::string_view line, std::string_view eol,
                        const view::Layout& layout, view::ParsedLine& scratch) {
  view::ClassifyLine(line, &layout, scratch);
  const bool record = !eol.empty() && scratch.kind == view::LineKind::kRecord;
  JsonObject message;
  message.String("station", origin.station)
      .String("file", origin.file)
      .Integer("generation", origin.generation)
      .Integer("offset", static_cast<int64_t>(origin.offset))
      .String("line", line)
      .String("eol", eol)
      .String("kind", record ? "record" : "header");
  if (record) {
    message.String("time", IsoUtc(scratch.time))
        .Bool("pump", origin.pump)
        .Raw("values", Values(layout, scratch));
  }
  return message.Text();
}

}  // namespace zol::forward
