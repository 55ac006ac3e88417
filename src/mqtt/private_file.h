// Reading a small file that holds a secret, with what its permissions allow.
#pragma once

#include <cstddef>
#include <string>

namespace zol::mqtt {

struct SmallFile {
  int error = 0;               // errno when it could not be read
  bool tooLarge = false;       // longer than the limit
  bool othersMayRead = false;  // readable by others than owner and group
  std::string content;
};

// Opens `path` once and reads at most `limit` bytes from what was opened.
SmallFile ReadSmallFile(const std::string& path, size_t limit);

}  // namespace zol::mqtt
