#include "view/packed_counts.h"

#include <array>

#include "view/record_parser.h"

namespace zol::view {
namespace {

// Hex digit values, -1 for any other byte: one look-up a character keeps
// the check cheap enough for the summary.
constexpr std::array<int8_t, 256> kHexValue = [] {
  std::array<int8_t, 256> table{};
  table.fill(-1);
  for (int c = '0'; c <= '9'; ++c)
    table[c] = static_cast<int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) {
    table[c] = static_cast<int8_t>(c - 'A' + 10);
    table[c + 'a' - 'A'] = static_cast<int8_t>(c - 'A' + 10);
  }
  return table;
}();

}  // namespace

std::optional<PixelRange> CheckSpectrum(std::string_view begin, std::string_view end,
                                        std::string_view packed) {
  const std::optional<int64_t> first = ParseDigits(begin, 4, kMaxPixel);
  const std::optional<int64_t> last = ParseDigits(end, 4, kMaxPixel);
  if (!first || !last || *first > *last) return std::nullopt;
  const PixelRange range{static_cast<int>(*first), static_cast<int>(*last)};
  if (packed.size() != static_cast<size_t>(range.Count()) * 4) return std::nullopt;
  // Without a branch or a table a byte, so the compiler can take many at a time.
  unsigned bad = 0;
  for (const char c : packed) {
    const auto byte = static_cast<unsigned char>(c);
    const auto letter = static_cast<unsigned char>((byte | 0x20) - 'a');
    bad |= static_cast<unsigned>(static_cast<unsigned char>(byte - '0') > 9) &
           static_cast<unsigned>(letter > 5);
  }
  if (bad != 0) return std::nullopt;
  return range;
}

void DecodeSpectrum(std::string_view packed, int32_t* out) {
  for (size_t i = 0; i + 4 <= packed.size(); i += 4) {
    int32_t value = 0;
    for (size_t k = 0; k < 4; ++k)
      value = value << 4 | kHexValue[static_cast<unsigned char>(packed[i + k])];
    *out++ = value;
  }
}

SpectrumColumns FindSpectrumColumns(const Layout& layout) {
  return {layout.ColumnIndex("DAT PIXEL BEG"), layout.ColumnIndex("DAT PIXEL END"),
          layout.ColumnIndex("PACKED HEX DATA")};
}

}  // namespace zol::view
