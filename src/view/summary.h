// The summary of data files for a look in the terminal: counts, times,
// interval and gaps, per column statistics and a sparkline of the main value.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "view/meta.h"
#include "view/stats.h"

namespace zol::view {

inline constexpr size_t kSparklineWidth = 60;
inline constexpr size_t kGapsListed = 20;

// "2024/05/01 10:00:00", as the records write times.
std::string FormatTime(int64_t seconds);
// "1 h 5 min 3 s", for intervals and gaps.
std::string FormatDuration(int64_t seconds);
// One character per bin, eight levels; blank at gaps and where no data is
// yet or any more, the level before it between records.
std::string Sparkline(const std::vector<Bin>& bins);

// Prints the summary of every file to `out`, problems to `err`; false when a
// file could not be read or its layout is unknown.
// `meta` gives the quality-test limits; without it the tests run on their
// defaults alone.
bool PrintSummaries(const std::vector<std::string>& paths, std::FILE* out, std::FILE* err,
                    const Meta* meta = nullptr);

}  // namespace zol::view
