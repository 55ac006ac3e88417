#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/posix/unique_fd.h"
#include "forward/cursor.h"

namespace zol::forward {
namespace {

int WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return wrote < 0 ? errno : EIO;
    done += static_cast<size_t>(wrote);
  }
  return 0;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

FileFacts StatFile(const std::string& path) {
  FileFacts facts;
  struct statx info {};
  if (::statx(AT_FDCWD, path.c_str(), 0, STATX_SIZE | STATX_BTIME | STATX_MTIME, &info) != 0)
    return facts;
  facts.exists = true;
  facts.size = info.stx_size;
  facts.bornSecond =
      (info.stx_mask & STATX_BTIME) != 0 ? info.stx_btime.tv_sec : info.stx_mtime.tv_sec;
  return facts;
}

std::optional<Cursor> ReadCursor(const std::string& dataFile) {
  const UniqueFd fd(::open(CursorPath(dataFile).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) return std::nullopt;
  char buffer[kMaxCursorBytes + 1];
  ssize_t got = 0;
  do {
    got = ::read(fd.Get(), buffer, sizeof buffer);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return std::nullopt;
  return ParseCursor(std::string_view(buffer, static_cast<size_t>(got)));
}

int WriteCursor(const std::string& dataFile, const Cursor& cursor) {
  const std::string path = CursorPath(dataFile);
  const std::string temporary = path + ".new";
  {
    const UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.Valid()) return errno;
    if (const int error = WriteAll(fd.Get(), FormatCursor(cursor)); error != 0) return error;
    if (::fsync(fd.Get()) != 0) return errno;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) return errno;
  // The rename itself reaches the disk with its directory.
  const UniqueFd directory(::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.Valid()) ::fsync(directory.Get());
  return 0;
}

void RemoveCursor(const std::string& dataFile) {
  ::unlink(CursorPath(dataFile).c_str());
  ::unlink((CursorPath(dataFile) + ".new").c_str());
}

}  // namespace zol::forward
