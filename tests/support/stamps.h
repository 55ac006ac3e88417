// Step lines carry local time stamps in the ctime layout. Tests compare
// whole texts with the stamps masked, and check the stamps that matter on
// their own.
#pragma once

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "base/local_time.h"

namespace zol::test {

inline const std::regex& CtimePattern() {
  static const std::regex pattern(
      "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
      "[ 1-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}");
  return pattern;
}

// Every stamp replaced by "<T>".
inline std::string MaskStamps(const std::string& text) {
  return std::regex_replace(text, CtimePattern(), "<T>");
}

// The stamps in order of appearance.
inline std::vector<std::string> Stamps(const std::string& text) {
  std::vector<std::string> out;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), CtimePattern());
       it != std::sregex_iterator(); ++it)
    out.push_back(it->str());
  return out;
}

// The stamp of `seconds` as a step line shows it (without the line end).
inline std::string StampOf(int64_t seconds) {
  std::string text = FormatCtime(seconds).text;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace zol::test
