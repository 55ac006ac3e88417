// JSON text for the programs' wire formats (the control socket, the shore
// link). Every byte a record may hold is written so that the text is ASCII
// and parses: the control bytes and every byte at or above 0x80 become
// \u00XX (the byte's Latin-1 reading), so a reader that writes U+0000 to
// U+00FF back as one byte each gets the bytes exactly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zol {

// Appends `bytes` as a JSON string, quotes included.
void AppendJsonString(std::string* out, std::string_view bytes);
std::string JsonString(std::string_view bytes);

// Appends a finite number in the shortest form that reads back as the same
// double (no plus sign, no leading zeros); NaN and the infinities as null.
void AppendJsonNumber(std::string* out, double value);
void AppendJsonInteger(std::string* out, int64_t value);

// Seconds since 1970 as "2026-12-11T12:00:00Z".
std::string IsoUtc(int64_t seconds);

// Builds one object member by member: {"a":1,"b":"x"}.
class JsonObject {
 public:
  JsonObject& String(std::string_view name, std::string_view value);
  JsonObject& Number(std::string_view name, double value);
  JsonObject& Integer(std::string_view name, int64_t value);
  JsonObject& Bool(std::string_view name, bool value);
  JsonObject& Null(std::string_view name);
  // `json` is already JSON text (an object, an array, a literal).
  JsonObject& Raw(std::string_view name, std::string_view json);
  // The object so far, closed.
  std::string Text() const { return text_ + "}"; }

 private:
  void Name(std::string_view name);
  std::string text_ = "{";
};

}  // namespace zol
