#include "view/stats.h"

#include <algorithm>

namespace zol::view {

void ColumnStats::Add(std::string_view field) {
  const std::optional<double> value = ParseNumber(field);
  if (!value) {
    ++bad;
    return;
  }
  ++count;
  min = std::min(min, *value);
  max = std::max(max, *value);
  sum += *value;
}

void IntervalHistogram::Add(int64_t seconds) {
  if (seconds <= 0) return;
  if (counts_.empty()) counts_.assign(kDay + 2, 0);
  ++counts_[static_cast<size_t>(std::min(seconds, kDay + 1))];
  ++total_;
}

int64_t IntervalHistogram::Median() const {
  if (total_ == 0) return 0;
  const uint64_t half = (total_ + 1) / 2;
  uint64_t seen = 0;
  for (size_t seconds = 0; seconds < counts_.size(); ++seconds) {
    seen += counts_[seconds];
    if (seen >= half) return static_cast<int64_t>(seconds);
  }
  return kDay + 1;
}

RecordStats::RecordStats(const Layout& layout) : layout_(layout), columns_(layout.columns.size()) {}

void RecordStats::Add(const ParsedLine& record) {
  for (size_t i = 0; i < record.fields.size() && i < columns_.size(); ++i) {
    if (layout_.numeric[i]) columns_[i].Add(record.fields[i]);
  }
  if (records_ == 0) {
    first_ = earliest_ = latest_ = record.time;
  } else {
    const int64_t step = record.time - last_;
    if (step <= 0) ++backwards_;
    intervals_.Add(step);
  }
  earliest_ = std::min(earliest_, record.time);
  latest_ = std::max(latest_, record.time);
  last_ = record.time;
  ++records_;
}

GapFinder::GapFinder(int64_t usualInterval, size_t maxListed)
    : usual_(usualInterval), maxListed_(maxListed) {}

void GapFinder::Add(int64_t time) {
  if (started_ && IsGap(time - previous_, usual_)) {
    ++total_;
    if (listed_.size() < maxListed_) listed_.push_back({previous_, time});
  }
  started_ = true;
  previous_ = time;
}

TimeBins::TimeBins(int64_t from, int64_t to, size_t width, int64_t usualInterval)
    : from_(from), to_(std::max(to, from + 1)), usual_(usualInterval), bins_(width) {}

size_t TimeBins::IndexOf(int64_t time) const {
  const int64_t clamped = std::clamp(time, from_, to_);
  // In long double: the product of two spans of seconds can overflow 64 bits.
  const long double share = static_cast<long double>(clamped - from_) / (to_ - from_);
  const size_t index = static_cast<size_t>(share * static_cast<long double>(bins_.size()));
  return std::min(index, bins_.size() - 1);
}

void TimeBins::Add(int64_t time, double value) {
  if (bins_.empty()) return;
  const size_t index = IndexOf(time);
  Bin& bin = bins_[index];
  if (previousValid_ && IsGap(time - previousTime_, usual_) && IndexOf(previousTime_) != index &&
      bin.count == 0)
    bin.breakBefore = true;
  if (bin.count == 0) {
    bin.min = bin.max = value;
  } else if (value < bin.min) {
    bin.min = value;
    bin.minFirst = false;
  } else if (value > bin.max) {
    bin.max = value;
    bin.minFirst = true;
  }
  bin.sum += value;
  ++bin.count;
  previousValid_ = true;
  previousTime_ = time;
}

}  // namespace zol::view
