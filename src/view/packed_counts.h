// A KIRN record's raw spectrum: PACKED HEX DATA holds four hex digits a
// pixel (big-endian 16-bit counts) for the pixels DAT PIXEL BEG to DAT
// PIXEL END.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "view/layout.h"

namespace zol::view {

// The detector's pixel numbers run from 0 to this.
inline constexpr int kMaxPixel = 4095;

struct PixelRange {
  int first = 0;
  int last = -1;
  int Count() const { return last - first + 1; }
};

// The range of a record whose packed data decode whole: BEG and END whole
// numbers within 0 to kMaxPixel, BEG <= END, and exactly four hex digits
// for each pixel. Nothing otherwise.
std::optional<PixelRange> CheckSpectrum(std::string_view begin, std::string_view end,
                                        std::string_view packed);

// The counts of `packed`, which CheckSpectrum accepted: `out` receives
// range.Count() values.
void DecodeSpectrum(std::string_view packed, int32_t* out);

// Where a layout keeps its spectrum: the columns of BEG, END and the packed
// data, or -1 when it has none.
struct SpectrumColumns {
  int begin = -1;
  int end = -1;
  int packed = -1;
  bool Present() const { return packed >= 0 && begin >= 0 && end >= 0; }
};
SpectrumColumns FindSpectrumColumns(const Layout& layout);

}  // namespace zol::view
