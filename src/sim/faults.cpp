#include "sim/faults.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "sim/text.h"

namespace zol::sim {
namespace {

struct KindInfo {
  std::string_view name;
  FaultKind kind;
  enum { kNone, kOptional, kRequired } argument;
  double low;
  double high;
  double defaultValue;
};

// Limits keep the values meaningful: a delay of ten minutes is already far
// beyond every timeout of the sampler.
constexpr KindInfo kKinds[] = {
    {"silent", FaultKind::kSilent, KindInfo::kNone, 0, 0, 0},
    {"late", FaultKind::kLate, KindInfo::kRequired, 0, 600000, 0},
    {"nak", FaultKind::kNak, KindInfo::kNone, 0, 0, 0},
    {"garbage", FaultKind::kGarbage, KindInfo::kNone, 0, 0, 0},
    {"nul", FaultKind::kNul, KindInfo::kNone, 0, 0, 0},
    {"overlong", FaultKind::kOverlong, KindInfo::kOptional, 1025, 65536, kDefaultOverlongLength},
    {"drop", FaultKind::kDrop, KindInfo::kRequired, 0, 1, 0},
    {"vanish", FaultKind::kVanish, KindInfo::kRequired, 0.001, 3600, 0},
};

bool ParseNumber(std::string_view text, double& value) {
  std::string copy(text);
  if (copy.empty() || std::isspace(static_cast<unsigned char>(copy[0]))) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(copy.c_str(), &end);
  return errno == 0 && *end == '\0' && std::isfinite(value);
}

bool ParseScope(std::string_view text, const FaultCommands& commands, Fault& fault,
                std::string& error) {
  for (std::string_view name : Split(text, '+')) {
    std::string upper = Upper(name);
    if (std::find(commands.all.begin(), commands.all.end(), upper) == commands.all.end()) {
      error = "unknown command '" + std::string(name) + "' in fault scope";
      return false;
    }
    fault.scope.push_back(upper);
  }
  return true;
}

bool ParseOne(std::string_view item, const FaultCommands& commands, Fault& fault,
              std::string& error) {
  size_t at = item.find('@');
  std::string_view head = item.substr(0, at);
  size_t colon = head.find(':');
  std::string_view name = head.substr(0, colon);
  const KindInfo* info = nullptr;
  for (const KindInfo& candidate : kKinds) {
    if (candidate.name == name) info = &candidate;
  }
  if (info == nullptr) {
    error = "unknown fault '" + std::string(name) + "'";
    return false;
  }
  fault.kind = info->kind;
  fault.value = info->defaultValue;
  if (colon == std::string_view::npos) {
    if (info->argument == KindInfo::kRequired) {
      error = "fault '" + std::string(name) + "' needs a value (" + std::string(name) + ":N)";
      return false;
    }
  } else {
    double value = 0;
    if (info->argument == KindInfo::kNone || !ParseNumber(head.substr(colon + 1), value) ||
        value < info->low || value > info->high) {
      error = "bad value in fault '" + std::string(head) + "'";
      return false;
    }
    fault.value = value;
  }
  if (at != std::string_view::npos) return ParseScope(item.substr(at + 1), commands, fault, error);
  if (fault.kind == FaultKind::kNak) fault.scope = commands.refusable;
  return true;
}

}  // namespace

bool ParseFaults(std::string_view text, const FaultCommands& commands, std::vector<Fault>& faults,
                 std::string& error) {
  for (std::string_view item : Split(text, ',')) {
    Fault fault;
    if (!ParseOne(item, commands, fault, error)) return false;
    faults.push_back(std::move(fault));
  }
  return true;
}

FaultInjector::FaultInjector(std::vector<Fault> faults, uint64_t seed)
    : faults_(std::move(faults)), fired_(faults_.size(), false), random_(seed) {}

bool FaultInjector::InScope(const Fault& fault, std::string_view command) {
  return fault.scope.empty() ||
         std::find(fault.scope.begin(), fault.scope.end(), command) != fault.scope.end();
}

bool FaultInjector::Refuses(std::string_view command) const {
  return std::any_of(faults_.begin(), faults_.end(), [&](const Fault& fault) {
    return fault.kind == FaultKind::kNak && InScope(fault, command);
  });
}

std::optional<double> FaultInjector::VanishOn(std::string_view command) {
  for (size_t i = 0; i < faults_.size(); ++i) {
    if (faults_[i].kind == FaultKind::kVanish && !fired_[i] && InScope(faults_[i], command)) {
      fired_[i] = true;
      return faults_[i].value;
    }
  }
  return std::nullopt;
}

// Printable characters other than '>', so that garbage never passes for a
// prompt; line ends stay where they were.
void FaultInjector::Garble(std::string& text) {
  static constexpr std::string_view kAlphabet =
      "!\"#$%&'()*+,-./0123456789:;<=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`"
      "abcdefghijklmnopqrstuvwxyz{|}~";
  for (char& c : text) {
    if (c != '\r' && c != '\n') c = kAlphabet[random_.Below(kAlphabet.size())];
  }
}

namespace {

void ReplaceWithNul(std::string& text) {
  for (char& c : text) {
    if (c != '\r' && c != '\n') c = '\0';
  }
}

// Pads every line of the text to `length` characters.
void Lengthen(std::string& text, size_t length) {
  std::string out;
  size_t lineLength = 0;
  auto pad = [&] {
    if (lineLength > 0 && lineLength < length) out.append(length - lineLength, 'X');
    lineLength = 0;
  };
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      pad();
    } else {
      ++lineLength;
    }
    out.push_back(c);
  }
  pad();
  text = std::move(out);
}

}  // namespace

std::optional<ShapedReply> FaultInjector::Shape(std::string_view command, std::string text) {
  ShapedReply reply;
  for (const Fault& fault : faults_) {
    if (!InScope(fault, command)) continue;
    switch (fault.kind) {
      case FaultKind::kSilent:
        return std::nullopt;
      case FaultKind::kDrop:
        // Drawn for every reply in scope, so that the sequence of losses
        // depends on the seed and the traffic only.
        if (random_.Unit() < fault.value) return std::nullopt;
        break;
      case FaultKind::kLate:
        reply.delayMs += std::llround(fault.value);
        break;
      case FaultKind::kGarbage:
        Garble(text);
        break;
      case FaultKind::kNul:
        ReplaceWithNul(text);
        break;
      case FaultKind::kOverlong:
        Lengthen(text, static_cast<size_t>(fault.value));
        break;
      case FaultKind::kNak:
      case FaultKind::kVanish:
        break;  // acted on by the instrument, not on its replies
    }
  }
  reply.bytes = std::move(text);
  return reply;
}

}  // namespace zol::sim
