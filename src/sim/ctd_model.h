// The simulated CTD: a CR is answered with its prompt, "pts" with a line of
// pressure, temperature and salinity that drift slowly, "pumpon"/"pumpoff"
// switch its pump and "QS" sends it to sleep. Commands end with CR.
#pragma once

#include <cstdint>
#include <string>

#include "sim/instrument.h"
#include "sim/sim_random.h"

namespace zol::sim {

struct CtdSettings {
  // Echo each command line before answering, as some CTDs do.
  bool echo = false;
  uint64_t seed = 1;
};

enum class CtdState { kAsleep, kAwake };

struct CtdReading {
  double pressure = 0.0;
  double temperature = 0.0;
  double salinity = 0.0;
};

// The command names CTD faults may be scoped to.
const FaultCommands& CtdFaultCommands();

class CtdModel final : public Instrument {
 public:
  CtdModel(const CtdSettings& settings, FaultInjector faults, int64_t nowMs);

  CtdState State() const { return state_; }
  bool PumpOn() const { return pumpOn_; }

 private:
  void OnByte(char byte, int64_t nowMs) override;
  void OnPowerUp(int64_t nowMs) override;

  void RunCommand(const std::string& line, int64_t nowMs);
  CtdReading Measure(int64_t nowMs);

  CtdSettings settings_;
  SimRandom random_;
  double phase_;
  int64_t startMs_;
  CtdState state_ = CtdState::kAsleep;
  bool pumpOn_ = false;
  std::string line_;
  bool lineOverflow_ = false;
};

}  // namespace zol::sim
