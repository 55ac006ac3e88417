// The command line of zolsim.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/faults.h"
#include "sim/zol_records.h"

namespace zol::sim {

struct SimOptions {
  SensorKind kind = SensorKind::kKirn;
  double measureSeconds = 10.0;
  uint64_t seed = 0;
  bool seedGiven = false;
  bool ctdEcho = false;
  bool verbose = false;
  bool noCtd = false;
  std::string zolLink;
  std::string ctdLink;
  int zolCom = 1;  // the N of ZOLSAMPLER_COMN
  int ctdCom = 2;
  pid_t exitWithPid = 0;  // 0: run until a signal
  int gapMs = 30;
  int64_t clockOffsetSeconds = 0;
  int serialNumber = 42;
  std::vector<Fault> zolFaults;
  std::vector<Fault> ctdFaults;
};

enum class ParseOutcome { kRun, kHelp, kError };

// Reads the command line into `options`; on kError `error` says why.
ParseOutcome ParseSimOptions(int argc, char** argv, SimOptions& options, std::string& error);

void PrintSimUsage(std::FILE* out, const char* program);

}  // namespace zol::sim
