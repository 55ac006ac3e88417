// The simulated ZOL: its protocol as a healthy instrument keeps it. Commands
// carry no terminator on the wire, so a command ends after a short silence
// (the gap); W and CTRL+C act at once. The sampler's ACK/NAK after MODE, CTD
// and RTC set end at their CR or LF.
#pragma once

#include <cstdint>
#include <string>

#include "sim/instrument.h"
#include "sim/zol_records.h"

namespace zol::sim {

struct ZolSettings {
  ZolIdentity identity;
  // Silence that ends a command ("SL" against "SLP" depends on it).
  int64_t gapMs = 30;
  // The ZOL's clock at power-up, seconds since 1970-01-01 UTC.
  int64_t clockSeconds = 0;
  uint64_t seed = 1;
};

enum class ZolState { kAsleep, kAwake, kMenu, kSampling };

// The water values handed over with the CTD command.
struct WaterValues {
  float temperature = 0.0f;
  float salinity = 0.0f;
  float pressure = 0.0f;
};

// The command names ZOL faults may be scoped to.
const FaultCommands& ZolFaultCommands();

class ZolModel final : public Instrument {
 public:
  ZolModel(const ZolSettings& settings, FaultInjector faults, int64_t nowMs);

  ZolState State() const { return state_; }
  int Mode() const { return mode_; }
  int SamplesTaken() const { return sampleCounter_; }
  int64_t ClockSeconds(int64_t nowMs) const;
  // The values last handed over and acknowledged by the sampler.
  WaterValues Water() const { return water_; }

 private:
  // An exchange the sampler closes with its own ACK or NAK.
  enum class Awaiting { kNothing, kModeAck, kCtdAck, kClockAck };

  void OnByte(char byte, int64_t nowMs) override;
  void OnTimer(int64_t nowMs) override;
  int64_t TimerDueMs() const override;
  void OnPowerUp(int64_t nowMs) override;

  void OnAsleepByte(char byte, int64_t nowMs);
  void OnCommandByte(char byte, int64_t nowMs);
  void OnMenuByte(char byte, int64_t nowMs);
  void RunCommand(const std::string& command, int64_t nowMs);
  void Dispatch(const std::string& name, const std::string& command, int64_t nowMs);
  bool TakeAcknowledgment(const std::string& command);

  void SetMode(const std::string& command, int64_t nowMs);
  void SendConfig(int64_t nowMs);
  void EchoWater(const std::string& command, int64_t nowMs);
  void StartSample(int64_t nowMs);
  void FinishSample(int64_t nowMs);
  void SendRecord(int64_t nowMs);
  void SetClock(const std::string& command, int64_t nowMs);

  void EnterMenu(int64_t nowMs);
  void RunMenuLine(int64_t nowMs);
  std::string MenuStatus(int64_t nowMs) const;

  ZolSettings settings_;
  RecordMaker records_;
  ZolState state_ = ZolState::kAsleep;
  int mode_ = 1;
  std::string command_;  // bytes of the command being received
  bool commandOverflow_ = false;
  int64_t lastByteMs_;
  int64_t powerUpMs_;
  int64_t clockBaseSeconds_;
  int64_t clockBaseMs_;
  int64_t sampleDoneMs_ = kNever;
  Awaiting awaiting_ = Awaiting::kNothing;
  WaterValues water_;
  WaterValues offered_;  // handed over, not yet acknowledged
  std::string lastRecord_;
  int sampleCounter_ = 0;
  int powerOnCounter_;
  std::string menuLine_;
};

}  // namespace zol::sim
