#include "command_framer.h"

#include <cctype>
#include <cstddef>

namespace bench {
namespace {

constexpr unsigned char kCtrlC = 3;
constexpr std::size_t kLongestCommand = 128;

const char* const kFixedCommands[] = {"TS", "MODE,1", "MODE,2", "SLP", "ACK\r\n", "NAK\r\n"};

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// "CTD," and four fields, the last with its two decimals ("%.2f").
bool IsWholeCtdCommand(const std::string& text) {
  if (!StartsWith(text, "CTD,")) return false;
  int commas = 0;
  for (char c : text)
    commas += c == ',' ? 1 : 0;
  if (commas != 4) return false;
  const std::size_t point = text.rfind('.');
  if (point == std::string::npos || point < text.rfind(',')) return false;
  return text.size() == point + 3 && std::isdigit(static_cast<unsigned char>(text[point + 1])) &&
         std::isdigit(static_cast<unsigned char>(text[point + 2]));
}

}  // namespace

ZolCommand ZolCommandFramer::Complete(ZolCommand command) {
  last_ = text_;
  text_.clear();
  previous_ = command;
  return command;
}

ZolCommand ZolCommandFramer::Match() const {
  if (text_ == "TS") return ZolCommand::kTakeSample;
  if (text_ == "MODE,1" || text_ == "MODE,2") return ZolCommand::kMode;
  if (text_ == "SLP") return ZolCommand::kSleep;
  // "SL" is also the start of "SLP": the record is fetched only right after
  // a wake-up, the sleep command never follows one.
  if (text_ == "SL" && previous_ == ZolCommand::kWake) return ZolCommand::kGetSample;
  if (text_ == "ACK\r\n") return ZolCommand::kAck;
  if (text_ == "NAK\r\n") return ZolCommand::kNak;
  if (IsWholeCtdCommand(text_)) return ZolCommand::kCtd;
  return ZolCommand::kNone;
}

bool ZolCommandFramer::CouldStillMatch() const {
  if (text_.size() >= kLongestCommand) return false;
  if (StartsWith(text_, "CTD,") || StartsWith(std::string("CTD,"), text_)) return true;
  for (const char* command : kFixedCommands) {
    if (StartsWith(command, text_)) return true;
  }
  return false;
}

FramedByte ZolCommandFramer::Feed(unsigned char byte) {
  FramedByte framed;
  if (text_.empty()) {
    // Line ends between commands belong to none.
    if (byte == '\r' || byte == '\n') return framed;
    framed.startsCommand = true;
    if (byte == 'W') {
      text_ = "W";
      framed.completed = Complete(ZolCommand::kWake);
      return framed;
    }
    if (byte == kCtrlC) {
      text_ = "\x03";
      framed.completed = Complete(ZolCommand::kCtrlC);
      return framed;
    }
  }
  text_.push_back(static_cast<char>(byte));
  const ZolCommand matched = Match();
  if (matched != ZolCommand::kNone) {
    framed.completed = Complete(matched);
  } else if (!CouldStillMatch()) {
    text_.clear();  // noise: start afresh with the next byte
  }
  return framed;
}

FramedCtdByte CtdCommandFramer::Feed(unsigned char byte) {
  FramedCtdByte framed;
  framed.startsCommand = !inCommand_;
  inCommand_ = true;
  if (byte != '\r') {
    if (text_.size() < kLongestCommand) text_.push_back(static_cast<char>(byte));
    return framed;
  }
  if (text_.empty()) {
    framed.completed = CtdCommand::kPoke;
  } else if (text_ == "pts") {
    framed.completed = CtdCommand::kMeasure;
  } else if (text_ == "pumpon") {
    framed.completed = CtdCommand::kPumpOn;
  } else if (text_ == "pumpoff") {
    framed.completed = CtdCommand::kPumpOff;
  } else if (text_ == "QS") {
    framed.completed = CtdCommand::kRelease;
  } else {
    framed.completed = CtdCommand::kOther;
  }
  length_ = text_.size() + 1;
  text_.clear();
  inCommand_ = false;
  return framed;
}

}  // namespace bench
