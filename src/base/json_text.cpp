#include "base/json_text.h"

#include <time.h>
#include <charconv>
#include <cmath>
#include <ctime>
#include <system_error>

namespace zol {
namespace {

// The escapes JSON names; nullptr for the rest.
const char* NamedEscape(unsigned char byte) {
  switch (byte) {
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      return nullptr;
  }
}

}  // namespace

void AppendJsonString(std::string* out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->push_back('"');
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (const char* named = NamedEscape(byte)) {
      *out += named;
      continue;
    }
    if (byte < 0x20 || byte >= 0x7F) {
      const char escape[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
      out->append(escape, sizeof escape);
    } else {
      out->push_back(c);
    }
  }
  out->push_back('"');
}

std::string JsonString(std::string_view bytes) {
  std::string out;
  AppendJsonString(&out, bytes);
  return out;
}

void AppendJsonNumber(std::string* out, double value) {
  if (!std::isfinite(value)) {
    *out += "null";
    return;
  }
  // Negative zero has no JSON reading of its own.
  if (value == 0.0) value = 0.0;
  char text[32];
  const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
  if (result.ec != std::errc()) {
    *out += "null";
    return;
  }
  std::string_view shortest(text, static_cast<std::size_t>(result.ptr - text));
  // to_chars may write "1e+20"; JSON allows the plus sign but some readers
  // do not, so it goes.
  const std::size_t plus = shortest.find("e+");
  if (plus == std::string_view::npos) {
    out->append(shortest);
    return;
  }
  out->append(shortest.substr(0, plus + 1));
  out->append(shortest.substr(plus + 2));
}

void AppendJsonInteger(std::string* out, int64_t value) {
  char text[24];
  const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
  out->append(text, result.ptr);
}

std::string IsoUtc(int64_t seconds) {
  const time_t time = static_cast<time_t>(seconds);
  std::tm parts{};
  if (gmtime_r(&time, &parts) == nullptr) return "";
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return std::string(text, length);
}

void JsonObject::Name(std::string_view name) {
  if (text_.size() > 1) text_.push_back(',');
  AppendJsonString(&text_, name);
  text_.push_back(':');
}

JsonObject& JsonObject::String(std::string_view name, std::string_view value) {
  Name(name);
  AppendJsonString(&text_, value);
  return *this;
}

JsonObject& JsonObject::Number(std::string_view name, double value) {
  Name(name);
  AppendJsonNumber(&text_, value);
  return *this;
}

JsonObject& JsonObject::Integer(std::string_view name, int64_t value) {
  Name(name);
  AppendJsonInteger(&text_, value);
  return *this;
}

JsonObject& JsonObject::Bool(std::string_view name, bool value) {
  Name(name);
  text_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::Null(std::string_view name) {
  Name(name);
  text_ += "null";
  return *this;
}

JsonObject& JsonObject::Raw(std::string_view name, std::string_view json) {
  Name(name);
  text_.append(json);
  return *this;
}

}  // namespace zol
