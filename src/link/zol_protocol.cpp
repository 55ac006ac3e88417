#include "link/zol_protocol.h"

#include <cmath>
#include <cstring>

#include "base/clock.h"
#include "base/console_out.h"
#include "link/line_primitives.h"
#include "link/serial_service.h"

namespace zol {
namespace {

constexpr int kTries = 10;
constexpr uint16_t kReplySeconds = 2;
constexpr uint16_t kMeasureSeconds = 25;
// Reply buffers: short acknowledgments, and the longer C, CTD and RTC lines.
constexpr uint16_t kShortReplySize = 32;
constexpr uint16_t kLongReplySize = 128;
constexpr int kBreakMs = 100;
constexpr int kCtrlC = 3;
// A configuration dump is a few dozen lines; a line that babbles on for
// ever must not hold start-up (or fill the data file) without end.
constexpr int kMaxConfigLines = 1000;

bool Holds(const char* line, const char* text) {
  return std::strstr(line, text) != nullptr;
}

void LeaveMenu(int port) {
  ConsolePrintf("\nZOL is in MENU MODE, sending a CTRL_C\n");
  SerialPutc(port, kCtrlC);
}

void SendWake(int port) {
  SerialPutc(port, 'W');
}

void SendSleep(int port) {
  SendString(port, "SLP");
}

// Up to ten tries of `send` until a reply holds `expected`; a menu prompt is
// left with CTRL+C on the way.
int TryUntilAcknowledged(int port, void (*send)(int), const char* expected) {
  char reply[kShortReplySize];
  for (int attempt = 0; attempt < kTries; ++attempt) {
    send(port);
    const int count = ReadLine(port, reply, sizeof reply, kReplySeconds);
    if (count > 0 && Holds(reply, expected)) {
      SerialRxClear(port);
      return kReplyOk;
    }
    if (count > 0 && std::strchr(reply, '>') != nullptr) LeaveMenu(port);
    SerialRxClear(port);
  }
  return kNoReply;
}

// The start of the commands that need the ZOL awake. The wake-up's result is
// not looked at: an asleep ZOL leaves the command unanswered.
void WakeAndClear(int port) {
  WakeZol(port);
  SerialRxClear(port);
}

}  // namespace

int WakeZol(int port) {
  SerialRxClear(port);
  return TryUntilAcknowledged(port, SendWake, "ACK");
}

int WakeZolMode(int port, uint16_t mode) {
  if (mode != 1 && mode != 2) return kReplyRefused;
  SerialRxClear(port);
  SerialBreak(port, 'A');
  PauseMs(kBreakMs);
  SerialBreak(port, 'C');
  if (TryUntilAcknowledged(port, SendWake, "ACK") != kReplyOk) return kNoReply;
  // The ZOL is awake whatever the mode exchange gives.
  SetZolMode(port, mode);
  SerialRxClear(port);
  return kReplyOk;
}

int SetZolMode(int port, uint16_t mode) {
  if (mode != 1 && mode != 2) return kReplyRefused;
  SerialRxClear(port);
  SendString(port, mode == 1 ? "MODE,1" : "MODE,2");
  char reply[kShortReplySize];
  if (ReadLine(port, reply, sizeof reply, kReplySeconds) <= 0) return kNoReply;
  if (!Holds(reply, mode == 1 ? "ACK,MODE,1" : "ACK,MODE,2")) return kReplyRefused;
  SendString(port, "ACK\n");
  return kReplyOk;
}

int GetZolConfig(int port, LineSink* sink) {
  WakeAndClear(port);
  SerialPutc(port, 'C');
  char line[kLongReplySize];
  if (ReadLine(port, line, sizeof line, kReplySeconds) <= 0) return kNoReply;
  if (Holds(line, "NAK")) return kReplyRefused;
  if (sink != nullptr) sink->AppendLine(line);
  int count = 0;
  while (count < kMaxConfigLines && ReadLine(port, line, sizeof line, kReplySeconds) > 0) {
    ++count;
    if (sink != nullptr) sink->AppendLine(line);
  }
  return count;
}

int SendCtdDat(int port, int64_t seconds, float temp, float sal, float pressure) {
  char command[kCtdCommandSize];
  // Values whose text cannot fit are refused before anything goes out.
  if (!FormatCtdCommand(command, sizeof command, seconds, temp, sal, pressure))
    return kReplyRefused;
  WakeAndClear(port);
  SendString(port, command);
  char reply[kLongReplySize];
  if (ReadLine(port, reply, sizeof reply, kReplySeconds) <= 0) return kNoReply;
  const CtdEchoCheck check = CheckCtdEcho(reply, seconds, temp, sal, pressure);
  switch (check.verdict) {
    case CtdEchoVerdict::kNoEcho:
      return kReplyRefused;
    case CtdEchoVerdict::kRefuse:
      if (!check.message.empty()) ConsolePrintf("%s", check.message.c_str());
      SendString(port, "NAK\n");
      return kReplyRefused;
    case CtdEchoVerdict::kAccept:
      break;
  }
  SendString(port, "ACK\n");
  return kReplyOk;
}

int TakeSample(int port) {
  WakeAndClear(port);
  SendString(port, "TS");
  char reply[kShortReplySize];
  if (ReadLine(port, reply, sizeof reply, kReplySeconds) <= 0) return kNoReply;
  if (!Holds(reply, "ACK,TS,CMD")) return kReplyRefused;
  SerialRxClear(port);
  if (ReadLine(port, reply, sizeof reply, kMeasureSeconds) <= 0) return kNoReply;
  return Holds(reply, "ACK,TS,DAT") ? kReplyOk : kReplyRefused;
}

int GetSample(int port, char* buf, uint16_t len) {
  WakeAndClear(port);
  SendString(port, "SL");
  if (ReadLine(port, buf, len, kReplySeconds) <= 0) return kNoReply;
  // A line that starts with NUL has no text to store: not a record.
  if (buf[0] == '\0') return kReplyRefused;
  return Holds(buf, "NAK,SL") ? kReplyRefused : kReplyOk;
}

int ZolSleep(int port) {
  SerialRxClear(port);
  return TryUntilAcknowledged(port, SendSleep, "ACK,SLP");
}

int64_t GetZolTime(int port) {
  WakeAndClear(port);
  SendString(port, "RTC,?");
  char reply[kLongReplySize];
  if (ReadLine(port, reply, sizeof reply, kReplySeconds) <= 0) return kNoReply;
  return ZolTimeFromQueryReply(reply);
}

int SetZolTime(int port) {
  WakeAndClear(port);
  // The time compared with the reply is the one sent, not the reply's arrival.
  const int64_t sentTime = WallNow();
  char buf[kLongReplySize];
  std::snprintf(buf, sizeof buf, "RTC,%lu", WireSeconds(sentTime));
  SendString(port, buf);
  if (ReadLine(port, buf, sizeof buf, kReplySeconds) <= 0) return kNoReply;
  ConsolePrintf("\nSetZolTime() buf %s\n", buf);
  // A reply without its third field carries no time: nothing is answered.
  const char* field = ZolTimeSetField(buf);
  if (field == nullptr) return kReplyRefused;
  ConsolePrintf("SetZolTime() ptr %s\n", field);
  const int64_t zolTime = ZolTimeValue(field);
  if (zolTime == 0) return kReplyRefused;
  if (std::fabs(static_cast<double>(sentTime - zolTime)) <= 1.0) {
    SerialWrite(port, "ACK\n", 4);
    return kReplyOk;
  }
  SerialWrite(port, "NAK\n", 4);
  return kReplyRefused;
}

}  // namespace zol
