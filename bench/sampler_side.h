// One side of the comparison: the sampler's code over our line primitives,
// or the same code over the plain polling loops (reference_primitives.h). The
// bench drives both through this table, which names no type of either build.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

namespace bench {

// Ports as the sampler numbers them: the ZOL on COM1, the CTD on COM2.
inline constexpr int kZolPort = 0;
inline constexpr int kCtdPort = 1;
inline constexpr int kNoCtd = -1;

// Where the side's keys come from: a descriptor that GetKey blocks on, and
// a flag that says without blocking that a key waits there.
struct KeyLine {
  int fd = -1;
  const std::atomic<int>* waiting = nullptr;
};

struct CycleSetup {
  int ctdPort = kNoCtd;
  bool pumpSample = false;
  // The directory of the log and data files.
  const char* directory = "";
};

struct SamplerSide {
  const char* name;
  // The side's own serial service over POSIX terminals, the system clock,
  // the console stream and the keys. Call again to change them.
  void (*install)(std::FILE* console, KeyLine keys);
  // Pauses of the protocols (not the 1 ms polls of the reference) last
  // 1/divisor of their time; 1 restores them.
  void (*setPauseDivisor)(int divisor);
  // 0, or a negative serial error code.
  int (*openPort)(int port, int baud);
  void (*closePort)(int port);

  int (*takeSample)(int port);
  int (*getCtdDat)(int port);
  int (*wakeCtd)(int port);
  int (*wakeZol)(int port);
  int (*zolSleep)(int port);
  // Sends CR and reads with GetcTimed (2 s each) until '>': true when it came.
  bool (*pokeForPrompt)(int port);
  int (*getcTimed)(int port, int seconds);

  void (*setUpCycles)(const CycleSetup& setup);
  // One cycle as the sampling thread runs it.
  void (*runCycle)();
  // The sampling thread with a period of one minute.
  void (*startSampling)();
  // Returns once no cycle holds the ports.
  void (*awaitCycleEnd)();
  // The sampling thread's exit code.
  unsigned long (*stopSampling)();
  // The pass-through terminal on the ZOL port, until CTRL+K.
  void (*passThrough)();
};

const SamplerSide& OurSide();
const SamplerSide& ReferenceSide();

}  // namespace bench
