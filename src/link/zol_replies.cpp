// The parsing of the ZOL's replies. Everything here reads untrusted text:
// no conversion may overflow, and a missing separator is a missing value.
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "link/zol_protocol.h"

namespace zol {
namespace {

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (needed > 0) {
    text.resize(static_cast<std::size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<std::size_t>(needed));
  }
  va_end(again);
  return text;
}

// Fields split as strtok does at ',': a run of commas is one separator and
// empty fields do not exist.
std::vector<std::string> SplitAtCommas(std::string_view text) {
  std::vector<std::string> tokens;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = text.find_first_not_of(',', pos);
    if (start == std::string_view::npos) break;
    std::size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    tokens.emplace_back(text.substr(start, end - start));
    pos = end;
  }
  return tokens;
}

enum class Conversion { kOk, kOverflow, kNoNumber };

// The time field: an unsigned 32-bit decimal as strtoul converts it where
// unsigned long is 32 bits wide.
Conversion ConvertSeconds(const std::string& token, uint32_t* value) {
  errno = 0;
  const unsigned long long wide = std::strtoull(token.c_str(), nullptr, 10);
  if (errno == ERANGE || wide > UINT32_MAX) return Conversion::kOverflow;
  *value = static_cast<uint32_t>(wide);
  return wide == 0 ? Conversion::kNoNumber : Conversion::kOk;
}

// A value field: strtod narrowed to single precision. A number beyond the
// float range is an overflow (narrowing it would be undefined).
Conversion ConvertFloat(const std::string& token, float* value) {
  errno = 0;
  char* end = nullptr;
  const double wide = std::strtod(token.c_str(), &end);
  if (errno == ERANGE || (std::isfinite(wide) && std::fabs(wide) > FLT_MAX)) {
    return Conversion::kOverflow;
  }
  *value = static_cast<float>(wide);
  return (wide == 0.0 && end == token.c_str()) ? Conversion::kNoNumber : Conversion::kOk;
}

// Checks one float field, named by its letter (T, S or P); an empty result
// means it passed. `matches` decides whether the value is the one sent.
template <typename Matches>
std::string CheckFloatField(const std::string& token, char letter, float sent, Matches matches) {
  float value = 0.0f;
  switch (ConvertFloat(token, &value)) {
    case Conversion::kOverflow:
      return FormatText("NAK,CTD,%cOverflowErr: %s\n", letter, token.c_str());
    case Conversion::kNoNumber:
      return FormatText("NAK,CTD,%cConvertErr: %s\n", letter, token.c_str());
    case Conversion::kOk:
      break;
  }
  if (!matches(value)) {
    return FormatText("NAK,CTD,%cMatchErr %f, %s\n", letter, static_cast<double>(sent),
                      token.c_str());
  }
  return {};
}

std::string CheckTimeField(const std::string& token, int64_t seconds) {
  if (token.find('-') != std::string::npos) {
    return FormatText("NAK,CTD,ESignErr: %s\n", token.c_str());
  }
  uint32_t value = 0;
  switch (ConvertSeconds(token, &value)) {
    case Conversion::kOverflow:
      return FormatText("NAK,CTD,EOverflowErr: %s\n", token.c_str());
    case Conversion::kNoNumber:
      return FormatText("NAK,CTD,EConvertErr: %s\n", token.c_str());
    case Conversion::kOk:
      break;
  }
  if (value != WireSeconds(seconds)) {
    return FormatText("NAK,CTD,EMatchErr %lu, %s\n", WireSeconds(seconds), token.c_str());
  }
  return {};
}

struct SentValues {
  int64_t seconds;
  float temp;
  float sal;
  float pressure;
};

constexpr std::size_t kEchoFields = 4;

// The message for echo field `index` (0 time, 1 T, 2 S, 3 P), or empty when
// it passes.
std::string CheckField(std::size_t index, const std::string& token, const SentValues& sent) {
  switch (index) {
    case 0:
      return CheckTimeField(token, sent.seconds);
    case 1:
      return CheckFloatField(token, 'T', sent.temp,
                             [&sent](float value) { return value == sent.temp; });
    case 2:
      return CheckFloatField(token, 'S', sent.sal,
                             [&sent](float value) { return value == sent.sal; });
    default:
      // Written so that a difference that is not a number (an echo of "nan")
      // is a mismatch rather than a pass.
      return CheckFloatField(token, 'P', sent.pressure, [&sent](float value) {
        return std::fabs(value - sent.pressure) <= 0.5f;
      });
  }
}

// A signed 32-bit decimal as strtol converts it where long is 32 bits wide;
// false on overflow.
bool ConvertLong32(const char* text, int64_t* value) {
  errno = 0;
  const long long wide = std::strtoll(text, nullptr, 10);
  if (errno == ERANGE || wide > INT32_MAX || wide < INT32_MIN) return false;
  *value = wide;
  return true;
}

}  // namespace

bool FormatCtdCommand(char* buf, std::size_t size, int64_t seconds, float temp, float sal,
                      float pressure) {
  if (buf == nullptr || size == 0) return false;
  const int needed = std::snprintf(buf, size, "CTD,%lu,%.4f,%.4f,%.2f", WireSeconds(seconds),
                                   static_cast<double>(temp), static_cast<double>(sal),
                                   static_cast<double>(pressure));
  if (needed < 0 || static_cast<std::size_t>(needed) >= size) {
    buf[0] = '\0';
    return false;
  }
  return true;
}

CtdEchoCheck CheckCtdEcho(const char* reply, int64_t seconds, float temp, float sal,
                          float pressure) {
  CtdEchoCheck check;
  const char* echo = reply != nullptr ? std::strstr(reply, "CTD,") : nullptr;
  if (echo == nullptr) return check;

  std::vector<std::string> tokens = SplitAtCommas(echo);
  tokens.erase(tokens.begin());  // the word CTD
  check.verdict = CtdEchoVerdict::kRefuse;
  const SentValues sent{seconds, temp, sal, pressure};
  for (std::size_t index = 0; index < kEchoFields; ++index) {
    // An echo that ends early is refused without a message.
    if (index >= tokens.size()) return check;
    check.message = CheckField(index, tokens[index], sent);
    if (!check.message.empty()) return check;
  }
  // A fifth field, if any, is not looked at.
  check.verdict = CtdEchoVerdict::kAccept;
  return check;
}

int64_t ZolTimeValue(const char* text) {
  if (text == nullptr) return 0;
  int64_t value = 0;
  if (!ConvertLong32(text, &value) || value <= 0) return 0;
  return value;
}

int64_t ZolTimeFromQueryReply(const char* reply) {
  if (reply == nullptr) return 0;
  const char* question = std::strchr(reply, '?');
  if (question == nullptr) return 0;
  const char* comma = std::strchr(question, ',');
  if (comma == nullptr) return 0;
  return ZolTimeValue(comma + 1);
}

const char* ZolTimeSetField(const char* reply) {
  if (reply == nullptr) return nullptr;
  const char* p = reply;
  for (int commas = 0; commas < 3; ++commas) {
    p = std::strchr(p, ',');
    if (p == nullptr) return nullptr;
    ++p;
  }
  return p;
}

}  // namespace zol
