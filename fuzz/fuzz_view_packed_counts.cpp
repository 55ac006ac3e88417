// zolview's spectrum decoder: any BEG, END and packed data (three parts of
// the input split at NUL bytes) must be accepted whole or refused, and what
// is accepted decodes to exactly its pixel count of 16-bit counts.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "view/packed_counts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string_view parts[3];
  for (std::string_view& part : parts) {
    const size_t end = std::min(input.find('\0'), input.size());
    part = input.substr(0, end);
    input.remove_prefix(std::min(end + 1, input.size()));
  }
  const auto range = zol::view::CheckSpectrum(parts[0], parts[1], parts[2]);
  if (!range) return 0;
  if (range->first < 0 || range->last > zol::view::kMaxPixel || range->first > range->last ||
      parts[2].size() != static_cast<size_t>(range->Count()) * 4)
    std::abort();
  // One value past the range must stay untouched.
  std::vector<int32_t> counts(static_cast<size_t>(range->Count()) + 1, -7);
  zol::view::DecodeSpectrum(parts[2], counts.data());
  for (size_t i = 0; i + 1 < counts.size(); ++i) {
    if (counts[i] < 0 || counts[i] > 65535) std::abort();
  }
  if (counts.back() != -7) std::abort();
  return 0;
}
