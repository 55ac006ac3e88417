// Any answers file through the parse: ends, and either gives answers or a
// fault that names a line of the file and says what is wrong.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

#include "app/answers_file.h"
#include "fuzz_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parsed = zol::ParseAnswers(text);
  if (const auto* fault = std::get_if<zol::AnswersFault>(&parsed)) {
    const auto lines = std::count(text.begin(), text.end(), '\n') + 1;
    zol::fuzz::Require(fault->line >= 0 && fault->line <= lines);
    zol::fuzz::Require(!fault->what.empty());
    return 0;
  }
  const zol::StartAnswers& answers = std::get<zol::StartAnswers>(parsed);
  // The required keys were given and in range.
  zol::fuzz::Require(answers.serialNumber >= 1 && answers.serialNumber <= 9999);
  zol::fuzz::Require(answers.sampleRate >= 1 && answers.sampleRate <= 1440);
  zol::fuzz::Require(answers.sampleMode == 1 || answers.sampleMode == 2);
  return 0;
}
