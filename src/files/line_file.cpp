#include "files/line_file.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <utility>

#include "files/append_file.h"

namespace zol {
namespace {

// A longer run without a line end is written as it stands rather than held.
constexpr size_t kMaxPendingBytes = size_t{64} * 1024;
// Most lines are formatted here; longer ones on the heap.
constexpr size_t kFormatBufferSize = 512;

}  // namespace

std::unique_ptr<LineFile> LineFile::Open(const char* path) {
  std::unique_ptr<AppendFile> file = AppendFile::Open(path);
  if (file == nullptr) return nullptr;
  return std::unique_ptr<LineFile>(new LineFile(std::move(file)));
}

LineFile::LineFile(std::unique_ptr<AppendFile> file) : file_(std::move(file)) {}

LineFile::~LineFile() {
  (void)Close();
}

void LineFile::Printf(const char* format, ...) {
  char buffer[kFormatBufferSize];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    Lost(errno != 0 ? errno : EINVAL);
    return;
  }
  const auto size = static_cast<size_t>(length);
  if (size < sizeof buffer) {
    va_end(again);
    Write(buffer, size);
    return;
  }
  std::string text(size + 1, '\0');
  (void)std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  Write(text.data(), size);
}

void LineFile::AppendLine(const char* text) {
  Printf("%s\n", text);
}

void LineFile::Write(const char* bytes, size_t length) {
  if (file_ == nullptr) {
    Lost(EBADF);
    return;
  }
  pending_.append(bytes, length);
  const size_t lastEnd = pending_.rfind('\n');
  size_t complete = lastEnd == std::string::npos ? 0 : lastEnd + 1;
  if (complete == 0 && pending_.size() > kMaxPendingBytes) complete = pending_.size();
  if (complete == 0) return;
  // Lines that could not be stored are dropped, and the loss is reported
  // by Close: offering them again later would store them out of order.
  Append(pending_.data(), complete);
  pending_.erase(0, complete);
}

int LineFile::Close() {
  if (file_ == nullptr) return firstError_;
  Append(pending_.data(), pending_.size());
  pending_.clear();
  if (!file_->Sync()) Lost(errno);
  file_.reset();
  return firstError_;
}

void LineFile::Append(const char* bytes, size_t length) {
  if (!file_->AppendWhole(bytes, length)) Lost(errno);
}

void LineFile::Lost(int error) {
  if (firstError_ == 0) firstError_ = error != 0 ? error : EIO;
}

}  // namespace zol
