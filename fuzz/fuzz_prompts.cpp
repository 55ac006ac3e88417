// Operator keys of any kind through the line editor and the prompts: every
// prompt ends when the keys run out, and results stay in their documented sets.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "console/prompts.h"
#include "fuzz_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zol::fuzz::FuzzRig rig;
  rig.keys.Push(std::string_view(reinterpret_cast<const char*>(data), size));

  int32_t number = 7;
  const int16_t n = zol::PromptNumber("\nEnter ZOL Serial Number", "%lu", "%lu", &number);
  zol::fuzz::Require(n == 0 || n == 1);
  int32_t offset = -5;
  const int16_t o = zol::PromptNumber("Offset", "%ld", "%ld", &offset);
  zol::fuzz::Require(o == 0 || o == 1);
  float value = 20.0f;
  const int16_t f = zol::PromptFloat("\nEnter Solution Temperature", "%.2f", "%f", &value);
  zol::fuzz::Require(f == 0 || f == 1);
  const int16_t y = zol::PromptYesNo("Modify", 0);
  zol::fuzz::Require(y == 0 || y == 1);
  char line[20];
  const int16_t e = zol::EditLine(line, sizeof line);
  zol::fuzz::Require(e == 0 || e == 1);
  if (e == 1) zol::fuzz::Require(std::char_traits<char>::length(line) < sizeof line);
  std::tm tm{};
  const int16_t d = zol::PromptDateTime("When", 1, &tm);
  zol::fuzz::Require(d == 0 || d == 1);
  return 0;
}
