// Reads a file line by line through a buffer of fixed size, so that memory
// stays flat whatever the file's size or the length of its lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zol::view {

struct Line {
  std::string_view text;   // without the LF; empty for a line too long to hold
  bool tooLong = false;    // longer than the reader's limit; its bytes were skipped
  bool terminated = true;  // false for a last line without a line end
};

class LineReader {
 public:
  // Reads `path`, at most `byteLimit` bytes of it. Lines longer than
  // `maxLine` bytes are reported as too long and not kept.
  LineReader(const std::string& path, uint64_t byteLimit, size_t maxLine);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  bool IsOpen() const { return handle_ != kNoHandle; }
  // The next line; false at the end of what there was to read. The text is
  // valid until the next call.
  bool Next(Line& line);
  // Bytes consumed so far: the file's length as read, when Next returned false.
  uint64_t BytesRead() const { return consumed_; }
  // The reason reading stopped early, or "".
  const std::string& Error() const { return error_; }

 private:
  // The platform's part (posix/, win32/): open `path` into handle_ or set
  // error_; close; read up to `room` bytes, 0 at the end, -1 with error_ set.
  void OpenFile(const std::string& path);
  void CloseFile();
  int64_t ReadSome(char* into, size_t room);

  bool Fill();
  bool SkipRestOfLine();

  // The platform's descriptor or handle; both use -1 for none.
  static constexpr intptr_t kNoHandle = -1;
  intptr_t handle_ = kNoHandle;
  uint64_t left_;  // bytes still allowed by the limit
  size_t maxLine_;
  std::string buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  uint64_t consumed_ = 0;
  bool eof_ = false;
  std::string error_;
};

}  // namespace zol::view
