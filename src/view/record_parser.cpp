#include "view/record_parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace zol::view {
namespace {

constexpr std::string_view kFieldSeparator = ", ";
// Where both sensor kinds keep DATE TIME, for lines of a file whose layout
// is not known.
constexpr int kUsualTimeColumn = 2;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Printable ASCII and tabs only: noise on the line shows up as anything else.
// Every byte is looked at without a branch, so the compiler can take many
// at a time: this runs over every byte of every file.
bool IsText(std::string_view line) {
  unsigned bad = 0;
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    // Below 0x20 wraps around: one comparison catches both ends.
    bad |= static_cast<unsigned>(static_cast<unsigned char>(byte - 0x20) >= 0x5F) &
           static_cast<unsigned>(byte != '\t');
  }
  return bad == 0;
}

bool IsBlank(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

void SplitFields(std::string_view line, std::vector<std::string_view>& fields) {
  fields.clear();
  for (size_t start = 0;;) {
    const size_t end = line.find(kFieldSeparator, start);
    if (end == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return;
    }
    fields.push_back(line.substr(start, end - start));
    start = end + kFieldSeparator.size();
  }
}

constexpr std::string_view kTimePattern = "dddd/dd/dd dd:dd:dd";

// Digits where a DATE TIME has them, whether or not they make a real time.
bool HasTimeShape(std::string_view text) {
  if (text.size() != kTimePattern.size()) return false;
  for (size_t i = 0; i < kTimePattern.size(); ++i) {
    const bool ok = kTimePattern[i] == 'd' ? IsDigit(text[i]) : text[i] == kTimePattern[i];
    if (!ok) return false;
  }
  return true;
}

int Digits(std::string_view text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i)
    value = value * 10 + (text[i] - '0');
  return value;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// A record is known by its field count and its DATE TIME alone: nothing
// fixes what the ZOL writes into the CRC field. A line that is not one is
// named for what it resembles most.
LineKind RecordKind(std::string_view line, const Layout* layout, ParsedLine& out) {
  SplitFields(line, out.fields);
  const int timeColumn = layout != nullptr ? layout->timeColumn : kUsualTimeColumn;
  const bool timeShaped = timeColumn >= 0 && static_cast<size_t>(timeColumn) < out.fields.size() &&
                          HasTimeShape(out.fields[timeColumn]);
  LineKind kind = LineKind::kRecord;
  if (layout != nullptr && out.fields.size() == layout->columns.size()) {
    const std::optional<int64_t> time =
        timeColumn >= 0 ? ParseDateTime(out.fields[timeColumn]) : std::nullopt;
    if (time) {
      out.time = *time;
      return LineKind::kRecord;
    }
    kind = LineKind::kBadTime;
  } else if (timeShaped) {
    kind = layout != nullptr ? LineKind::kCut : LineKind::kUnlabeled;
  } else if (line.size() <= kMaxConfigLength) {
    kind = LineKind::kConfig;
  } else {
    kind = LineKind::kStray;
  }
  out.fields.clear();
  return kind;
}

}  // namespace

std::optional<int64_t> ParseDateTime(std::string_view text) {
  if (!HasTimeShape(text)) return std::nullopt;
  const int year = Digits(text, 0, 4);
  const int month = Digits(text, 5, 2);
  const int day = Digits(text, 8, 2);
  const int hour = Digits(text, 11, 2);
  const int minute = Digits(text, 14, 2);
  const int second = Digits(text, 17, 2);
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59)
    return std::nullopt;
  return DaysFromCivil(year, month, day) * 86400 + int64_t{hour} * 3600 + int64_t{minute} * 60 +
         second;
}

std::optional<double> ParseNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  // from_chars takes no leading '+', which C's printf never writes either.
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

void ClassifyLine(std::string_view line, const Layout* layout, ParsedLine& out) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  out.fields.clear();
  // Too long for a record here, too long for a configuration line below.
  if (line.size() > kMaxRecordLength) {  // NOLINT(bugprone-branch-clone)
    out.kind = LineKind::kTooLong;
  } else if (!IsText(line)) {
    out.kind = LineKind::kBinary;
  } else if (IsBlank(line)) {
    out.kind = LineKind::kBlank;
  } else if (line == "#ALL RECORDS" || LayoutFromColumnLine(line).has_value()) {
    out.kind = LineKind::kHeader;
  } else {
    out.kind = RecordKind(line, layout, out);
  }
}

std::optional<int64_t> ParseDigits(std::string_view text, size_t maxDigits, int64_t max) {
  // 18 digits never overflow.
  if (text.empty() || text.size() > std::min<size_t>(maxDigits, 18)) return std::nullopt;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

}  // namespace zol::view
