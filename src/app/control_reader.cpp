#include "app/control_reader.h"

#include "base/json_text.h"
#include "base/text_trim.h"

namespace zol {
namespace {

constexpr std::size_t kEchoedBytes = 40;

}  // namespace

ControlCommand ParseControlCommand(std::string_view line) {
  const std::string_view word = Trimmed(line, " \t");
  if (word.empty()) return ControlCommand::kNone;
  if (word == "status") return ControlCommand::kStatus;
  if (word == "sample") return ControlCommand::kSample;
  if (word == "terminal") return ControlCommand::kTerminal;
  if (word == "follow") return ControlCommand::kFollow;
  if (word == "stop") return ControlCommand::kStop;
  return ControlCommand::kUnknown;
}

std::string UnknownCommandReply(std::string_view line) {
  return JsonObject()
      .String("error", "unknown command: " + std::string(line.substr(0, kEchoedBytes)))
      .Text();
}

ControlLineReader::Result ControlLineReader::Next(std::string* line) {
  const std::size_t end = buffer_.find('\n');
  // Room for a CR before the line end.
  if (end == std::string::npos)
    return buffer_.size() > kMaxControlLine + 1 ? Result::kTooLong : Result::kNone;
  std::size_t length = end;
  if (length > 0 && buffer_[length - 1] == '\r') --length;
  if (length > kMaxControlLine) return Result::kTooLong;
  line->assign(buffer_, 0, length);
  buffer_.erase(0, end + 1);
  return Result::kLine;
}

std::string ControlLineReader::TakeRest() {
  std::string rest;
  rest.swap(buffer_);
  return rest;
}

}  // namespace zol
