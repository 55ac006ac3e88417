#include "forward/data_tail.h"

#include <fstream>

namespace zol::forward {
namespace {

constexpr size_t kChunk = size_t{256} * 1024;

// The line at the start of `text`; false when it has no end yet and is
// shorter than a piece.
bool SplitLine(std::string_view text, TailLine* line) {
  const size_t newline = text.substr(0, kMaxPiece + 1).find('\n');
  if (newline == std::string_view::npos) {
    if (text.size() <= kMaxPiece) return false;
    line->text = text.substr(0, kMaxPiece);
    line->eol = {};
    return true;
  }
  const bool crlf = newline > 0 && text[newline - 1] == '\r';
  line->text = text.substr(0, crlf ? newline - 1 : newline);
  line->eol = text.substr(line->text.size(), crlf ? 2 : 1);
  return true;
}

}  // namespace

void DataTail::Forget() {
  buffer_.clear();
  bufferOffset_ = 0;
}

bool DataTail::Read(uint64_t offset) {
  Forget();
  std::ifstream in(path_, std::ios::binary);
  if (!in) return false;
  in.seekg(static_cast<std::streamoff>(offset));
  if (!in) return false;
  buffer_.resize(kChunk);
  in.read(buffer_.data(), static_cast<std::streamsize>(kChunk));
  buffer_.resize(static_cast<size_t>(in.gcount()));
  bufferOffset_ = offset;
  return true;
}

bool DataTail::LineAt(uint64_t offset, TailLine* line) {
  line->offset = offset;
  const bool inBuffer = offset >= bufferOffset_ && offset <= bufferOffset_ + buffer_.size();
  if (inBuffer) {
    const std::string_view rest = std::string_view(buffer_).substr(offset - bufferOffset_);
    // Else the buffer holds the line's start only, or the file grew.
    if (SplitLine(rest, line)) return true;
  }
  return Read(offset) && SplitLine(buffer_, line);
}

DataTail::Count DataTail::CountFrom(uint64_t offset) const {
  DataTail reader(path_);
  Count count{0, offset};
  TailLine line;
  while (reader.LineAt(count.end, &line)) {
    ++count.lines;
    count.end = line.End();
  }
  return count;
}

}  // namespace zol::forward
