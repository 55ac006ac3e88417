// The system's side of the ZOL command protocol. Results as in
// protocol_result.h: kReplyOk, kReplyRefused, kNoReply (exceptions noted
// below).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/line_sink.h"
#include "link/protocol_result.h"

namespace zol {

// 1 on "ACK"; -2 after ten tries without one.
int WakeZol(int port);
// Break, wake, then select the sample mode (1 KIRN, 2 PADO). 1 after "ACK"
// whatever the mode exchange gave; -2 no "ACK"; 0 at once for another mode.
int WakeZolMode(int port, uint16_t mode);
int SetZolMode(int port, uint16_t mode);
// Stores the configuration dump in `sink` (nowhere when it is null); the
// number of lines after the first, 0 on "NAK", -2 when no first line came.
int GetZolConfig(int port, LineSink* sink);
// Hands time, temperature, salinity and pressure to the ZOL and checks its echo.
int SendCtdDat(int port, int64_t seconds, float temp, float sal, float pressure);
int TakeSample(int port);
// The reply line stays in buf in every case.
int GetSample(int port, char* buf, uint16_t len);
int ZolSleep(int port);
// The ZOL's clock (> 0), 0 for no valid value, -2 for no reply.
int64_t GetZolTime(int port);
int SetZolTime(int port);

// --- The parsing of the ZOL's replies (pure; the replies are untrusted) ---

// Times go to the ZOL as their low 32 bits, written as an unsigned decimal.
inline unsigned long WireSeconds(int64_t seconds) {
  return static_cast<uint32_t>(static_cast<uint64_t>(seconds));
}

// The size of the buffer the CTD command is built in; commands that would not
// fit (values far outside any CTD's range) are refused.
inline constexpr std::size_t kCtdCommandSize = 128;
// Builds "CTD,<secs>,<T>,<S>,<P>" (seconds as their low 32 bits). False, with
// buf holding an empty text, when the command would not fit in `size` bytes.
bool FormatCtdCommand(char* buf, std::size_t size, int64_t seconds, float temp, float sal,
                      float pressure);

enum class CtdEchoVerdict {
  kAccept,  // answer "ACK"
  kRefuse,  // answer "NAK" (after the message, when there is one)
  kNoEcho,  // no "CTD," in the reply: answer nothing
};
struct CtdEchoCheck {
  CtdEchoVerdict verdict = CtdEchoVerdict::kNoEcho;
  // The console message of a refused field, with its line end; empty when
  // the echo ran out of fields or was accepted.
  std::string message;
};
// Checks the ZOL's echo of a CTD command field by field against the values sent.
CtdEchoCheck CheckCtdEcho(const char* reply, int64_t seconds, float temp, float sal,
                          float pressure);

// The clock in a reply to "RTC,?": the number after the first ',' that follows
// the first '?'; 0 when there is no such number or it is not a valid clock.
int64_t ZolTimeFromQueryReply(const char* reply);
// The text after the third ',' of a reply to "RTC,<secs>", or nullptr.
const char* ZolTimeSetField(const char* reply);
// A clock value as the ZOL reports it: a decimal number 1..2147483647 (a
// signed 32-bit value), else 0.
int64_t ZolTimeValue(const char* text);

}  // namespace zol
