// What the simulated instruments have in common: they are fed the bytes they
// receive with the time, and hand back the bytes to send when these fall due.
// No I/O happens here, so the protocol engines run under test without ptys
// and without real waits. Times are milliseconds on a clock that never steps.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "sim/faults.h"

namespace zol::sim {

inline constexpr int64_t kNever = INT64_MAX;

class Instrument {
 public:
  explicit Instrument(FaultInjector faults) : faults_(std::move(faults)) {}
  virtual ~Instrument() = default;
  Instrument(const Instrument&) = delete;
  Instrument& operator=(const Instrument&) = delete;

  // Bytes received at nowMs.
  void Feed(std::string_view bytes, int64_t nowMs);
  // Runs whatever has fallen due by nowMs; returns the bytes to send now.
  std::string Poll(int64_t nowMs);
  // When Poll next has something to do (kNever when nothing is pending).
  int64_t NextWakeMs() const;
  // Seconds the instrument stays away, reported once when it has just
  // vanished; its pending output is lost.
  std::optional<double> TakeVanish();
  // Back after vanishing: a fresh power-up.
  void PowerUp(int64_t nowMs);

 protected:
  virtual void OnByte(char byte, int64_t nowMs) = 0;
  // Called by Poll while TimerDueMs() has come.
  virtual void OnTimer(int64_t /*nowMs*/) {}
  virtual int64_t TimerDueMs() const { return kNever; }
  virtual void OnPowerUp(int64_t nowMs) = 0;

  // Queues `text` as the reply to `command`, after the faults have shaped it.
  void Reply(std::string_view command, std::string text, int64_t nowMs);
  bool Refuses(std::string_view command) const { return faults_.Refuses(command); }
  // True when `command` makes the instrument vanish instead of answering.
  bool VanishesOn(std::string_view command);
  bool Vanished() const { return vanishSeconds_.has_value(); }

 private:
  struct Pending {
    int64_t dueMs;
    std::string bytes;
  };

  FaultInjector faults_;
  std::deque<Pending> outbox_;  // in the order the bytes go out
  std::optional<double> vanishSeconds_;
  bool vanishReported_ = false;
};

}  // namespace zol::sim
