// Append-only text files that survive a crash or a full disk: every line
// reaches the file whole or not at all, and a closed file is on disk.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "base/line_sink.h"

namespace zol {

class AppendFile;

// The complete lines of each write are appended with one write on a
// descriptor opened for appending; when that write fails or falls short
// the file is cut back to its size before it, so no fragment stays
// behind; later lines are still tried. Closing writes a last unterminated
// piece and syncs the file to disk, and reports the reason of the first
// loss, if any line or the sync failed. (The writes themselves do not see
// the loss.)
class LineFile final : public LineSink {
 public:
  // Opens (creating it when missing) `path` for appending; nullptr with
  // errno set when it cannot be opened.
  static std::unique_ptr<LineFile> Open(const char* path);
  // Closes the file; a loss is not reported.
  ~LineFile();
  LineFile(const LineFile&) = delete;
  LineFile& operator=(const LineFile&) = delete;

  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Write(const char* bytes, size_t length);
  void AppendLine(const char* text) override;
  // 0 when everything written reached the disk, else the errno of the
  // first loss. Writes after it are lost.
  int Close();

 private:
  explicit LineFile(std::unique_ptr<AppendFile> file);
  void Append(const char* bytes, size_t length);
  void Lost(int error);

  std::unique_ptr<AppendFile> file_;
  std::string pending_;  // bytes after the last complete line
  int firstError_ = 0;   // why the first lost line was lost
};

}  // namespace zol
