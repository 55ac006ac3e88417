// Line files on Windows: text mode, so every line end reaches the disk as
// CR LF, appended at the end of the file by every write.
#include "files/line_file.h"

#include <cstdio>

namespace zol {

std::FILE* OpenLineFile(const char* path) {
  std::FILE* stream = std::fopen(path, "at");
  if (stream == nullptr) return nullptr;
  // Each fprintf goes to the file at once (the runtime hands a whole call's
  // text to the system in one piece), so a line is never held back in a
  // buffer when the process dies.
  std::setvbuf(stream, nullptr, _IONBF, 0);
  return stream;
}

}  // namespace zol
