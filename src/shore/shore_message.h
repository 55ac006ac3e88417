// One line of a ship's data file as it arrives ashore (`<prefix>/data`):
// read from its JSON and checked, so that nothing in it can name a path
// outside the shore's folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zol::shore {

struct LineMessage {
  std::string station;  // a folder name under the shore's folder
  std::string file;     // a file name in it
  int64_t generation = 0;
  uint64_t offset = 0;  // where the line starts in the ship's file
  std::string bytes;    // the line and its line end, as stored aboard
};

// The longest station or file name taken.
inline constexpr std::size_t kMaxNameBytes = 128;

// Reads and checks one message; on failure `error` says what is wrong.
bool ParseLineMessage(std::string_view json, LineMessage* out, std::string* error);

// A name that stays one entry inside its folder: not empty, not hidden (so
// neither "." nor ".."), no "..", no slash, backslash or control byte.
bool IsPlainName(std::string_view name);

}  // namespace zol::shore
