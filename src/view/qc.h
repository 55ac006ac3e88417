// Quality flags of one column, record by record, in the field's usual
// scale: gross range, spike and flat line tests rolled into one flag.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "view/layout.h"
#include "view/meta.h"

namespace zol::view {

enum QcFlag : uint8_t {
  kQcPass = 1,
  kQcNotEvaluated = 2,
  kQcSuspect = 3,
  kQcFail = 4,
  kQcMissing = 9,
};

// Defaults of the flat line test; the spike test has none of its own (its
// thresholds are in the column's units) and falls back on the gross range.
inline constexpr double kFlatSuspectDefault = 5;
inline constexpr double kFlatFailDefault = 10;

class QcColumn {
 public:
  explicit QcColumn(const ColumnMeta& limits);

  // The next record's value (none when missing). A spike needs the value
  // after it, so each call gives the flag of the record before, once known.
  std::optional<QcFlag> Push(std::optional<double> value);
  // The flag of the last record, at the end.
  std::optional<QcFlag> Finish();

  // Records per flag: pass, not evaluated, suspect, fail, missing.
  const std::array<uint64_t, 5>& Counts() const { return counts_; }

 private:
  enum Result { kNone, kOk, kSuspect, kFail };
  Result GrossRange(double value) const;
  Result FlatLine(double value);
  Result Spike(double before, double value, double after) const;
  QcFlag Settle(Result spike);

  ColumnMeta limits_;
  std::optional<double> before_;   // the value before the pending one
  std::optional<double> pending_;  // the record whose flag waits for the next
  bool hasPending_ = false;
  Result pendingGross_ = kNone;
  Result pendingFlat_ = kNone;
  std::optional<double> last_;
  int run_ = 1;
  std::array<uint64_t, 5> counts_{};
};

// A column's quality-test limits: the metadata file's limit by limit, else
// the sensor's own fail range (the gross range test's default, which the
// spike test's defaults derive from). `source` names where they came from.
struct QcLimits {
  ColumnMeta limits;
  const char* source = "none";  // "default", "metadata file" or both
};
QcLimits LimitsFor(const std::string& column, const Meta* meta);

// The columns whose values get flags: the main value, CTD TEMP and CTD SALINITY.
bool IsQcTested(const Layout& layout, const std::string& column);

// The index of a flag in QcColumn::Counts().
int QcFlagIndex(QcFlag flag);

}  // namespace zol::view
