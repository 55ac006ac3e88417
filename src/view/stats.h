// Statistics gathered while the records stream past, in memory that does
// not grow with the file: per column count, minimum, mean and maximum; the
// sampling times, the usual interval between them and the gaps.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>
#include <vector>

#include "view/layout.h"
#include "view/record_parser.h"

namespace zol::view {

struct ColumnStats {
  uint64_t count = 0;
  uint64_t bad = 0;  // fields that are not a number in range
  double min = std::numeric_limits<double>::infinity();
  double max = -std::numeric_limits<double>::infinity();
  double sum = 0.0;

  void Add(std::string_view field);
  double Mean() const { return count == 0 ? 0.0 : sum / static_cast<double>(count); }
};

// Intervals of up to a day are kept to the second, longer ones in one
// bucket; the median of them is the usual interval.
class IntervalHistogram {
 public:
  void Add(int64_t seconds);
  // 0 when no interval was positive.
  int64_t Median() const;

 private:
  static constexpr int64_t kDay = 86400;
  std::vector<uint64_t> counts_;
  uint64_t total_ = 0;
};

// Everything the first pass learns about one file's records.
class RecordStats {
 public:
  explicit RecordStats(const Layout& layout);
  void Add(const ParsedLine& record);

  const Layout& RecordLayout() const { return layout_; }
  uint64_t Records() const { return records_; }
  int64_t First() const { return first_; }
  int64_t Last() const { return last_; }
  int64_t Earliest() const { return earliest_; }
  int64_t Latest() const { return latest_; }
  uint64_t Backwards() const { return backwards_; }  // records not later than the one before
  int64_t UsualInterval() const { return intervals_.Median(); }
  const std::vector<ColumnStats>& Columns() const { return columns_; }

 private:
  Layout layout_;
  std::vector<ColumnStats> columns_;
  IntervalHistogram intervals_;
  uint64_t records_ = 0;
  int64_t first_ = 0;
  int64_t last_ = 0;
  int64_t earliest_ = 0;
  int64_t latest_ = 0;
  uint64_t backwards_ = 0;
};

// True when the step from one record to the next is a gap: longer than one
// and a half usual intervals.
inline bool IsGap(int64_t step, int64_t usualInterval) {
  return usualInterval > 0 && 2 * step > 3 * usualInterval;
}

struct Gap {
  int64_t from = 0;
  int64_t to = 0;
};

// The second pass: the gaps, now that the usual interval is known. Only the
// first `maxListed` are kept; all are counted.
class GapFinder {
 public:
  GapFinder(int64_t usualInterval, size_t maxListed);
  void Add(int64_t time);
  const std::vector<Gap>& Listed() const { return listed_; }
  uint64_t Total() const { return total_; }

 private:
  int64_t usual_;
  size_t maxListed_;
  bool started_ = false;
  int64_t previous_ = 0;
  std::vector<Gap> listed_;
  uint64_t total_ = 0;
};

// Min and max of a value per time bin over [from, to], for a sparkline or a
// plot: the reduction keeps the extremes, so no spike is lost.
struct Bin {
  uint64_t count = 0;
  double min = 0.0;
  double max = 0.0;
  double sum = 0.0;
  bool minFirst = true;      // the minimum came before the maximum
  bool breakBefore = false;  // a gap lies between this bin and the data before it
};

class TimeBins {
 public:
  TimeBins(int64_t from, int64_t to, size_t width, int64_t usualInterval);
  // A record's value at `time`, records in file order.
  void Add(int64_t time, double value);
  const std::vector<Bin>& Bins() const { return bins_; }
  size_t IndexOf(int64_t time) const;

 private:
  int64_t from_;
  int64_t to_;
  int64_t usual_;
  std::vector<Bin> bins_;
  bool previousValid_ = false;
  int64_t previousTime_ = 0;
};

}  // namespace zol::view
