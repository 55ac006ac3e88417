// Fault injection: an instrument that stays silent, answers late, refuses,
// sends garbage, NUL bytes or overlong lines, loses replies, or goes away for
// a while. Faults are given as a list "KIND[:ARG][@CMD[+CMD...]],..." and each
// applies to the replies of the commands in its scope (all when none named).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_random.h"

namespace zol::sim {

enum class FaultKind { kSilent, kLate, kNak, kGarbage, kNul, kOverlong, kDrop, kVanish };

struct Fault {
  FaultKind kind = FaultKind::kSilent;
  // late: milliseconds; overlong: line length; drop: probability; vanish: seconds.
  double value = 0.0;
  // Upper-case command names; empty means every command.
  std::vector<std::string> scope;
};

// The command names an instrument's faults may be scoped to.
struct FaultCommands {
  std::vector<std::string> all;
  // Commands a plain "nak" refuses: those with a refusal in their protocol.
  std::vector<std::string> refusable;
};

// Length an "overlong" line is padded to unless the fault names one.
inline constexpr int kDefaultOverlongLength = 1500;

// Parses a fault list. On failure returns false and says why in `error`.
bool ParseFaults(std::string_view text, const FaultCommands& commands, std::vector<Fault>& faults,
                 std::string& error);

// A reply as the faults leave it.
struct ShapedReply {
  int64_t delayMs = 0;
  std::string bytes;
};

class FaultInjector {
 public:
  FaultInjector() : random_(0) {}
  FaultInjector(std::vector<Fault> faults, uint64_t seed);

  bool Refuses(std::string_view command) const;
  // Seconds the instrument stays away when `command` makes it vanish. A
  // vanish fault fires once per run.
  std::optional<double> VanishOn(std::string_view command);
  // The reply to `command` after the faults, or nothing when it is lost.
  std::optional<ShapedReply> Shape(std::string_view command, std::string text);

 private:
  static bool InScope(const Fault& fault, std::string_view command);
  void Garble(std::string& text);

  std::vector<Fault> faults_;
  std::vector<bool> fired_;
  SimRandom random_;
};

}  // namespace zol::sim
