#include "base/json_reader.h"

#include <algorithm>
#include <charconv>
#include <system_error>

namespace zol {

// Recursive descent; the depth limit bounds the recursion.
class JsonParser {
 public:
  JsonParser(std::string_view text, const JsonLimits& limits) : text_(text), limits_(limits) {}

  bool Parse(JsonValue* out, std::string* error) {
    if (text_.size() > limits_.maxBytes) return Fail("the text is longer than the limit", error);
    SkipSpace();
    if (!Value(out, 0)) return Fail(what_, error);
    SkipSpace();
    if (pos_ != text_.size()) return Fail("text after the value", error);
    return true;
  }

 private:
  bool Fail(const char* what, std::string* error) {
    if (error) *error = "at byte " + std::to_string(pos_) + ": " + what;
    return false;
  }
  bool Stop(const char* what) {
    what_ = what;
    return false;
  }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

  void SkipSpace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r'))
      ++pos_;
  }

  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return Stop("not a JSON value");
    pos_ += word.size();
    return true;
  }

  bool Value(JsonValue* out, std::size_t depth) {
    if (++values_ > limits_.maxValues) return Stop("more values than the limit");
    switch (Peek()) {
      case '{':
        return Object(out, depth + 1);
      case '[':
        return Array(out, depth + 1);
      case '"':
        out->kind_ = JsonValue::Kind::kString;
        return String(&out->text_);
      case 't':
        out->kind_ = JsonValue::Kind::kBool;
        out->boolean_ = true;
        return Literal("true");
      case 'f':
        out->kind_ = JsonValue::Kind::kBool;
        return Literal("false");
      case 'n':
        out->kind_ = JsonValue::Kind::kNull;
        return Literal("null");
      default:
        return Number(out);
    }
  }

  bool Digits() {
    const std::size_t start = pos_;
    while (Peek() >= '0' && Peek() <= '9')
      ++pos_;
    return pos_ > start;
  }

  bool Number(JsonValue* out) {
    const std::size_t start = pos_;
    if (Peek() == '-') ++pos_;
    if (Peek() == '0') {
      ++pos_;
    } else if (!Digits()) {
      return Stop(AtEnd() ? "the text ends inside a value" : "not a JSON value");
    }
    if (Peek() == '.') {
      ++pos_;
      if (!Digits()) return Stop("no digit after the decimal point");
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++pos_;
      if (Peek() == '+' || Peek() == '-') ++pos_;
      if (!Digits()) return Stop("no digit in the exponent");
    }
    out->kind_ = JsonValue::Kind::kNumber;
    out->text_.assign(text_.substr(start, pos_ - start));
    const char* first = text_.data() + start;
    const std::from_chars_result result = std::from_chars(first, text_.data() + pos_, out->number_);
    if (result.ec != std::errc()) return Stop("a number out of range");
    return true;
  }

  bool Hex4(uint32_t* unit) {
    if (text_.size() - pos_ < 4) return Stop("a short \\u escape");
    *unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      uint32_t digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return Stop("a bad hex digit in a \\u escape");
      }
      *unit = *unit << 4 | digit;
    }
    return true;
  }

  static void AppendUtf8(std::string* out, uint32_t code) {
    if (code < 0x80) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | code >> 6));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | code >> 12));
      out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | code >> 18));
      out->push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  // After the backslash and 'u': one code point, a surrogate pair joined.
  bool UnicodeEscape(std::string* out) {
    uint32_t unit;
    if (!Hex4(&unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return Stop("a lone low surrogate");
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (text_.substr(pos_, 2) != "\\u") return Stop("a high surrogate without its pair");
      pos_ += 2;
      uint32_t low;
      if (!Hex4(&low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return Stop("a high surrogate without its pair");
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(out, unit);
    return true;
  }

  bool Escape(std::string* out) {
    static constexpr std::string_view kNamed = "\"\\/bfnrt";
    static constexpr std::string_view kMeaning = "\"\\/\b\f\n\r\t";
    if (AtEnd()) return Stop("the text ends inside a string");
    const char c = text_[pos_++];
    if (c == 'u') return UnicodeEscape(out);
    const std::size_t named = kNamed.find(c);
    if (named == std::string_view::npos) return Stop("an unknown escape");
    out->push_back(kMeaning[named]);
    return true;
  }

  // One raw UTF-8 sequence of two to four bytes, checked as RFC 3629 has it.
  bool Utf8Sequence(std::string* out) {
    const auto lead = static_cast<unsigned char>(text_[pos_]);
    std::size_t length;
    uint32_t code;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      code = lead & 0x07u;
    } else {
      return Stop("a byte that is not UTF-8");
    }
    if (text_.size() - pos_ < length) return Stop("a cut UTF-8 sequence");
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text_[pos_ + i]);
      if ((next & 0xC0) != 0x80) return Stop("a cut UTF-8 sequence");
      code = code << 6 | (next & 0x3Fu);
    }
    static constexpr uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return Stop("a byte that is not UTF-8");
    out->append(text_.substr(pos_, length));
    pos_ += length;
    return true;
  }

  bool String(std::string* out) {
    ++pos_;  // the opening quote
    while (true) {
      if (AtEnd()) return Stop("the text ends inside a string");
      const auto byte = static_cast<unsigned char>(text_[pos_]);
      if (byte == '"') {
        ++pos_;
        return true;
      }
      if (byte < 0x20) return Stop("a control byte inside a string");
      if (byte == '\\') {
        ++pos_;
        if (!Escape(out)) return false;
      } else if (byte >= 0x80) {
        if (!Utf8Sequence(out)) return false;
      } else {
        out->push_back(static_cast<char>(byte));
        ++pos_;
      }
    }
  }

  // An array's items or an object's members, each read by `item`, up to `close`.
  template <typename Item>
  bool Sequence(std::size_t depth, char close, const char* missing, Item item) {
    if (depth > limits_.maxDepth) return Stop("nested deeper than the limit");
    ++pos_;
    SkipSpace();
    if (Peek() == close) {
      ++pos_;
      return true;
    }
    while (true) {
      SkipSpace();
      if (!item()) return false;
      SkipSpace();
      if (Peek() == close) {
        ++pos_;
        return true;
      }
      if (Peek() != ',') return Stop(missing);
      ++pos_;
    }
  }

  bool Array(JsonValue* out, std::size_t depth) {
    out->kind_ = JsonValue::Kind::kArray;
    return Sequence(depth, ']', "no comma or ']' after an array item", [&] {
      out->items_.emplace_back();
      return Value(&out->items_.back(), depth);
    });
  }

  bool Object(JsonValue* out, std::size_t depth) {
    out->kind_ = JsonValue::Kind::kObject;
    const bool read = Sequence(depth, '}', "no comma or '}' after an object member", [&] {
      if (Peek() != '"') return Stop("no member name in an object");
      out->members_.emplace_back();
      JsonValue::Member& member = out->members_.back();
      if (!String(&member.first)) return false;
      SkipSpace();
      if (Peek() != ':') return Stop("no ':' after a member name");
      ++pos_;
      SkipSpace();
      return Value(&member.second, depth);
    });
    return read && UniqueNames(out->members_);
  }

  bool UniqueNames(const std::vector<JsonValue::Member>& members) {
    std::vector<std::string_view> names;
    names.reserve(members.size());
    for (const JsonValue::Member& member : members)
      names.push_back(member.first);
    std::sort(names.begin(), names.end());
    if (std::adjacent_find(names.begin(), names.end()) != names.end())
      return Stop("a member name twice in one object");
    return true;
  }

  std::string_view text_;
  const JsonLimits& limits_;
  std::size_t pos_ = 0;
  std::size_t values_ = 0;
  const char* what_ = "";
};

std::optional<int64_t> JsonValue::Integer() const {
  if (kind_ != Kind::kNumber || text_.find_first_of(".eE") != std::string::npos)
    return std::nullopt;
  int64_t value = 0;
  const char* end = text_.data() + text_.size();
  const std::from_chars_result result = std::from_chars(text_.data(), end, value);
  if (result.ec != std::errc() || result.ptr != end) return std::nullopt;
  return value;
}

const JsonValue* JsonValue::Find(std::string_view name) const {
  for (const Member& member : members_)
    if (member.first == name) return &member.second;
  return nullptr;
}

bool ParseJson(std::string_view text, JsonValue* out, std::string* error,
               const JsonLimits& limits) {
  *out = JsonValue();
  return JsonParser(text, limits).Parse(out, error);
}

std::optional<std::string> Latin1Bytes(std::string_view utf8) {
  std::string bytes;
  bytes.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x80) {
      bytes.push_back(static_cast<char>(byte));
      continue;
    }
    // Only the two-byte forms of U+0080..U+00FF: C2 or C3, then one more.
    if ((byte != 0xC2 && byte != 0xC3) || i + 1 >= utf8.size()) return std::nullopt;
    const auto next = static_cast<unsigned char>(utf8[++i]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    bytes.push_back(static_cast<char>((byte & 0x03) << 6 | (next & 0x3F)));
  }
  return bytes;
}

}  // namespace zol
