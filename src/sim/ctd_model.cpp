#include "sim/ctd_model.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "sim/text.h"

namespace zol::sim {
namespace {

constexpr size_t kMaxLine = 64;
constexpr std::string_view kPrompt = "S>";

// The name a command is known by (fault scopes use it too); "?" when unknown.
std::string CommandName(const std::string& lowered) {
  if (lowered.empty()) return "POKE";
  for (const char* known : {"pts", "pumpon", "pumpoff", "qs"}) {
    if (lowered == known) {
      std::string name = known;
      for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return name;
    }
  }
  return "?";
}

}  // namespace

const FaultCommands& CtdFaultCommands() {
  static const FaultCommands commands{{"POKE", "PTS", "PUMPON", "PUMPOFF", "QS"},
                                      {"PTS", "PUMPON", "PUMPOFF"}};
  return commands;
}

CtdModel::CtdModel(const CtdSettings& settings, FaultInjector faults, int64_t nowMs)
    : Instrument(std::move(faults)),
      settings_(settings),
      random_(settings.seed),
      phase_(random_.Unit() * 2.0 * std::numbers::pi),
      startMs_(nowMs) {}

void CtdModel::OnPowerUp(int64_t /*nowMs*/) {
  state_ = CtdState::kAsleep;
  pumpOn_ = false;
  line_.clear();
  lineOverflow_ = false;
}

void CtdModel::OnByte(char byte, int64_t nowMs) {
  state_ = CtdState::kAwake;  // any character wakes it and still counts
  if (byte == '\r') {
    std::string line = lineOverflow_ ? std::string("?") : line_;
    line_.clear();
    lineOverflow_ = false;
    RunCommand(line, nowMs);
  } else if (byte == '\n') {
    return;
  } else if (line_.size() < kMaxLine) {
    line_ += byte;
  } else {
    lineOverflow_ = true;
  }
}

void CtdModel::RunCommand(const std::string& line, int64_t nowMs) {
  std::string name = CommandName(Lower(line));
  if (VanishesOn(name)) return;
  std::string echo = settings_.echo && !line.empty() ? line + "\r\n" : "";
  std::string prompt(kPrompt);
  if (name == "POKE") {
    // Refusing the poke means no prompt: the CTD cannot be woken.
    Reply(name, Refuses(name) ? "\r\n?CMD\r\n" : "\r\n" + prompt, nowMs);
  } else if (name == "?" || Refuses(name)) {
    Reply(name, echo + "?CMD\r\n" + prompt, nowMs);
  } else if (name == "PTS") {
    CtdReading reading = Measure(nowMs);
    char text[96];
    std::snprintf(text, sizeof text, "%8.3f, %7.4f, %7.4f\r\n", reading.pressure,
                  reading.temperature, reading.salinity);
    Reply(name, echo + text + prompt, nowMs);
  } else if (name == "QS") {
    state_ = CtdState::kAsleep;
    pumpOn_ = false;  // powering down stops the pump
  } else {
    pumpOn_ = name == "PUMPON";
    Reply(name, echo + "\r\n" + prompt, nowMs);
  }
}

// A probe hanging at about 12 m in water that warms and freshens slowly;
// with the pump running it sees water drawn from a little deeper.
CtdReading CtdModel::Measure(int64_t nowMs) {
  double t = static_cast<double>(nowMs - startMs_) / 1000.0;
  auto wave = [&](double periodSeconds) {
    return std::sin(2.0 * std::numbers::pi * t / periodSeconds + phase_ + periodSeconds);
  };
  CtdReading reading;
  reading.pressure = 12.3 + 0.35 * wave(600) + 0.004 * random_.Signed();
  reading.temperature = 15.1 + 0.25 * wave(1500) + 0.0008 * random_.Signed();
  reading.salinity = 33.55 + 0.04 * wave(2100) + 0.0005 * random_.Signed();
  if (pumpOn_) {
    reading.temperature -= 0.015;
    reading.salinity += 0.002;
  }
  return reading;
}

}  // namespace zol::sim
