#include "shore/shore_message.h"

#include <optional>

#include "base/json_reader.h"

namespace zol::shore {
namespace {

// A message is one line of a data file: far below this.
constexpr JsonLimits kMessageLimits{
    .maxBytes = std::size_t{1} << 20, .maxDepth = 4, .maxValues = 4096};

// The member `name` as bytes (its code points U+0000..U+00FF), or nullopt
// with `error` set.
std::optional<std::string> Bytes(const JsonValue& message, const char* name, std::string* error) {
  const JsonValue* value = message.Find(name);
  if (value == nullptr || !value->IsString()) {
    *error = std::string("no string \"") + name + "\"";
    return std::nullopt;
  }
  std::optional<std::string> bytes = Latin1Bytes(value->Text());
  if (!bytes) *error = std::string("\"") + name + "\" holds a character above U+00FF";
  return bytes;
}

std::optional<int64_t> Integer(const JsonValue& message, const char* name, std::string* error) {
  const JsonValue* value = message.Find(name);
  std::optional<int64_t> integer = value ? value->Integer() : std::nullopt;
  if (!integer) *error = std::string("no integer \"") + name + "\"";
  return integer;
}

bool Name(const JsonValue& message, const char* name, std::string* out, std::string* error) {
  std::optional<std::string> bytes = Bytes(message, name, error);
  if (!bytes) return false;
  if (!IsPlainName(*bytes) || bytes->size() > kMaxNameBytes) {
    *error = std::string("\"") + name + "\" is not a plain name";
    return false;
  }
  *out = std::move(*bytes);
  return true;
}

}  // namespace

bool IsPlainName(std::string_view name) {
  if (name.empty() || name.front() == '.' || name.find("..") != std::string_view::npos)
    return false;
  for (const char c : name)
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
  return true;
}

bool ParseLineMessage(std::string_view json, LineMessage* out, std::string* error) {
  JsonValue message;
  if (!ParseJson(json, &message, error, kMessageLimits)) {
    *error = "not JSON (" + *error + ")";
    return false;
  }
  if (!message.IsObject()) {
    *error = "not a JSON object";
    return false;
  }
  if (!Name(message, "station", &out->station, error) || !Name(message, "file", &out->file, error))
    return false;
  const std::optional<int64_t> generation = Integer(message, "generation", error);
  const std::optional<int64_t> offset = Integer(message, "offset", error);
  if (!generation || !offset) return false;
  if (*offset < 0) {
    *error = "a negative \"offset\"";
    return false;
  }
  std::optional<std::string> line = Bytes(message, "line", error);
  const std::optional<std::string> eol = Bytes(message, "eol", error);
  if (!line || !eol) return false;
  if (*eol != "\n" && *eol != "\r\n") {
    *error = "\"eol\" is neither \"\\n\" nor \"\\r\\n\"";
    return false;
  }
  if (line->find('\n') != std::string::npos) {
    *error = "a line end inside \"line\"";
    return false;
  }
  out->generation = *generation;
  out->offset = static_cast<uint64_t>(*offset);
  out->bytes = std::move(*line) + *eol;
  return true;
}

}  // namespace zol::shore
