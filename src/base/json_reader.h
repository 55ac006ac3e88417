// A bounded JSON reader for what arrives from outside (broker messages, the
// control socket's answers). The input's size, its nesting depth and its
// count of values are limited, so hostile text costs bounded time and memory;
// the text must be strict JSON (RFC 8259) in UTF-8. Strings are kept as
// UTF-8 with every escape resolved; Latin1Bytes() turns the wire formats'
// \u0000..\u00FF strings back into the bytes they stand for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zol {

struct JsonLimits {
  std::size_t maxBytes = 1 << 20;
  std::size_t maxDepth = 32;  // nested arrays and objects
  std::size_t maxValues = 1 << 16;
};

class JsonValue {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  using Member = std::pair<std::string, JsonValue>;

  Kind kind() const { return kind_; }
  bool IsNull() const { return kind_ == Kind::kNull; }
  bool IsBool() const { return kind_ == Kind::kBool; }
  bool IsNumber() const { return kind_ == Kind::kNumber; }
  bool IsString() const { return kind_ == Kind::kString; }
  bool IsArray() const { return kind_ == Kind::kArray; }
  bool IsObject() const { return kind_ == Kind::kObject; }

  // Each gives its kind's content, or an empty one for another kind.
  bool Bool() const { return kind_ == Kind::kBool && boolean_; }
  double Number() const { return kind_ == Kind::kNumber ? number_ : 0.0; }
  // A number written as an integer (no fraction, no exponent) that fits.
  std::optional<int64_t> Integer() const;
  // The string's UTF-8 text; a number's text as written.
  const std::string& Text() const { return text_; }
  const std::vector<JsonValue>& Items() const { return items_; }
  const std::vector<Member>& Members() const { return members_; }
  // An object's member by name (names are unique), or nullptr.
  const JsonValue* Find(std::string_view name) const;

 private:
  friend class JsonParser;
  Kind kind_ = Kind::kNull;
  bool boolean_ = false;
  double number_ = 0.0;
  std::string text_;
  std::vector<JsonValue> items_;
  std::vector<Member> members_;
};

// Parses one JSON text (whitespace around it allowed). On failure `error`
// says what and where ("at byte 12: ..."), and `out` is left unspecified.
// Duplicate member names in one object are refused.
bool ParseJson(std::string_view text, JsonValue* out, std::string* error,
               const JsonLimits& limits = {});

// UTF-8 text whose code points are all U+0000..U+00FF, one byte each;
// nullopt if one is above.
std::optional<std::string> Latin1Bytes(std::string_view utf8);

}  // namespace zol
