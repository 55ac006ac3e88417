#include "link/ctd_link.h"

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/clock.h"
#include "link/line_primitives.h"
#include "link/serial_service.h"

namespace zol {
namespace {

constexpr int kWakeSettleMs = 1000;
constexpr int kWakeAttempts = 10;
constexpr int kPokeSettleMs = 250;
constexpr int kCharsPerAttempt = 30;
constexpr uint16_t kPromptSeconds = 2;
constexpr uint16_t kReplySeconds = 45;
constexpr int kReleasePauseMs = 50;

// The wake-up line: cleared wakes the CTD, asserted lets it idle.
void ClearWakeLine(int port) {
  SerialLine(port, 'C');
}
void AssertWakeLine(int port) {
  SerialLine(port, 'S');
}

// Lets the CTD go at the end of an exchange.
void ReleaseCtd(int port) {
  PauseMs(kReleasePauseMs);
  SendString(port, "QS\r");
  PauseMs(kReleasePauseMs);
  AssertWakeLine(port);
}

// One poke: a CR, then up to 30 characters looking for the prompt. A timeout
// or a NUL ends the attempt.
bool PokeFindsPrompt(int port) {
  SerialPutc(port, '\r');
  PauseMs(kPokeSettleMs);
  for (int taken = 0; taken < kCharsPerAttempt; ++taken) {
    const int c = GetcTimed(port, kPromptSeconds) & 0xFF;
    if (c == '>') return true;
    if (c == 0) return false;
  }
  return false;
}

// One number as "%f" reads it; false when there is none or it lies beyond
// the single-precision range (narrowing it would be undefined).
bool ScanFloat(const char* text, float* value, const char** end) {
  errno = 0;
  char* stop = nullptr;
  const double wide = std::strtod(text, &stop);
  if (stop == text) return false;
  // An overflowing text gives infinity with ERANGE; the text "inf" is read
  // as the format reads it.
  const bool overflow =
      (errno == ERANGE && std::isinf(wide)) || (std::isfinite(wide) && std::fabs(wide) > FLT_MAX);
  if (overflow) return false;
  *value = static_cast<float>(wide);
  *end = stop;
  return true;
}

}  // namespace

int WakeCtd(int port) {
  ClearWakeLine(port);
  PauseMs(kWakeSettleMs);
  SerialRxClear(port);
  for (int attempt = 0; attempt < kWakeAttempts; ++attempt) {
    if (PokeFindsPrompt(port)) {
      SerialRxClear(port);
      return kReplyOk;
    }
  }
  AssertWakeLine(port);
  return kNoReply;
}

int GetCtdDat(int port, char* buf, uint16_t len) {
  if (WakeCtd(port) != kReplyOk) return kReplyRefused;
  SendString(port, "pts\r");
  if (ReadLine(port, buf, len, kReplySeconds) <= 0) return kNoReply;
  // The CTD may echo the command on a line of its own first.
  if (std::strstr(buf, "pts") != nullptr) ReadLine(port, buf, len, kReplySeconds);
  ReleaseCtd(port);
  return kReplyOk;
}

int CtdPump(int port, uint16_t sw) {
  // Checked first, so that a bad switch does not leave the CTD awake.
  if (sw != 0 && sw != 1) return kReplyRefused;
  if (WakeCtd(port) != kReplyOk) return kReplyRefused;
  if (sw == 1) {
    // The CTD stays awake with the pump running until it is switched off.
    SendString(port, "pumpon\r");
    return kReplyOk;
  }
  SendString(port, "pumpoff\r");
  ReleaseCtd(port);
  return kReplyOk;
}

int ScanCtdValues(const char* reply, float* pressure, float* temp, float* sal) {
  if (reply == nullptr) return 0;
  float* const values[] = {pressure, temp, sal};
  const char* p = reply;
  int read = 0;
  for (float* value : values) {
    if (read > 0) {
      if (*p != ',') return read;
      ++p;  // strtod skips the white space after the comma
    }
    float number = 0.0f;
    if (!ScanFloat(p, &number, &p)) return read;
    if (value != nullptr) *value = number;
    ++read;
  }
  return read;
}

int ParseCtdDat(const char* reply, int64_t* time, float* temp, float* sal, float* pressure,
                int32_t result) {
  if (result != kReplyOk) return kReplyRefused;
  if (ScanCtdValues(reply, pressure, temp, sal) < 3) return kReplyRefused;
  if (time != nullptr) *time = WallNow();
  return kReplyOk;
}

}  // namespace zol
