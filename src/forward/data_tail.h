// The whole lines of a growing data file from an offset on, read in chunks
// and kept until they are taken: the link's view of the queue. A line still
// without its line end waits; a line longer than kMaxPiece is handed out in
// pieces without a line end, so every byte still goes out at its offset.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace zol::forward {

inline constexpr size_t kMaxPiece = size_t{16} * 1024;

struct TailLine {
  uint64_t offset = 0;
  std::string_view text;  // without the line end
  std::string_view eol;   // "\n", "\r\n", or "" for a piece
  uint64_t End() const { return offset + text.size() + eol.size(); }
};

class DataTail {
 public:
  explicit DataTail(std::string path) : path_(std::move(path)) {}

  // The line at `offset`, reading more of the file when needed; false when
  // no whole line (or piece) starts there yet. Valid until the next call.
  bool LineAt(uint64_t offset, TailLine* line);
  // Forgets what was read (the file was replaced).
  void Forget();

  // Whole lines (and pieces) from `offset` to the end of the file: their
  // count and the offset after the last.
  struct Count {
    uint64_t lines = 0;
    uint64_t end = 0;
  };
  Count CountFrom(uint64_t offset) const;

 private:
  bool Read(uint64_t offset);

  std::string path_;
  std::string buffer_;
  uint64_t bufferOffset_ = 0;
};

}  // namespace zol::forward
