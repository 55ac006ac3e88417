#include "base/console_out.h"

#include <atomic>
#include <cstdarg>

namespace zol {
namespace {
std::atomic<std::FILE*> g_stream{nullptr};
}

std::FILE* ConsoleStream() {
  std::FILE* stream = g_stream.load(std::memory_order_acquire);
  return stream != nullptr ? stream : stdout;
}

void SetConsoleStream(std::FILE* stream) {
  g_stream.store(stream, std::memory_order_release);
}

// Write errors are ignored on purpose: a console that went away (SIGHUP,
// closed pipe) must never stop the sampling.
void ConsolePrintf(const char* format, ...) {
  std::FILE* stream = ConsoleStream();
  va_list args;
  va_start(args, format);
  std::vfprintf(stream, format, args);
  va_end(args);
  std::fflush(stream);
}

void ConsoleWrite(const char* bytes, std::size_t count) {
  std::FILE* stream = ConsoleStream();
  std::fwrite(bytes, 1, count, stream);
  std::fflush(stream);
}

void ConsolePutc(int ch) {
  std::FILE* stream = ConsoleStream();
  std::fputc(ch, stream);
  std::fflush(stream);
}

void ConsoleBeep() {
  ConsolePutc('\a');
}

}  // namespace zol
