#include "sim/instrument.h"

#include <algorithm>

namespace zol::sim {

void Instrument::Feed(std::string_view bytes, int64_t nowMs) {
  for (char byte : bytes) {
    if (Vanished()) return;  // a vanished instrument hears nothing more
    OnByte(byte, nowMs);
  }
}

std::string Instrument::Poll(int64_t nowMs) {
  if (Vanished()) {
    outbox_.clear();  // what it had still to say went with it
    return {};
  }
  while (!Vanished() && TimerDueMs() <= nowMs)
    OnTimer(nowMs);
  std::string out;
  while (!outbox_.empty() && outbox_.front().dueMs <= nowMs) {
    out += outbox_.front().bytes;
    outbox_.pop_front();
  }
  return out;
}

int64_t Instrument::NextWakeMs() const {
  if (Vanished()) return kNever;
  int64_t next = TimerDueMs();
  if (!outbox_.empty()) next = std::min(next, outbox_.front().dueMs);
  return next;
}

std::optional<double> Instrument::TakeVanish() {
  if (!vanishSeconds_ || vanishReported_) return std::nullopt;
  vanishReported_ = true;
  outbox_.clear();
  return vanishSeconds_;
}

void Instrument::PowerUp(int64_t nowMs) {
  vanishSeconds_.reset();
  vanishReported_ = false;
  outbox_.clear();
  OnPowerUp(nowMs);
}

void Instrument::Reply(std::string_view command, std::string text, int64_t nowMs) {
  std::optional<ShapedReply> shaped = faults_.Shape(command, std::move(text));
  if (!shaped || shaped->bytes.empty()) return;
  int64_t due = nowMs + shaped->delayMs;
  // A later reply never overtakes an earlier one on the line.
  if (!outbox_.empty()) due = std::max(due, outbox_.back().dueMs);
  outbox_.push_back({due, std::move(shaped->bytes)});
}

bool Instrument::VanishesOn(std::string_view command) {
  std::optional<double> seconds = faults_.VanishOn(command);
  if (seconds) vanishSeconds_ = seconds;
  return seconds.has_value();
}

}  // namespace zol::sim
