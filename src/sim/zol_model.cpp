#include "sim/zol_model.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "sim/text.h"

namespace zol::sim {
namespace {

constexpr char kCtrlC = 3;
constexpr char kBackspace = 8;
constexpr char kDelete = 127;
// Longer commands than this are noise; they are answered as unknown.
constexpr size_t kMaxCommand = 200;
constexpr size_t kMaxMenuLine = 32;
// A CR opens the menu only when it comes alone, after this many gaps of
// silence; a CR right behind a command is a stray terminator.
constexpr int kMenuQuietGaps = 3;
constexpr std::string_view kMenuPrompt = "ZOL> ";

// The name a command is known by (fault scopes use it too); "?" when unknown.
std::string CommandName(const std::string& command) {
  for (const char* exact : {"W", "C", "TS", "SL", "SLP"}) {
    if (command == exact) return exact;
  }
  for (const char* prefix : {"MODE", "CTD", "RTC"}) {
    if (command.starts_with(std::string(prefix) + ",")) return prefix;
  }
  return "?";
}

std::string RefusalOf(const std::string& name) {
  if (name == "W" || name == "C") return "NAK\r\n";
  if (name == "?") return "NAK,CMD\r\n";
  return "NAK," + name + "\r\n";
}

// Whole seconds on the wire: 1 to 10 digits that fit in 32 unsigned bits.
bool ParseSeconds(const std::string& text, int64_t& value) {
  if (text.empty() || text.size() > 10) return false;
  value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + (c - '0');
  }
  return value > 0 && value <= 0xFFFFFFFFLL;
}

bool ParseValue(const std::string& text, float& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double parsed = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || std::fabs(parsed) > 1e6) {
    return false;
  }
  value = static_cast<float>(parsed);
  return true;
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(' ') - begin + 1);
}

}  // namespace

const FaultCommands& ZolFaultCommands() {
  static const FaultCommands commands{{"W", "MODE", "C", "CTD", "TS", "SL", "SLP", "RTC", "MENU"},
                                      {"MODE", "C", "CTD", "TS", "SL", "SLP", "RTC"}};
  return commands;
}

ZolModel::ZolModel(const ZolSettings& settings, FaultInjector faults, int64_t nowMs)
    : Instrument(std::move(faults)),
      settings_(settings),
      records_(settings.identity, settings.seed),
      lastByteMs_(nowMs),
      powerUpMs_(nowMs),
      clockBaseSeconds_(settings.clockSeconds),
      clockBaseMs_(nowMs),
      powerOnCounter_(static_cast<int>(settings.seed % 20)) {
  OnPowerUp(nowMs);
}

void ZolModel::OnPowerUp(int64_t nowMs) {
  // The clock and the sample counter live through a power cycle; the
  // protocol state and the last record do not.
  state_ = ZolState::kAsleep;
  mode_ = 1;
  command_.clear();
  commandOverflow_ = false;
  menuLine_.clear();
  awaiting_ = Awaiting::kNothing;
  sampleDoneMs_ = kNever;
  lastRecord_.clear();
  lastByteMs_ = nowMs - 1000 * settings_.gapMs;
  powerUpMs_ = nowMs;
  ++powerOnCounter_;
}

int64_t ZolModel::ClockSeconds(int64_t nowMs) const {
  return clockBaseSeconds_ + (nowMs - clockBaseMs_) / 1000;
}

void ZolModel::OnByte(char byte, int64_t nowMs) {
  int64_t quietMs = nowMs - lastByteMs_;
  lastByteMs_ = nowMs;
  switch (state_) {
    case ZolState::kAsleep:
      OnAsleepByte(byte, nowMs);
      break;
    case ZolState::kMenu:
      OnMenuByte(byte, nowMs);
      break;
    case ZolState::kAwake:
    case ZolState::kSampling:
      if (byte == '\r' && command_.empty() && !commandOverflow_ && state_ == ZolState::kAwake &&
          quietMs >= kMenuQuietGaps * settings_.gapMs) {
        EnterMenu(nowMs);
      } else {
        OnCommandByte(byte, nowMs);
      }
      break;
  }
}

// Asleep, the ZOL listens for the W that follows the break; everything
// else is line noise.
void ZolModel::OnAsleepByte(char byte, int64_t nowMs) {
  if (byte != 'W' || VanishesOn("W")) return;
  if (Refuses("W")) {
    Reply("W", RefusalOf("W"), nowMs);
    return;
  }
  state_ = ZolState::kAwake;
  Reply("W", "ACK\r\n", nowMs);
}

void ZolModel::OnCommandByte(char byte, int64_t nowMs) {
  bool pending = !command_.empty() || commandOverflow_;
  if (byte == kCtrlC) {
    command_.clear();
    commandOverflow_ = false;
  } else if (byte == '\r' || byte == '\n') {
    if (pending) RunCommand(std::exchange(command_, {}), nowMs);
  } else if (byte == 'W' && !pending) {
    RunCommand("W", nowMs);
  } else if (command_.size() < kMaxCommand) {
    command_ += byte;
  } else {
    commandOverflow_ = true;
  }
}

int64_t ZolModel::TimerDueMs() const {
  int64_t due = kNever;
  if (!command_.empty() || commandOverflow_) due = lastByteMs_ + settings_.gapMs;
  if (state_ == ZolState::kSampling) due = std::min(due, sampleDoneMs_);
  return due;
}

void ZolModel::OnTimer(int64_t nowMs) {
  if ((!command_.empty() || commandOverflow_) && nowMs >= lastByteMs_ + settings_.gapMs) {
    RunCommand(std::exchange(command_, {}), nowMs);
  }
  if (state_ == ZolState::kSampling && nowMs >= sampleDoneMs_) FinishSample(nowMs);
}

void ZolModel::RunCommand(const std::string& command, int64_t nowMs) {
  bool overflow = std::exchange(commandOverflow_, false);
  if (!overflow && TakeAcknowledgment(command)) return;
  std::string name = overflow ? "?" : CommandName(command);
  if (VanishesOn(name)) return;
  if (Refuses(name)) {
    Reply(name, RefusalOf(name), nowMs);
    return;
  }
  Dispatch(name, command, nowMs);
}

// The sampler closes the MODE, CTD and RTC set exchanges with ACK or NAK.
// Values handed over count only once acknowledged.
bool ZolModel::TakeAcknowledgment(const std::string& command) {
  Awaiting awaited = std::exchange(awaiting_, Awaiting::kNothing);
  if (command != "ACK" && command != "NAK") return false;
  if (awaited == Awaiting::kCtdAck && command == "ACK") water_ = offered_;
  return true;
}

void ZolModel::Dispatch(const std::string& name, const std::string& command, int64_t nowMs) {
  if (name == "W") {
    Reply(name, "ACK\r\n", nowMs);
  } else if (name == "MODE") {
    SetMode(command, nowMs);
  } else if (name == "C") {
    SendConfig(nowMs);
  } else if (name == "CTD") {
    EchoWater(command, nowMs);
  } else if (name == "TS") {
    StartSample(nowMs);
  } else if (name == "SL") {
    SendRecord(nowMs);
  } else if (name == "SLP") {
    state_ = ZolState::kAsleep;
    sampleDoneMs_ = kNever;
    Reply(name, "ACK,SLP\r\n", nowMs);
  } else if (command == "RTC,?") {
    Reply(name, "RTC,?," + std::to_string(ClockSeconds(nowMs)) + "\r\n", nowMs);
  } else if (name == "RTC") {
    SetClock(command, nowMs);
  } else {
    Reply(name, RefusalOf(name), nowMs);
  }
}

void ZolModel::SetMode(const std::string& command, int64_t nowMs) {
  if (command != "MODE,1" && command != "MODE,2") {
    Reply("MODE", RefusalOf("MODE"), nowMs);
    return;
  }
  mode_ = command.back() - '0';
  awaiting_ = Awaiting::kModeAck;
  Reply("MODE", "ACK," + command + "\r\n", nowMs);
}

void ZolModel::SendConfig(int64_t nowMs) {
  std::string text;
  for (const std::string& line : records_.ConfigLines(mode_, ClockSeconds(nowMs))) {
    text += line + "\r\n";
  }
  Reply("C", std::move(text), nowMs);
}

// "CTD,<secs>,<T>,<S>,<P>" comes back exactly as received, for the sampler
// to check field by field.
void ZolModel::EchoWater(const std::string& command, int64_t nowMs) {
  std::vector<std::string_view> views = Split(command, ',');
  std::vector<std::string> fields(views.begin(), views.end());
  int64_t seconds = 0;
  WaterValues values;
  if (fields.size() != 5 || !ParseSeconds(fields[1], seconds) ||
      !ParseValue(fields[2], values.temperature) || !ParseValue(fields[3], values.salinity) ||
      !ParseValue(fields[4], values.pressure)) {
    Reply("CTD", RefusalOf("CTD"), nowMs);
    return;
  }
  offered_ = values;
  awaiting_ = Awaiting::kCtdAck;
  Reply("CTD", command + "\r\n", nowMs);
}

void ZolModel::StartSample(int64_t nowMs) {
  if (state_ == ZolState::kSampling) {
    Reply("TS", RefusalOf("TS"), nowMs);
    return;
  }
  state_ = ZolState::kSampling;
  sampleDoneMs_ = nowMs + settings_.identity.measureMs;
  Reply("TS", "ACK,TS,CMD\r\n", nowMs);
}

void ZolModel::FinishSample(int64_t nowMs) {
  SampleContext context;
  context.clockSeconds = ClockSeconds(nowMs);
  context.elapsedSeconds = static_cast<double>(nowMs - powerUpMs_) / 1000.0;
  context.temperature = water_.temperature;
  context.salinity = water_.salinity;
  context.pressure = water_.pressure;
  context.sampleCounter = ++sampleCounter_;
  context.powerOnCounter = powerOnCounter_;
  lastRecord_ = records_.MakeRecord(context);
  state_ = ZolState::kAwake;
  sampleDoneMs_ = kNever;
  Reply("TS", "ACK,TS,DAT\r\n", nowMs);
}

void ZolModel::SendRecord(int64_t nowMs) {
  if (state_ == ZolState::kSampling || lastRecord_.empty()) {
    Reply("SL", RefusalOf("SL"), nowMs);  // nothing measured yet
    return;
  }
  Reply("SL", lastRecord_ + "\r\n", nowMs);
}

void ZolModel::SetClock(const std::string& command, int64_t nowMs) {
  int64_t seconds = 0;
  if (!ParseSeconds(command.substr(4), seconds)) {
    Reply("RTC", RefusalOf("RTC"), nowMs);
    return;
  }
  clockBaseSeconds_ = seconds;
  clockBaseMs_ = nowMs;
  awaiting_ = Awaiting::kClockAck;
  Reply("RTC", "ACK,RTC,SET," + std::to_string(seconds) + "\r\n", nowMs);
}

void ZolModel::EnterMenu(int64_t nowMs) {
  state_ = ZolState::kMenu;
  menuLine_.clear();
  Reply("MENU",
        "\r\nZOL MENU - type help for the commands, CTRL+C to leave\r\n" + std::string(kMenuPrompt),
        nowMs);
}

// Every key redraws the prompt line, so that whatever the menu sends first
// holds the '>' that tells a sampler the ZOL sits in its menu.
void ZolModel::OnMenuByte(char byte, int64_t nowMs) {
  if (byte == kCtrlC) {
    state_ = ZolState::kAwake;
    Reply("MENU", "\r\n", nowMs);
  } else if (byte == '\r') {
    RunMenuLine(nowMs);
  } else if (byte == kBackspace || byte == kDelete) {
    if (!menuLine_.empty()) menuLine_.pop_back();
    Reply("MENU", "\r" + std::string(kMenuPrompt) + menuLine_ + " \b", nowMs);
  } else if (byte >= ' ' && byte < kDelete) {
    if (menuLine_.size() < kMaxMenuLine) menuLine_ += byte;
    Reply("MENU", "\r" + std::string(kMenuPrompt) + menuLine_, nowMs);
  }
}

void ZolModel::RunMenuLine(int64_t nowMs) {
  std::string line = Lower(Trim(std::exchange(menuLine_, {})));
  std::string out;
  if (line == "help" || line == "?") {
    out = "Commands: help, status, clock, exit (or CTRL+C)\r\n";
  } else if (line == "status") {
    out = MenuStatus(nowMs);
  } else if (line == "clock") {
    int64_t clock = ClockSeconds(nowMs);
    out = "Clock " + UtcDateTime(clock) + " UTC (" + std::to_string(clock) + ")\r\n";
  } else if (line == "exit") {
    state_ = ZolState::kAwake;
    Reply("MENU", "\r\nLeaving menu\r\n", nowMs);
    return;
  } else if (!line.empty()) {
    out = "Unknown command '" + line + "' - type help\r\n";
  }
  Reply("MENU", "\r\n" + out + std::string(kMenuPrompt), nowMs);
}

std::string ZolModel::MenuStatus(int64_t nowMs) const {
  char text[320];
  std::snprintf(
      text, sizeof text,
      "Sensor %s, serial %04d, sample mode %d\r\n"
      "Measure time %.1f s, samples taken %d, power-ups %d\r\n"
      "Water values T %.4f S %.4f P %.2f\r\n"
      "Clock %s UTC (%lld)\r\n",
      std::string(SensorKindName(settings_.identity.kind)).c_str(), settings_.identity.serialNumber,
      mode_, static_cast<double>(settings_.identity.measureMs) / 1000.0, sampleCounter_,
      powerOnCounter_, static_cast<double>(water_.temperature),
      static_cast<double>(water_.salinity), static_cast<double>(water_.pressure),
      UtcDateTime(ClockSeconds(nowMs)).c_str(), static_cast<long long>(ClockSeconds(nowMs)));
  return text;
}

}  // namespace zol::sim
