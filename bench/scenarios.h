// The measurements, each run for one side against instruments on
// pseudo-terminals played by a process of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sampler_side.h"

namespace bench {

// How long and how big each measurement is.
struct Plan {
  const char* name = "full";
  // When the ZOL reports the end of its measurement; -1: never (25 s wait).
  int takeSampleDoneMs = -1;
  // When the CTD sends its data line; -1: never (45 s wait).
  int ctdDataMs = -1;
  // The 23.5 s wake-up of a CTD that never answers.
  bool silentCtdWake = true;
  int getcIdleSeconds = 2;
  int exchanges = 1000;
  int timedCycles = 3;
  int idleBetweenCyclesMs = 20000;
  int64_t pacedBytes = 576000;
  int64_t bulkBytes = 10'000'000;
  int memoryCycles = 1000;
  int memoryCheckCycle = 100;
  int memoryPauseDivisor = 50;
};

Plan FullPlan();
Plan QuickPlan();
// Only what the CI check judges, well under a minute.
Plan CheckPlan();

// The line speed of the pass-through run: 115200 baud, 10 bits a byte.
inline constexpr int64_t kLineBytesPerSecond = 11520;

struct WaitFigure {
  std::string what;
  int result = 0;
  int expected = 0;
  double wallMs = 0;
  double cpuMs = 0;
  double corePercent = 0;
};

struct ReactionFigure {
  std::string what;
  int samples = 0;
  bool allAnswered = false;
  double p50Us = 0;
  double p99Us = 0;
  double maxUs = 0;
  double cpuUsPerExchange = 0;
};

struct CycleFigure {
  int cycles = 0;
  bool recordsStored = false;
  double cpuMsPerCycle = 0;
  double wallMsPerCycle = 0;
  double idleWallMs = 0;
  double idleCpuMs = 0;
  double idleCorePercent = 0;
  bool threadEnded = false;
};

struct StreamFigure {
  int64_t bytes = 0;
  int64_t bytesPerSecond = 0;  // 0: unpaced
  bool intact = false;
  int64_t verified = 0;
  int64_t mismatchAt = -1;
  double seconds = 0;  // first byte sent to last byte on the console
  double cpuMs = 0;
  double corePercent = 0;  // over the transfer
};

struct MemoryFigure {
  bool ran = false;
  int cycles = 0;
  int checkCycle = 0;
  long startKib = 0;
  long checkKib = 0;
  long endKib = 0;
  long peakKib = 0;    // VmHWM
  long maxRssKib = 0;  // ru_maxrss
  long records = 0;
};

// Sets the side up with a console that shows nothing and no keys.
void QuietSide(const SamplerSide& side);

std::vector<WaitFigure> MeasureWaits(const SamplerSide& side, const Plan& plan);
std::vector<ReactionFigure> MeasureReactions(const SamplerSide& side, const Plan& plan);
// Needs the sample cycle in the side.
CycleFigure MeasureCycles(const SamplerSide& side, const Plan& plan);
// Needs the pass-through terminal in the side.
StreamFigure MeasurePassThrough(const SamplerSide& side, int64_t bytes, int64_t bytesPerSecond);

// The memory run of one side, in a fresh process (this program again, so
// that nothing else it did counts); both sides run at once.
struct MemoryPair {
  MemoryFigure ours;
  MemoryFigure reference;
};
MemoryPair MeasureMemory(const Plan& plan);
// The body of that process: prints its figures on standard output.
int RunMemoryChild(const SamplerSide& side, int cycles, int checkCycle, int pauseDivisor);

}  // namespace bench
