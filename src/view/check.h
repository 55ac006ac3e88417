// zolview --check: how fresh the newest record of data files is, as one
// line and an exit status in the form monitoring systems run checks in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zol::view {

// Ordered by gravity: the worst of several files is the largest.
enum class CheckStatus { kOk = 0, kWarning = 1, kCritical = 2, kUnknown = 3 };

// Without --warn and --crit the limits are these many usual intervals of
// the file, or the fallback when the file shows no interval.
inline constexpr int64_t kWarnIntervals = 3;
inline constexpr int64_t kCritIntervals = 6;
inline constexpr int64_t kFallbackWarnMinutes = 180;
inline constexpr int64_t kFallbackCritMinutes = 360;
// Larger limits are refused: nobody waits 19 years for a record.
inline constexpr int64_t kMaxLimitMinutes = 10000000;

struct CheckRequest {
  std::optional<int64_t> warnMinutes;
  std::optional<int64_t> critMinutes;
  std::vector<std::string> files;
};

struct FileCheck {
  CheckStatus status = CheckStatus::kUnknown;
  std::string name;       // the file's name without its folder
  std::string detail;     // "last record 4 min ago", "no record", or why it is unknown
  bool measured = false;  // age and limits below hold
  int64_t age = 0;        // seconds from the last record to now
  uint64_t records = 0;
  int64_t warnSeconds = 0;
  int64_t critSeconds = 0;
};

// The words after the program's name; false with `error` set on anything
// the check's usage does not allow.
bool ParseCheckRequest(const std::vector<std::string>& words, CheckRequest& request,
                       std::string& error);

// One file judged against the limits at the time `now` gives, read after
// the file so that a long read does not make it look fresher.
FileCheck CheckFile(const std::string& path, const CheckRequest& request,
                    const std::function<int64_t()>& now);

// The status word and the line for a set of judged files: the worst wins.
CheckStatus WorstStatus(const std::vector<FileCheck>& checks);
std::string CheckLine(const std::vector<FileCheck>& checks);

// The whole mode: parses `words`, checks every file, prints the line to
// `out` (and the usage to `err` when the words are wrong); the exit status.
int RunCheck(const std::vector<std::string>& words, const std::function<int64_t()>& now,
             std::FILE* out, std::FILE* err);

}  // namespace zol::view
