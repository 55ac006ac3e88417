#include "view/qc.h"

#include <algorithm>
#include <cmath>

namespace zol::view {
namespace {

// Values no sensor of the kind can report. Pressure is not tested: records
// without a CTD carry the operator's -5.00.
struct SensorRange {
  const char* column;
  double min, max;
};
constexpr SensorRange kSensorRanges[] = {
    {"KIRN NITRATE", -5, 3000},  // umol/L, a small negative calibration offset allowed
    {"FOOBAR PH VALUE", 0, 14},
    {"CTD TEMP", -2.5, 40},  // degree_C
    {"CTD SALINITY", 0, 42},
};

}  // namespace

QcLimits LimitsFor(const std::string& column, const Meta* meta) {
  QcLimits result;
  bool byDefault = false;
  bool byMeta = false;
  if (meta != nullptr) {
    if (const auto it = meta->columns.find(column); it != meta->columns.end()) {
      result.limits = it->second;
      const ColumnMeta& l = result.limits;
      byMeta = l.failMin || l.failMax || l.suspectMin || l.suspectMax || l.spikeSuspect ||
               l.spikeFail || l.flatSuspect || l.flatFail || l.flatTolerance;
    }
  }
  for (const SensorRange& range : kSensorRanges) {
    if (column != range.column) continue;
    ColumnMeta& l = result.limits;
    byDefault = !l.failMin || !l.failMax;
    if (!l.failMin) l.failMin = range.min;
    if (!l.failMax) l.failMax = range.max;
  }
  result.source = byDefault && byMeta ? "default and metadata file"
                  : byDefault         ? "default"
                  : byMeta            ? "metadata file"
                                      : "none";
  return result;
}

QcColumn::QcColumn(const ColumnMeta& limits) : limits_(limits) {
  if (!limits_.flatSuspect) limits_.flatSuspect = kFlatSuspectDefault;
  if (!limits_.flatFail) limits_.flatFail = kFlatFailDefault;
  if (!limits_.flatTolerance) limits_.flatTolerance = 0.0;
  // Without spike thresholds, a tenth and a fifth of the fail range.
  if (limits_.failMin && limits_.failMax) {
    const double span = *limits_.failMax - *limits_.failMin;
    if (!limits_.spikeSuspect) limits_.spikeSuspect = span / 10.0;
    if (!limits_.spikeFail) limits_.spikeFail = span / 5.0;
  }
}

bool IsQcTested(const Layout& layout, const std::string& column) {
  return (layout.mainColumn >= 0 && column == layout.columns[layout.mainColumn]) ||
         column == "CTD TEMP" || column == "CTD SALINITY";
}

int QcFlagIndex(QcFlag flag) {
  switch (flag) {
    case kQcPass:
      return 0;
    case kQcNotEvaluated:
      return 1;
    case kQcSuspect:
      return 2;
    case kQcFail:
      return 3;
    case kQcMissing:
      return 4;
  }
  return 1;
}

QcColumn::Result QcColumn::GrossRange(double value) const {
  const ColumnMeta& l = limits_;
  const bool fail = (l.failMin && value < *l.failMin) || (l.failMax && value > *l.failMax);
  if (fail) return kFail;
  const bool suspect =
      (l.suspectMin && value < *l.suspectMin) || (l.suspectMax && value > *l.suspectMax);
  if (suspect) return kSuspect;
  const bool any = l.failMin || l.failMax || l.suspectMin || l.suspectMax;
  return any ? kOk : kNone;
}

QcColumn::Result QcColumn::FlatLine(double value) {
  run_ = last_ && std::fabs(value - *last_) <= *limits_.flatTolerance ? run_ + 1 : 1;
  last_ = value;
  if (run_ >= *limits_.flatFail) return kFail;
  if (run_ >= *limits_.flatSuspect) return kSuspect;
  return kOk;
}

QcColumn::Result QcColumn::Spike(double before, double value, double after) const {
  const double distance = std::fabs(value - (before + after) / 2.0);
  if (limits_.spikeFail && distance > *limits_.spikeFail) return kFail;
  if (limits_.spikeSuspect && distance > *limits_.spikeSuspect) return kSuspect;
  return limits_.spikeSuspect || limits_.spikeFail ? kOk : kNone;
}

// The worst result of the tests that ran. A value never held against its
// range is not called good, whatever the other tests found.
QcFlag QcColumn::Settle(Result spike) {
  QcFlag flag = kQcMissing;
  if (pending_) {
    const Result worst = std::max({pendingGross_, pendingFlat_, spike});
    flag = worst == kFail                         ? kQcFail
           : worst == kSuspect                    ? kQcSuspect
           : worst == kOk && pendingGross_ == kOk ? kQcPass
                                                  : kQcNotEvaluated;
  }
  ++counts_[QcFlagIndex(flag)];
  return flag;
}

std::optional<QcFlag> QcColumn::Push(std::optional<double> value) {
  std::optional<QcFlag> settled;
  if (hasPending_) {
    const Result spike = before_ && pending_ && value ? Spike(*before_, *pending_, *value) : kNone;
    settled = Settle(spike);
  }
  before_ = hasPending_ ? pending_ : std::nullopt;
  pending_ = value;
  hasPending_ = true;
  if (value) {
    pendingGross_ = GrossRange(*value);
    pendingFlat_ = FlatLine(*value);
  } else {
    last_.reset();
    run_ = 1;
  }
  return settled;
}

std::optional<QcFlag> QcColumn::Finish() {
  if (!hasPending_) return std::nullopt;
  hasPending_ = false;
  return Settle(kNone);
}

}  // namespace zol::view
