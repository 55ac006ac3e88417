// Captures every byte the program writes to the console while it lives.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "base/console_out.h"

namespace zol::test {

class ConsoleCapture {
 public:
  ConsoleCapture() : sink_(std::make_unique<Sink>()) { SetConsoleStream(sink_->stream); }
  ~ConsoleCapture() { SetConsoleStream(nullptr); }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  // Safe while other threads write: the stream's own lock keeps them out.
  std::string Text() { return sink_->Text(); }
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
  // Take, with the buffer started afresh, so that a long run holds only
  // what it has not looked at. Only while no other thread writes.
  std::string Restart() {
    std::string out = Take();
    auto fresh = std::make_unique<Sink>();
    SetConsoleStream(fresh->stream);
    sink_ = std::move(fresh);
    taken_ = 0;
    return out;
  }

 private:
#ifdef _WIN32
  // No memory streams on Windows: a temporary file (binary), read back whole.
  struct Sink {
    Sink() : stream(std::tmpfile()) {}
    ~Sink() { std::fclose(stream); }
    std::string Text() {
      _lock_file(stream);
      std::fflush(stream);
      std::string text(static_cast<size_t>(std::ftell(stream)), '\0');
      std::rewind(stream);
      text.resize(std::fread(text.data(), 1, text.size(), stream));
      std::fseek(stream, 0, SEEK_END);
      _unlock_file(stream);
      return text;
    }
    std::FILE* stream;
  };
#else
  // One in-memory stream and the buffer it writes.
  struct Sink {
    Sink() : stream(open_memstream(&buffer, &size)) {}
    ~Sink() {
      std::fclose(stream);
      std::free(buffer);
    }
    std::string Text() {
      flockfile(stream);
      std::fflush(stream);
      std::string text(buffer, size);
      funlockfile(stream);
      return text;
    }
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* stream;
  };
#endif

  std::unique_ptr<Sink> sink_;
  size_t taken_ = 0;
};

}  // namespace zol::test
