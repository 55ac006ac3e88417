// The JSON reader: any bytes must parse or be refused within the limits, and
// what is accepted must read back the same when written again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/json_reader.h"

namespace {

// Raw UTF-8 (as the reader keeps it), only what JSON requires escaped.
void WriteString(std::string_view text, std::string* out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out->push_back('"');
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(c);
    } else if (byte < 0x20) {
      *out += "\\u00";
      out->push_back(kHex[byte >> 4]);
      out->push_back(kHex[byte & 0xF]);
    } else {
      out->push_back(c);
    }
  }
  out->push_back('"');
  // Any string may be asked for its bytes.
  (void)zol::Latin1Bytes(text);
}

void Write(const zol::JsonValue& value, std::string* out) {
  switch (value.kind()) {
    case zol::JsonValue::Kind::kNull:
      *out += "null";
      return;
    case zol::JsonValue::Kind::kBool:
      *out += value.Bool() ? "true" : "false";
      return;
    case zol::JsonValue::Kind::kNumber:
      (void)value.Integer();
      *out += value.Text();
      return;
    case zol::JsonValue::Kind::kString:
      WriteString(value.Text(), out);
      return;
    case zol::JsonValue::Kind::kArray:
      out->push_back('[');
      for (const zol::JsonValue& item : value.Items()) {
        if (out->back() != '[') out->push_back(',');
        Write(item, out);
      }
      out->push_back(']');
      return;
    case zol::JsonValue::Kind::kObject:
      out->push_back('{');
      for (const zol::JsonValue::Member& member : value.Members()) {
        if (out->back() != '{') out->push_back(',');
        WriteString(member.first, out);
        out->push_back(':');
        Write(member.second, out);
      }
      out->push_back('}');
      return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const zol::JsonLimits limits{.maxBytes = 4096, .maxDepth = 16, .maxValues = 512};
  zol::JsonValue value;
  std::string error;
  if (!zol::ParseJson(input, &value, &error, limits)) {
    if (error.rfind("at byte ", 0) != 0) std::abort();
    return 0;
  }
  // Escapes written again may take more room than the input did.
  const zol::JsonLimits roomy{.maxBytes = 1 << 20, .maxDepth = 16, .maxValues = 512};
  std::string once;
  Write(value, &once);
  zol::JsonValue again;
  if (!zol::ParseJson(once, &again, &error, roomy)) std::abort();
  std::string twice;
  Write(again, &twice);
  if (once != twice) std::abort();
  return 0;
}
