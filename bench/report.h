// The bench's tables (Markdown, so that they read the same in a terminal
// and in BENCHMARKS.md) and the verdicts of the CI check.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "scenarios.h"

namespace bench {

struct Results {
  Plan plan;
  std::vector<WaitFigure> waits[2];  // [0] ours, [1] reference
  std::vector<ReactionFigure> reactions[2];
  bool cyclesMeasured = false;
  CycleFigure cycles[2];
  StreamFigure paced[2];
  StreamFigure bulk[2];
  bool memoryMeasured = false;
  MemoryPair memory;
};

void PrintMachine(std::FILE* out);
void PrintResults(std::FILE* out, const Results& results);

// The CI check's bounds: an idle wait of ours may use at most this share of
// the reference's CPU for the same wait, and at most this share of a core.
inline constexpr double kCheckMaxShareOfReference = 0.05;
inline constexpr double kCheckMaxCorePercent = 1.0;

struct Verdict {
  bool passed = true;
  std::vector<std::string> lines;
};
Verdict Judge(const Results& results);

}  // namespace bench
