#include "base/console_out.h"

#include <atomic>
#include <cstdarg>
#include <string>

namespace zol {
namespace {
std::atomic<std::FILE*> g_stream{nullptr};
std::atomic<ConsoleTee> g_tee{nullptr};

void Tee(const char* bytes, std::size_t count) {
  const ConsoleTee tee = g_tee.load(std::memory_order_acquire);
  if (tee != nullptr && count > 0) tee(bytes, count);
}

}  // namespace

void SetConsoleTee(ConsoleTee tee) {
  g_tee.store(tee, std::memory_order_release);
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
  if (g_tee.load(std::memory_order_acquire) == nullptr) {
    std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
    return;
  }
  // With a tee the text is formatted once, so both get the same bytes.
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
  Tee(text.data(), text.size());
}

void ConsoleWrite(const char* bytes, std::size_t count) {
  std::FILE* stream = ConsoleStream();
  std::fwrite(bytes, 1, count, stream);
  std::fflush(stream);
  Tee(bytes, count);
}

void ConsolePutc(int ch) {
  std::FILE* stream = ConsoleStream();
  std::fputc(ch, stream);
  std::fflush(stream);
  const char byte = static_cast<char>(ch);
  Tee(&byte, 1);
}

void ConsoleBeep() {
  ConsolePutc('\a');
}

}  // namespace zol
