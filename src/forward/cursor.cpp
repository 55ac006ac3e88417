#include "forward/cursor.h"

#include <charconv>

namespace zol::forward {
namespace {

template <typename Number>
bool ParseDigits(std::string_view text, Number* value) {
  // Digits as FormatCursor writes them: no sign, no leading zero.
  if (text.empty() || text.size() > 20 ||
      text.find_first_not_of("0123456789") != std::string_view::npos ||
      (text.size() > 1 && text.front() == '0'))
    return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string CursorPath(const std::string& dataFile) {
  return dataFile + ".sent";
}

std::string FormatCursor(const Cursor& cursor) {
  return std::to_string(cursor.offset) + " " + std::to_string(cursor.generation) + "\n";
}

std::optional<Cursor> ParseCursor(std::string_view text) {
  if (text.size() > kMaxCursorBytes || !text.ends_with('\n')) return std::nullopt;
  text.remove_suffix(1);
  const size_t blank = text.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  Cursor cursor;
  if (!ParseDigits(text.substr(0, blank), &cursor.offset) ||
      !ParseDigits(text.substr(blank + 1), &cursor.generation))
    return std::nullopt;
  return cursor;
}

}  // namespace zol::forward
