// Where a layer below the files stores text lines without knowing files.
#pragma once

namespace zol {

class LineSink {
 public:
  // Stores `text` followed by a line end.
  virtual void AppendLine(const char* text) = 0;

 protected:
  ~LineSink() = default;
};

}  // namespace zol
