// zolbench: our line primitives against plain polling loops, side by side,
// over pseudo-terminals. Prints Markdown tables; with --check, judges the
// idle waits for CI and exits 1 when one uses too much CPU.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "report.h"
#include "sampler_side.h"
#include "scenarios.h"

namespace {

using bench::SamplerSide;

constexpr int kOurs = 0;
constexpr int kReference = 1;

void Usage(std::FILE* out) {
  std::fputs(
      "usage: zolbench [--quick | --check]\n"
      "  (none)   the full figures: 25 s and 45 s waits, 10 MB pass-through, 1000 cycles\n"
      "           (about 15 minutes)\n"
      "  --quick  every figure, shortened (about 2.5 minutes)\n"
      "  --check  the CI check (under a minute): exits 1 when an idle wait uses more\n"
      "           than 5% of the reference's CPU or 1% of a core, or the pass-through\n"
      "           loses a byte\n",
      out);
}

void Progress(const char* what, const SamplerSide& side) {
  std::fprintf(stderr, "zolbench: %s (%s)\n", what, side.name);
}

bench::Results Measure(const bench::Plan& plan) {
  bench::Results results;
  results.plan = plan;
  const SamplerSide* sides[2] = {&bench::OurSide(), &bench::ReferenceSide()};
  if (plan.memoryCycles > 0) {
    std::fprintf(stderr, "zolbench: %d cycles for the memory figures (both sides at once)\n",
                 plan.memoryCycles);
    results.memory = bench::MeasureMemory(plan);
    results.memoryMeasured = true;
  }
  for (int s : {kOurs, kReference})
    bench::QuietSide(*sides[s]);
  for (int s : {kOurs, kReference}) {
    Progress("idle waits", *sides[s]);
    results.waits[s] = bench::MeasureWaits(*sides[s], plan);
  }
  for (int s : {kOurs, kReference}) {
    Progress("reactions", *sides[s]);
    results.reactions[s] = bench::MeasureReactions(*sides[s], plan);
  }
  if (plan.timedCycles > 0) {
    for (int s : {kOurs, kReference}) {
      Progress("sample cycles", *sides[s]);
      results.cycles[s] = bench::MeasureCycles(*sides[s], plan);
    }
    results.cyclesMeasured = true;
  }
  for (int s : {kOurs, kReference}) {
    Progress("pass-through", *sides[s]);
    results.paced[s] =
        bench::MeasurePassThrough(*sides[s], plan.pacedBytes, bench::kLineBytesPerSecond);
    results.bulk[s] = bench::MeasurePassThrough(*sides[s], plan.bulkBytes, 0);
  }
  return results;
}

int MemoryRun(int argc, char** argv) {
  if (argc != 6) return 2;
  const SamplerSide& side =
      std::strcmp(argv[2], "reference") == 0 ? bench::ReferenceSide() : bench::OurSide();
  return bench::RunMemoryChild(side, std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--memory-run") == 0) return MemoryRun(argc, argv);
  bench::Plan plan = bench::FullPlan();
  bool check = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      plan = bench::QuickPlan();
    } else if (std::strcmp(argv[i], "--check") == 0) {
      plan = bench::CheckPlan();
      check = true;
    } else {
      Usage(std::strcmp(argv[i], "--help") == 0 ? stdout : stderr);
      return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
    }
  }
  bench::PrintMachine(stdout);
  const bench::Results results = Measure(plan);
  bench::PrintResults(stdout, results);
  if (!check) return 0;
  const bench::Verdict verdict = bench::Judge(results);
  std::printf("\n");
  for (const std::string& line : verdict.lines)
    std::printf("%s\n", line.c_str());
  std::printf("\nperf check %s\n", verdict.passed ? "passed" : "FAILED");
  return verdict.passed ? 0 : 1;
}
