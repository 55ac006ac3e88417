// The control socket's commands: one line of text each, read from whatever
// bytes a client sends, bounded so that no client can make it hold more
// than a line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zol {

// Longest command line, without its line end.
inline constexpr std::size_t kMaxControlLine = 512;

enum class ControlCommand { kNone, kStatus, kSample, kTerminal, kFollow, kStop, kUnknown };

// The command a line names (blanks around it allowed; kNone for a blank
// line).
ControlCommand ParseControlCommand(std::string_view line);

// The reply to a line that names no command: its first 40 bytes, escaped.
std::string UnknownCommandReply(std::string_view line);

class ControlLineReader {
 public:
  enum class Result { kNone, kLine, kTooLong };
  void Append(const char* bytes, std::size_t count) { buffer_.append(bytes, count); }
  // The next whole line (its CR LF or LF removed), or kTooLong when more than
  // kMaxControlLine bytes come without a line end.
  Result Next(std::string* line);
  // What follows the lines taken so far; the reader is left empty.
  std::string TakeRest();
  std::size_t Buffered() const { return buffer_.size(); }

 private:
  std::string buffer_;
};

}  // namespace zol
