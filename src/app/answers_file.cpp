#include "app/answers_file.h"

#include <array>
#include <charconv>
#include <cstdlib>
#include <map>

#include "base/text_trim.h"

namespace zol {
namespace {

// The line editor keeps this many characters of a number.
constexpr size_t kMaxNumberText = 19;

using Parse = bool (*)(std::string_view value, StartAnswers& answers);

struct KeyRule {
  std::string_view name;
  std::string_view expected;  // for the fault's text
  bool required;
  Parse parse;
};

bool ParseInt(std::string_view text, int32_t low, int32_t high, int32_t& out) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return false;
  if (value < low || value > high) return false;
  out = value;
  return true;
}

bool ParseInt(std::string_view text, int32_t low, int32_t high, std::optional<int32_t>& out) {
  int32_t value = 0;
  if (!ParseInt(text, low, high, value)) return false;
  out = value;
  return true;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Digits with at most one point, as the dialogue scans them; 0.0..40.0.
bool ParseSolutionValue(std::string_view text, std::optional<std::string>& out) {
  if (text.size() > kMaxNumberText) return false;
  std::string_view body = text;
  if (!body.empty() && (body.front() == '+' || body.front() == '-')) body.remove_prefix(1);
  int digits = 0;
  int points = 0;
  for (char c : body) {
    if (IsDigit(c)) {
      ++digits;
    } else if (c == '.') {
      ++points;
    } else {
      return false;
    }
  }
  if (digits == 0 || points > 1) return false;
  const std::string written(text);
  const float value = std::strtof(written.c_str(), nullptr);
  if (!(value >= 0.0f && value <= 40.0f)) return false;
  out = written;
  return true;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool ParseYesNo(std::string_view text, bool& out) {
  if (SameWord(text, "yes")) {
    out = true;
  } else if (SameWord(text, "no")) {
    out = false;
  } else {
    return false;
  }
  return true;
}

bool ParseYesNo(std::string_view text, std::optional<bool>& out) {
  bool value = false;
  if (!ParseYesNo(text, value)) return false;
  out = value;
  return true;
}

bool ParseMode(std::string_view text, int32_t& out) {
  if (SameWord(text, "KIRN")) text = "1";
  if (SameWord(text, "PADO")) text = "2";
  return ParseInt(text, 1, 2, out);
}

constexpr std::array<KeyRule, 12> kRules = {{
    {"serial_number", "1..9999", true,
     [](std::string_view v, StartAnswers& a) { return ParseInt(v, 1, 9999, a.serialNumber); }},
    {"sample_rate", "1..1440", true,
     [](std::string_view v, StartAnswers& a) { return ParseInt(v, 1, 1440, a.sampleRate); }},
    {"sample_mode", "1, 2, KIRN or PADO", true,
     [](std::string_view v, StartAnswers& a) { return ParseMode(v, a.sampleMode); }},
    {"solution_temp", "0.0..40.0", false,
     [](std::string_view v, StartAnswers& a) { return ParseSolutionValue(v, a.solutionTemp); }},
    {"solution_sal", "0.0..40.0", false,
     [](std::string_view v, StartAnswers& a) { return ParseSolutionValue(v, a.solutionSal); }},
    {"pump_sample", "yes or no", false,
     [](std::string_view v, StartAnswers& a) { return ParseYesNo(v, a.pumpSample); }},
    {"sync_zol_clock", "yes or no", false,
     [](std::string_view v, StartAnswers& a) { return ParseYesNo(v, a.syncZolClock); }},
    {"tz_offset_hours", "-12..12", false,
     [](std::string_view v, StartAnswers& a) { return ParseInt(v, -12, 12, a.tzOffsetHours); }},
    {"daylight", "0 or 1", false,
     [](std::string_view v, StartAnswers& a) { return ParseInt(v, 0, 1, a.daylight); }},
    {"transfer_pc_time", "yes or no", false,
     [](std::string_view v, StartAnswers& a) { return ParseYesNo(v, a.transferPcTime); }},
    {"remove_previous", "yes or no", false,
     [](std::string_view v, StartAnswers& a) { return ParseYesNo(v, a.removePrevious); }},
    {"sync_minute", "0..59", false,
     [](std::string_view v, StartAnswers& a) { return ParseInt(v, 0, 59, a.syncMinute); }},
}};

const KeyRule* FindRule(std::string_view name) {
  for (const KeyRule& rule : kRules) {
    if (rule.name == name) return &rule;
  }
  return nullptr;
}

std::string_view Trim(std::string_view text) {
  return Trimmed(text, " \t\r\f\v");
}

std::string Text(std::string_view a, std::string_view b = {}, std::string_view c = {},
                 std::string_view d = {}) {
  std::string out(a);
  out.append(b).append(c).append(d);
  return out;
}

// Reads the lines one by one and remembers where each key was given.
class AnswersReader {
 public:
  // The fault of one line, if any.
  std::optional<std::string> TakeLine(std::string_view line, int number) {
    line = Trim(line.substr(0, line.find('#')));
    if (line.empty()) return std::nullopt;
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      return Text("expected 'key = value', not '", line, "'");
    }
    const std::string_view key = Trim(line.substr(0, equals));
    const std::string_view value = Trim(line.substr(equals + 1));
    const KeyRule* rule = FindRule(key);
    if (rule == nullptr) return Text("unknown key '", key, "'");
    if (const auto seen = seenOn_.find(rule->name); seen != seenOn_.end()) {
      return Text(key, " is given twice (first on line ", std::to_string(seen->second), ")");
    }
    if (value.empty()) return Text(key, " has no value; it must be ", rule->expected);
    if (!rule->parse(value, answers_)) {
      return Text(key, " must be ", rule->expected, Text(", not ", value));
    }
    seenOn_.emplace(rule->name, number);
    return std::nullopt;
  }

  // The fault of a required key that was not given, if any.
  std::optional<std::string> MissingKey() const {
    for (const KeyRule& rule : kRules) {
      if (rule.required && seenOn_.count(rule.name) == 0) {
        return Text(rule.name, " is missing; it must be given, ", rule.expected);
      }
    }
    return std::nullopt;
  }

  const StartAnswers& Answers() const { return answers_; }

 private:
  StartAnswers answers_;
  std::map<std::string_view, int> seenOn_;
};

}  // namespace

std::variant<StartAnswers, AnswersFault> ParseAnswers(std::string_view text) {
  AnswersReader reader;
  int number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++number;
    if (auto fault = reader.TakeLine(line, number)) return AnswersFault{number, *fault};
  }
  if (auto fault = reader.MissingKey()) return AnswersFault{number, *fault};
  return reader.Answers();
}

}  // namespace zol
