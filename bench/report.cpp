#include "report.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace bench {
namespace {

constexpr int kOurs = 0;
constexpr int kReference = 1;

double Ratio(double ours, double reference) {
  return reference > 0 ? ours / reference : 0;
}

std::string CpuModel() {
  std::FILE* info = std::fopen("/proc/cpuinfo", "r");
  if (info == nullptr) return "unknown";
  char line[512];
  std::string model = "unknown";
  while (std::fgets(line, sizeof line, info) != nullptr) {
    if (std::strncmp(line, "model name", 10) != 0) continue;
    const char* colon = std::strchr(line, ':');
    if (colon != nullptr) model = colon + 2;
    if (!model.empty() && model.back() == '\n') model.pop_back();
    break;
  }
  std::fclose(info);
  return model;
}

const char* Mark(bool ok) {
  return ok ? "yes" : "NO";
}

void PrintWaits(std::FILE* out, const Results& r) {
  std::fprintf(out,
               "\n### Idle waits: CPU time of the process while it waits\n\n"
               "| Wait | Wall s | Ours CPU ms | Ours %% core | Reference CPU ms | Reference %% "
               "core | Ours/reference | Results as expected |\n"
               "|---|---:|---:|---:|---:|---:|---:|---|\n");
  for (size_t i = 0; i < r.waits[kOurs].size() && i < r.waits[kReference].size(); ++i) {
    const WaitFigure& o = r.waits[kOurs][i];
    const WaitFigure& f = r.waits[kReference][i];
    std::fprintf(out, "| %s | %.2f | %.3f | %.4f | %.1f | %.2f | %.5f | %s / %s |\n",
                 o.what.c_str(), o.wallMs / 1e3, o.cpuMs, o.corePercent, f.cpuMs, f.corePercent,
                 Ratio(o.cpuMs, f.cpuMs), Mark(o.result == o.expected),
                 Mark(f.result == f.expected));
  }
}

void PrintReactions(std::FILE* out, const Results& r) {
  std::fprintf(out,
               "\n### Reaction: last byte of a reply to the first byte of the next command "
               "(µs, seen by the instrument)\n\n"
               "| Exchange | Samples | Ours p50 | Ours p99 | Ours max | Reference p50 | "
               "Reference p99 | Reference max | p50 ours/ref | p99 ours/ref | CPU µs per "
               "exchange, ours / reference | All answered |\n"
               "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|\n");
  for (size_t i = 0; i < r.reactions[kOurs].size() && i < r.reactions[kReference].size(); ++i) {
    const ReactionFigure& o = r.reactions[kOurs][i];
    const ReactionFigure& f = r.reactions[kReference][i];
    std::fprintf(out,
                 "| %s | %d | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %.2f | %.2f | %.0f / %.0f "
                 "| %s / %s |\n",
                 o.what.c_str(), o.samples, o.p50Us, o.p99Us, o.maxUs, f.p50Us, f.p99Us, f.maxUs,
                 Ratio(o.p50Us, f.p50Us), Ratio(o.p99Us, f.p99Us), o.cpuUsPerExchange,
                 f.cpuUsPerExchange, Mark(o.allAnswered), Mark(f.allAnswered));
  }
}

void PrintCycles(std::FILE* out, const Results& r) {
  const CycleFigure& o = r.cycles[kOurs];
  const CycleFigure& f = r.cycles[kReference];
  std::fprintf(out,
               "\n### Sample cycle with CTD and pump sample (brisk instruments)\n\n"
               "| Figure | Ours | Reference | Ours/reference |\n|---|---:|---:|---:|\n");
  std::fprintf(out, "| CPU per cycle, ms (mean of %d) | %.2f | %.2f | %.3f |\n", o.cycles,
               o.cpuMsPerCycle, f.cpuMsPerCycle, Ratio(o.cpuMsPerCycle, f.cpuMsPerCycle));
  std::fprintf(out, "| Wall time per cycle, s | %.2f | %.2f | %.3f |\n", o.wallMsPerCycle / 1e3,
               f.wallMsPerCycle / 1e3, Ratio(o.wallMsPerCycle, f.wallMsPerCycle));
  std::fprintf(out, "| Records in both data files | %s | %s | |\n", Mark(o.recordsStored),
               Mark(f.recordsStored));
  if (o.idleWallMs <= 0) return;
  std::fprintf(out, "| Between cycles: CPU ms over %.1f s | %.3f | %.3f | %.3f |\n",
               o.idleWallMs / 1e3, o.idleCpuMs, f.idleCpuMs, Ratio(o.idleCpuMs, f.idleCpuMs));
  std::fprintf(out, "| Between cycles: %% of a core | %.4f | %.4f | |\n", o.idleCorePercent,
               f.idleCorePercent);
  std::fprintf(out, "| Sampling thread ended with 707 | %s | %s | |\n", Mark(o.threadEnded),
               Mark(f.threadEnded));
}

void PrintStream(std::FILE* out, const char* what, const StreamFigure& o, const StreamFigure& f) {
  const double lineSeconds = static_cast<double>(o.bytes) / kLineBytesPerSecond;
  std::fprintf(out, "| %s | %lld | %.2f | %.3f | %.2f | %.3f | %.1f | %.1f | %.3f | %s / %s |\n",
               what, static_cast<long long>(o.bytes), o.seconds, o.seconds / lineSeconds, f.seconds,
               f.seconds / lineSeconds, o.cpuMs, f.cpuMs, Ratio(o.cpuMs, f.cpuMs), Mark(o.intact),
               Mark(f.intact));
}

void PrintPassThrough(std::FILE* out, const Results& r) {
  std::fprintf(out,
               "\n### Pass-through terminal at 115200 baud (ZOL to console)\n\n"
               "| Run | Bytes | Ours s | Ours / line time | Reference s | Reference / line "
               "time | Ours CPU ms | Reference CPU ms | CPU ours/ref | Every byte, in order |\n"
               "|---|---:|---:|---:|---:|---:|---:|---:|---:|---|\n");
  PrintStream(out, "paced at 11520 bytes/s", r.paced[kOurs], r.paced[kReference]);
  PrintStream(out, "unpaced (pty speed)", r.bulk[kOurs], r.bulk[kReference]);
  const StreamFigure& o = r.bulk[kOurs];
  const StreamFigure& f = r.bulk[kReference];
  if (o.seconds > 0 && f.seconds > 0) {
    std::fprintf(out, "\nUnpaced throughput: ours %.2f MB/s, reference %.2f MB/s.\n",
                 static_cast<double>(o.bytes) / o.seconds / 1e6,
                 static_cast<double>(f.bytes) / f.seconds / 1e6);
  }
}

void PrintMemory(std::FILE* out, const Results& r) {
  const MemoryFigure& o = r.memory.ours;
  const MemoryFigure& f = r.memory.reference;
  std::fprintf(out,
               "\n### Resident memory over %d cycles with CTD and pump sample (pauses 1/%d)\n\n"
               "| Figure (KiB) | Ours | Reference |\n|---|---:|---:|\n",
               o.cycles, r.plan.memoryPauseDivisor);
  std::fprintf(out, "| Peak, VmHWM | %ld | %ld |\n", o.peakKib, f.peakKib);
  std::fprintf(out, "| Peak, ru_maxrss | %ld | %ld |\n", o.maxRssKib, f.maxRssKib);
  std::fprintf(out, "| VmRSS before the first cycle | %ld | %ld |\n", o.startKib, f.startKib);
  std::fprintf(out, "| VmRSS after cycle %d | %ld | %ld |\n", o.checkCycle, o.checkKib, f.checkKib);
  std::fprintf(out, "| VmRSS after cycle %d | %ld | %ld |\n", o.cycles, o.endKib, f.endKib);
  std::fprintf(out, "| Growth from cycle %d to %d | %ld | %ld |\n", o.checkCycle, o.cycles,
               o.endKib - o.checkKib, f.endKib - f.checkKib);
  std::fprintf(out, "| Records stored | %ld | %ld |\n", o.records, f.records);
  std::fprintf(out, "| Run completed | %s | %s |\n", Mark(o.ran), Mark(f.ran));
}

}  // namespace

void PrintMachine(std::FILE* out) {
  utsname system{};
  ::uname(&system);
  double load[3] = {};
  ::getloadavg(load, 3);
  std::fprintf(out,
               "Machine: %s, %ld CPUs online; Linux %s %s; compiler %s; load average at the "
               "start %.2f %.2f %.2f\n",
               CpuModel().c_str(), ::sysconf(_SC_NPROCESSORS_ONLN), system.release, system.machine,
               __VERSION__, load[0], load[1], load[2]);
}

void PrintResults(std::FILE* out, const Results& r) {
  std::fprintf(out, "\n## zolbench, %s run\n", r.plan.name);
  PrintWaits(out, r);
  PrintReactions(out, r);
  if (r.cyclesMeasured) PrintCycles(out, r);
  PrintPassThrough(out, r);
  if (r.memoryMeasured) PrintMemory(out, r);
  std::fflush(out);
}

Verdict Judge(const Results& r) {
  Verdict verdict;
  char line[512];
  const auto note = [&](bool ok, const char* text) {
    verdict.passed = verdict.passed && ok;
    std::snprintf(line, sizeof line, "%s %s", ok ? "PASS" : "FAIL", text);
    verdict.lines.emplace_back(line);
  };
  char text[400];
  for (size_t i = 0; i < r.waits[kOurs].size() && i < r.waits[kReference].size(); ++i) {
    const WaitFigure& o = r.waits[kOurs][i];
    const WaitFigure& f = r.waits[kReference][i];
    std::snprintf(text, sizeof text, "%s: result %d (expected %d)", o.what.c_str(), o.result,
                  o.expected);
    note(o.result == o.expected, text);
    const double bound = f.cpuMs * kCheckMaxShareOfReference;
    std::snprintf(text, sizeof text,
                  "%s: %.3f ms CPU, bound %.3f ms (%.0f%% of the reference's %.1f ms)",
                  o.what.c_str(), o.cpuMs, bound, kCheckMaxShareOfReference * 100, f.cpuMs);
    note(o.cpuMs <= bound, text);
    std::snprintf(text, sizeof text, "%s: %.4f%% of a core, ceiling %.1f%%", o.what.c_str(),
                  o.corePercent, kCheckMaxCorePercent);
    note(o.corePercent <= kCheckMaxCorePercent, text);
  }
  for (const ReactionFigure& o : r.reactions[kOurs]) {
    std::snprintf(text, sizeof text, "%s: every exchange answered", o.what.c_str());
    note(o.allAnswered, text);
  }
  std::snprintf(text, sizeof text, "pass-through, %lld bytes paced: every byte, in order",
                static_cast<long long>(r.paced[kOurs].bytes));
  note(r.paced[kOurs].intact, text);
  std::snprintf(text, sizeof text, "pass-through, %lld bytes unpaced: every byte, in order",
                static_cast<long long>(r.bulk[kOurs].bytes));
  note(r.bulk[kOurs].intact, text);
  return verdict;
}

}  // namespace bench
