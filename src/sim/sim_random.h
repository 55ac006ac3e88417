// Seeded randomness that repeats exactly for a given seed, so a simulated
// run (values and faults alike) can be played again with --seed.
#pragma once

#include <cstdint>
#include <random>

namespace zol::sim {

class SimRandom {
 public:
  explicit SimRandom(uint64_t seed) : engine_(seed) {}

  // Uniform in [0, 1). Built from the engine's bits directly: the standard
  // distributions differ between libraries, the engine does not.
  double Unit() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }
  // Uniform in [-1, 1).
  double Signed() { return Unit() * 2.0 - 1.0; }
  // Uniform in [0, count); count > 0.
  uint64_t Below(uint64_t count) { return engine_() % count; }

 private:
  std::mt19937_64 engine_;
};

}  // namespace zol::sim
