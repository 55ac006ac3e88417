#include "view/check.h"

#include <algorithm>
#include <cstddef>

#include "view/data_scan.h"
#include "view/stats.h"

namespace zol::view {
namespace {

constexpr const char* kCheckUsage =
    "usage: zolview --check [--warn MINUTES] [--crit MINUTES] FILE...\n";

const char* StatusWord(CheckStatus status) {
  switch (status) {
    case CheckStatus::kOk:
      return "OK";
    case CheckStatus::kWarning:
      return "WARNING";
    case CheckStatus::kCritical:
      return "CRITICAL";
    case CheckStatus::kUnknown:
      return "UNKNOWN";
  }
  return "UNKNOWN";
}

// Whole minutes, digits only, within kMaxLimitMinutes.
std::optional<int64_t> ParseMinutes(const std::string& text) {
  return ParseDigits(text, 8, kMaxLimitMinutes);
}

// The '|' starts the performance data; a name must not end the text early.
std::string TextSafe(std::string text) {
  for (char& c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '|' || byte < 0x20 || byte == 0x7F) c = '?';
  }
  return text;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The limits in seconds: given ones as they are, the others from the usual
// interval, never a warning above the critical age.
void SetLimits(const CheckRequest& request, int64_t usualInterval, FileCheck& check) {
  const int64_t defaultWarn =
      usualInterval > 0 ? kWarnIntervals * usualInterval : kFallbackWarnMinutes * 60;
  const int64_t defaultCrit =
      usualInterval > 0 ? kCritIntervals * usualInterval : kFallbackCritMinutes * 60;
  check.warnSeconds = request.warnMinutes ? *request.warnMinutes * 60 : defaultWarn;
  check.critSeconds = request.critMinutes ? *request.critMinutes * 60 : defaultCrit;
  if (!request.critMinutes) check.critSeconds = std::max(check.critSeconds, check.warnSeconds);
  if (!request.warnMinutes) check.warnSeconds = std::min(check.warnSeconds, check.critSeconds);
}

void Judge(FileCheck& check) {
  char text[96];
  if (check.age >= 0) {
    std::snprintf(text, sizeof text, "last record %lld min ago",
                  static_cast<long long>(check.age / 60));
  } else {
    // The instrument's clock runs ahead of this one.
    std::snprintf(text, sizeof text, "last record %lld min ahead of now",
                  static_cast<long long>(-check.age / 60));
  }
  check.detail = text;
  if (check.age > check.critSeconds) {
    check.status = CheckStatus::kCritical;
  } else if (check.age > check.warnSeconds || -check.age > check.warnSeconds) {
    check.status = CheckStatus::kWarning;
  } else {
    check.status = CheckStatus::kOk;
  }
}

std::string PerfLabel(const FileCheck& check, const char* what, bool several) {
  if (!several) return what;
  std::string name = check.name;
  for (char& c : name) {
    if (c == '\'' || c == '=') c = '_';
  }
  return "'" + name + " " + what + "'";
}

}  // namespace

bool ParseCheckRequest(const std::vector<std::string>& words, CheckRequest& request,
                       std::string& error) {
  request = CheckRequest();
  bool checkSeen = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--check" && !checkSeen) {
      checkSeen = true;
    } else if (word == "--warn" || word == "--crit") {
      std::optional<int64_t>& limit = word == "--warn" ? request.warnMinutes : request.critMinutes;
      if (limit) {
        error = word + " given twice";
        return false;
      }
      if (i + 1 >= words.size() || !(limit = ParseMinutes(words[i + 1]))) {
        error = word + " needs whole minutes from 0 to 10000000";
        return false;
      }
      ++i;
    } else if (word == "--") {
      request.files.insert(request.files.end(), words.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                           words.end());
      break;
    } else if (!word.empty() && word[0] == '-') {
      error = "unknown option " + word;
      return false;
    } else {
      request.files.push_back(word);
    }
  }
  if (!checkSeen) {
    error = "--check missing";
    return false;
  }
  if (request.files.empty()) {
    error = "no data file given";
    return false;
  }
  if (request.warnMinutes && request.critMinutes && *request.warnMinutes > *request.critMinutes) {
    error = "--warn is above --crit";
    return false;
  }
  return true;
}

FileCheck CheckFile(const std::string& path, const CheckRequest& request,
                    const std::function<int64_t()>& now) {
  FileCheck check;
  check.name = TextSafe(BaseName(path));
  std::optional<RecordStats> stats;
  const ScanResult scan = ScanFile(path, [&](const Layout& layout, const ParsedLine& record) {
    if (!stats) stats.emplace(layout);
    stats->Add(record);
  });
  if (!scan.opened || !scan.error.empty()) {
    check.detail = TextSafe(scan.error);
    return check;
  }
  if (!scan.layout) {
    check.detail = "cannot tell the record layout";
    return check;
  }
  check.records = scan.counts.records;
  SetLimits(request, stats ? stats->UsualInterval() : 0, check);
  if (!stats) {
    check.status = CheckStatus::kCritical;
    check.detail = "no record";
    return check;
  }
  check.measured = true;
  check.age = now() - stats->Last();
  Judge(check);
  return check;
}

CheckStatus WorstStatus(const std::vector<FileCheck>& checks) {
  CheckStatus worst = CheckStatus::kOk;
  for (const FileCheck& check : checks)
    worst = std::max(worst, check.status);
  return worst;
}

std::string CheckLine(const std::vector<FileCheck>& checks) {
  const bool several = checks.size() > 1;
  std::string line = std::string("ZOLVIEW ") + StatusWord(WorstStatus(checks)) + " - ";
  if (several) line += "worst of " + std::to_string(checks.size()) + " files: ";
  std::string perf;
  for (size_t i = 0; i < checks.size(); ++i) {
    const FileCheck& check = checks[i];
    if (i > 0) line += "; ";
    line += check.name + ": " + check.detail;
    if (several) line += std::string(" (") + StatusWord(check.status) + ")";
    if (check.status == CheckStatus::kUnknown) continue;
    if (!perf.empty()) perf += ' ';
    if (check.measured) {
      perf += PerfLabel(check, "age", several) + "=" + std::to_string(check.age) + "s;" +
              std::to_string(check.warnSeconds) + ";" + std::to_string(check.critSeconds) + " ";
    }
    perf += PerfLabel(check, "records", several) + "=" + std::to_string(check.records);
  }
  if (!perf.empty()) line += " | " + perf;
  return line;
}

int RunCheck(const std::vector<std::string>& words, const std::function<int64_t()>& now,
             std::FILE* out, std::FILE* err) {
  CheckRequest request;
  std::string error;
  if (!ParseCheckRequest(words, request, error)) {
    std::fprintf(out, "ZOLVIEW UNKNOWN - %s\n", TextSafe(error).c_str());
    std::fputs(kCheckUsage, err);
    return static_cast<int>(CheckStatus::kUnknown);
  }
  std::vector<FileCheck> checks;
  for (const std::string& path : request.files)
    checks.push_back(CheckFile(path, request, now));
  std::fprintf(out, "%s\n", CheckLine(checks).c_str());
  return static_cast<int>(WorstStatus(checks));
}

}  // namespace zol::view
