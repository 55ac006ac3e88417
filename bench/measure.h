// What the bench reads off the process and how it sums it up.
#pragma once

#include <cstdint>
#include <vector>

namespace bench {

// CPU time of the whole process (every thread) in nanoseconds.
int64_t ProcessCpuNs();
// CLOCK_MONOTONIC in nanoseconds.
int64_t MonotonicNs();

// Resident set now (VmRSS), its peak as the kernel's exact count has it
// (VmHWM), and the peak that getrusage reports (ru_maxrss, which the kernel
// keeps from per-CPU counters that may lag by a few hundred KiB), in KiB.
long ResidentKib();
long PeakResidentKib();
long MaxRssKib();

// The nearest-rank percentile (0 < p <= 100) of the samples; 0 when empty.
int64_t Percentile(std::vector<int64_t> samples, double p);

// A stretch of wall time and the process's CPU time over it.
class CpuWindow {
 public:
  CpuWindow() : cpuStart_(ProcessCpuNs()), wallStart_(MonotonicNs()) {}
  void Stop();
  double CpuMs() const { return static_cast<double>(cpuNs_) / 1e6; }
  double WallMs() const { return static_cast<double>(wallNs_) / 1e6; }
  // CPU time as a share of one core over the wall time, in percent.
  double CorePercent() const;

 private:
  int64_t cpuStart_;
  int64_t wallStart_;
  int64_t cpuNs_ = 0;
  int64_t wallNs_ = 0;
};

}  // namespace bench
