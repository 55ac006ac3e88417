// Windows keeps access in the file's ACL, which the installer sets; the
// mode bits say nothing, so only the reading is done here.
#include <cerrno>
#include <cstdio>
#include <memory>

#include "mqtt/private_file.h"

namespace zol::mqtt {

SmallFile ReadSmallFile(const std::string& path, size_t limit) {
  SmallFile file;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
  if (stream == nullptr) {
    file.error = errno != 0 ? errno : ENOENT;
    return file;
  }
  char buffer[1024];
  for (;;) {
    const size_t got = std::fread(buffer, 1, sizeof buffer, stream.get());
    if (got == 0) {
      if (std::ferror(stream.get()) != 0) file.error = EIO;
      return file;
    }
    if (file.content.size() + got > limit) {
      file.tooLarge = true;
      return file;
    }
    file.content.append(buffer, got);
  }
}

}  // namespace zol::mqtt
