#include "view/line_reader.h"

#include <algorithm>
#include <cstring>

namespace zol::view {
namespace {

constexpr size_t kReadChunk = 1 << 16;

}  // namespace

LineReader::LineReader(const std::string& path, uint64_t byteLimit, size_t maxLine)
    : left_(byteLimit), maxLine_(maxLine), buffer_(std::max(kReadChunk, 2 * maxLine + 2), '\0') {
  OpenFile(path);
}

LineReader::~LineReader() {
  if (IsOpen()) CloseFile();
}

// Moves what is left to the front and reads more after it; false when
// nothing more came.
bool LineReader::Fill() {
  if (eof_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const size_t room = std::min<uint64_t>(buffer_.size() - end_, left_);
  if (room == 0) {
    eof_ = left_ == 0;
    return false;
  }
  const int64_t got = ReadSome(buffer_.data() + end_, room);
  if (got <= 0) {
    eof_ = true;
    return false;
  }
  end_ += static_cast<size_t>(got);
  left_ -= static_cast<uint64_t>(got);
  return true;
}

// Drops bytes up to and including the next LF; false when the file ended first.
bool LineReader::SkipRestOfLine() {
  for (;;) {
    const char* start = buffer_.data() + begin_;
    const void* lf = std::memchr(start, '\n', end_ - begin_);
    if (lf != nullptr) {
      const size_t used = static_cast<const char*>(lf) - start + 1;
      begin_ += used;
      consumed_ += used;
      return true;
    }
    consumed_ += end_ - begin_;
    begin_ = end_ = 0;
    if (!Fill()) return false;
  }
}

bool LineReader::Next(Line& line) {
  if (!IsOpen()) return false;
  for (;;) {
    const char* start = buffer_.data() + begin_;
    const size_t held = end_ - begin_;
    const void* lf = std::memchr(start, '\n', std::min(held, maxLine_ + 1));
    if (lf != nullptr) {
      const size_t length = static_cast<const char*>(lf) - start;
      line = {std::string_view(start, length), false, true};
      begin_ += length + 1;
      consumed_ += length + 1;
      return true;
    }
    if (held > maxLine_) {
      line = {std::string_view(), true, SkipRestOfLine()};
      return true;
    }
    if (!Fill()) break;
  }
  if (begin_ == end_) return false;
  line = {std::string_view(buffer_.data() + begin_, end_ - begin_), false, false};
  consumed_ += end_ - begin_;
  begin_ = end_;
  return true;
}

}  // namespace zol::view
