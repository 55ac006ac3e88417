// The answers file of an unattended start: one `key = value` line for each
// question of the start-up dialogue, `#` comments and blank lines ignored.
// Reading it is pure: the file's text in, the answers or the first fault
// (with its line) out, so every fault is found before anything is touched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zol {

// What the file says. An absent optional key takes the dialogue's default;
// the texts of the temperature and salinity are typed as written.
struct StartAnswers {
  int32_t serialNumber = 0;
  int32_t sampleRate = 0;
  int32_t sampleMode = 0;
  std::optional<std::string> solutionTemp;
  std::optional<std::string> solutionSal;
  std::optional<bool> pumpSample;
  std::optional<bool> syncZolClock;
  std::optional<int32_t> tzOffsetHours;
  std::optional<int32_t> daylight;
  std::optional<bool> transferPcTime;
  // Previous files are kept unless the file says yes.
  bool removePrevious = false;
  std::optional<int32_t> syncMinute;
};

// The first fault: its line (counted from 1; a fault of the whole file, such
// as a missing key, has the number of the file's last line) and what is
// wrong, with what would be right.
struct AnswersFault {
  int line = 0;
  std::string what;
};

std::variant<StartAnswers, AnswersFault> ParseAnswers(std::string_view text);

}  // namespace zol
