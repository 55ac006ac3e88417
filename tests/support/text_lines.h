// A text split at its line ends.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace zol::test {

// The lines without their "\n"; a last line without one counts too.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

}  // namespace zol::test
