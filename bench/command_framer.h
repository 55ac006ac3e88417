// Splits what the sampler sends into the instruments' commands. The sampler's
// commands carry no terminator, so each is recognised by its own shape.
#pragma once

#include <cstddef>
#include <string>

namespace bench {

enum class ZolCommand {
  kNone,  // no command completed by this byte
  kWake,
  kMode,  // "MODE,n"
  kAck,   // "ACK\r\n" after a mode or CTD exchange
  kNak,
  kCtd,  // "CTD,<secs>,<T>,<S>,<P>"
  kTakeSample,
  kGetSample,
  kSleep,
  kCtrlC,
};

struct FramedByte {
  bool startsCommand = false;  // the first byte of a command
  ZolCommand completed = ZolCommand::kNone;
};

class ZolCommandFramer {
 public:
  FramedByte Feed(unsigned char byte);
  // The text of the command completed last.
  const std::string& Text() const { return last_; }

 private:
  ZolCommand Complete(ZolCommand command);
  ZolCommand Match() const;
  bool CouldStillMatch() const;

  std::string text_;
  std::string last_;
  ZolCommand previous_ = ZolCommand::kNone;
};

enum class CtdCommand {
  kNone,
  kPoke,     // a lone CR
  kMeasure,  // "pts\r"
  kPumpOn,
  kPumpOff,
  kRelease,  // "QS\r"
  kOther,
};

struct FramedCtdByte {
  bool startsCommand = false;
  CtdCommand completed = CtdCommand::kNone;
};

// The CTD's commands all end with CR.
class CtdCommandFramer {
 public:
  FramedCtdByte Feed(unsigned char byte);
  // Bytes of the command completed last, its CR included.
  size_t Length() const { return length_; }

 private:
  std::string text_;
  bool inCommand_ = false;
  size_t length_ = 0;
};

}  // namespace bench
