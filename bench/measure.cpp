#include "measure.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace bench {
namespace {

int64_t ClockNs(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

int64_t ProcessCpuNs() {
  return ClockNs(CLOCK_PROCESS_CPUTIME_ID);
}

int64_t MonotonicNs() {
  return ClockNs(CLOCK_MONOTONIC);
}

namespace {

// A "Name:   1234 kB" line of /proc/self/status; -1 when it is missing.
long StatusKib(const char* field) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  const size_t length = std::strlen(field);
  char line[256];
  long kib = -1;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
      std::sscanf(line + length + 1, "%ld", &kib);
      break;
    }
  }
  std::fclose(status);
  return kib;
}

}  // namespace

long ResidentKib() {
  return StatusKib("VmRSS");
}

long PeakResidentKib() {
  return StatusKib("VmHWM");
}

long MaxRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int64_t Percentile(std::vector<int64_t> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const double rank = std::ceil(p / 100.0 * static_cast<double>(samples.size()));
  const auto index = static_cast<std::size_t>(std::clamp(rank, 1.0, 1.0 * samples.size())) - 1;
  return samples[index];
}

void CpuWindow::Stop() {
  cpuNs_ = ProcessCpuNs() - cpuStart_;
  wallNs_ = MonotonicNs() - wallStart_;
}

double CpuWindow::CorePercent() const {
  return wallNs_ > 0 ? 100.0 * static_cast<double>(cpuNs_) / static_cast<double>(wallNs_) : 0.0;
}

}  // namespace bench
