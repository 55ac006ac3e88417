// Captures every byte the program writes to the console while it lives.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/console_out.h"

namespace zol::test {

class ConsoleCapture {
 public:
  ConsoleCapture() : stream_(open_memstream(&buffer_, &size_)) { SetConsoleStream(stream_); }
  ~ConsoleCapture() {
    SetConsoleStream(nullptr);
    std::fclose(stream_);
    std::free(buffer_);
  }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  std::string Text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
  }
  // The text written since the last call.
  std::string Take() {
    std::string all = Text();
    std::string out = all.substr(taken_);
    taken_ = all.size();
    return out;
  }

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  size_t taken_ = 0;
  std::FILE* stream_;
};

}  // namespace zol::test
