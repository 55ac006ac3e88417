// Captures every byte the program writes to the console while it lives.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

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

  // Safe while other threads write: the stream's own lock keeps them out.
  std::string Text() {
    flockfile(stream_);
    std::fflush(stream_);
    std::string text(buffer_, size_);
    funlockfile(stream_);
    return text;
  }
  // Waits (in real time) until the text written so far contains `part`.
  bool WaitForText(const std::string& part, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Text().find(part) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
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
