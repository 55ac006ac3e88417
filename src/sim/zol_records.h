// What the simulated ZOL says about itself: its configuration lines and its
// sample records, laid out after the column line of its sensor kind, with
// plausible values that drift slowly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_random.h"

namespace zol::sim {

enum class SensorKind { kKirn = 1, kPado = 2 };

std::string_view SensorKindName(SensorKind kind);
// "YYYY/MM/DD hh:mm:ss" in UTC, as the ZOL writes dates.
std::string UtcDateTime(int64_t seconds);
// The names of the fields of a sample record, in record order.
const std::vector<std::string_view>& RecordColumns(SensorKind kind);

// What a record reports beside the instrument's own readings.
struct SampleContext {
  int64_t clockSeconds = 0;     // the ZOL's clock at the measurement
  double elapsedSeconds = 0.0;  // since power-up; drives the slow drift
  float temperature = 0.0f;     // the values the sampler last handed over
  float salinity = 0.0f;
  float pressure = 0.0f;
  int sampleCounter = 0;
  int powerOnCounter = 0;
};

struct ZolIdentity {
  SensorKind kind = SensorKind::kKirn;
  int serialNumber = 42;
  int64_t measureMs = 10000;
};

class RecordMaker {
 public:
  RecordMaker(ZolIdentity identity, uint64_t seed);

  // One sample record without a line end.
  std::string MakeRecord(const SampleContext& context);
  // The answer to the configuration command, one entry per line.
  std::vector<std::string> ConfigLines(int mode, int64_t clockSeconds) const;

 private:
  // A reading that wanders slowly around `base`, plus a little noise.
  double Reading(double base, double amplitude, double periodSeconds, double noise,
                 double elapsedSeconds);
  std::vector<std::string> KirnFields(const SampleContext& context);
  std::vector<std::string> PadoFields(const SampleContext& context);

  ZolIdentity identity_;
  SimRandom random_;
  double phase_;
};

}  // namespace zol::sim
