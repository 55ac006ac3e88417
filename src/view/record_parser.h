// Tells the lines of a data file apart: sample records, configuration
// lines, the header, and everything else, which is counted and never read
// as data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "view/layout.h"

namespace zol::view {

// The sampler stores records of up to 1023 characters and configuration
// lines of up to 127; a longer line is not one of them.
inline constexpr size_t kMaxRecordLength = 1023;
inline constexpr size_t kMaxConfigLength = 127;

enum class LineKind {
  kRecord,
  kConfig,  // a line of a configuration block
  kHeader,  // "#ALL RECORDS" or a column line
  kBlank,
  kBinary,     // NUL, control or non-ASCII bytes
  kTooLong,    // longer than any record
  kCut,        // a DATE TIME where records have it, but the wrong number of fields
  kBadTime,    // a record's field count with an unreadable DATE TIME
  kUnlabeled,  // a DATE TIME where records have it, but the file's layout is unknown
  kStray,      // too long for a configuration line, and nothing like a record
};

// `fields` receives a record's fields (views into `line`) when the line is
// one; it is reused from line to line so that parsing allocates nothing.
struct ParsedLine {
  LineKind kind = LineKind::kBlank;
  int64_t time = 0;  // seconds since 1970 of a record's DATE TIME, read as UTC
  std::vector<std::string_view> fields;
};

// `line` comes without its line end (a CR before the LF is removed here).
// `layout` is null while the file's layout is unknown.
void ClassifyLine(std::string_view line, const Layout* layout, ParsedLine& out);

// "YYYY/MM/DD hh:mm:ss" as seconds since 1970 (UTC); nothing when it is not
// a real date and time.
std::optional<int64_t> ParseDateTime(std::string_view text);

// One to `maxDigits` (at most 18) decimal digits, no sign, as a whole number
// not above `max`; nothing for anything else.
std::optional<int64_t> ParseDigits(std::string_view text, size_t maxDigits, int64_t max);

// A field as a finite number; nothing for text, trailing characters, or a
// value outside double's range.
std::optional<double> ParseNumber(std::string_view text);

}  // namespace zol::view
