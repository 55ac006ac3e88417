#include "sim/sim_options.h"

#include <getopt.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string_view>
#include <type_traits>

#include "sim/ctd_model.h"
#include "sim/zol_model.h"

namespace zol::sim {
namespace {

bool ParseInteger(const char* text, long long low, long long high, long long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

bool ParseSeconds(const char* text, double& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0' && std::isfinite(value) && value >= 0.0 &&
         value <= 3600.0;
}

// Stores an option's value; false with `error` set when it is refused.
// `number` is the value of a whole-number option, already in its range.
using ApplyOption = bool (*)(const char* value, long long number, SimOptions& options,
                             std::string& error);

struct OptionRule {
  const char* name;
  int argument;  // no_argument or required_argument
  // A whole-number option's range (low < high); 0, 0 for the others.
  long long low;
  long long high;
  ApplyOption apply;  // null for --help
};

bool SetKind(const char* value, long long, SimOptions& options, std::string& error) {
  if (std::string_view(value) == "KIRN" || std::string_view(value) == "PADO") {
    options.kind = value[0] == 'K' ? SensorKind::kKirn : SensorKind::kPado;
    return true;
  }
  error = "--kind takes KIRN or PADO";
  return false;
}

bool SetMeasureSeconds(const char* value, long long, SimOptions& options, std::string& error) {
  if (ParseSeconds(value, options.measureSeconds)) return true;
  error = "--measure-seconds takes 0 to 3600 seconds";
  return false;
}

bool SetLink(const char* value, std::string& link, std::string& error) {
  if (*value == '\0') {
    error = "a link needs a path";
    return false;
  }
  link = value;
  return true;
}

// An option without a value: its flag set.
template <bool SimOptions::*kFlag>
bool SetFlag(const char*, long long, SimOptions& options, std::string&) {
  options.*kFlag = true;
  return true;
}

// A whole number, already in the range of its rule.
template <auto kField>
bool SetNumber(const char*, long long number, SimOptions& options, std::string&) {
  options.*kField = static_cast<std::remove_reference_t<decltype(options.*kField)>>(number);
  return true;
}

const OptionRule kRules[] = {
    {"kind", required_argument, 0, 0, SetKind},
    {"measure-seconds", required_argument, 0, 0, SetMeasureSeconds},
    {"seed", required_argument, 0, INT64_MAX,
     [](const char*, long long number, SimOptions& options, std::string&) {
       options.seed = static_cast<uint64_t>(number);
       options.seedGiven = true;
       return true;
     }},
    {"ctd-echo", no_argument, 0, 0, SetFlag<&SimOptions::ctdEcho>},
    {"verbose", no_argument, 0, 0, SetFlag<&SimOptions::verbose>},
    {"no-ctd", no_argument, 0, 0, SetFlag<&SimOptions::noCtd>},
    {"zol-link", required_argument, 0, 0,
     [](const char* value, long long, SimOptions& options, std::string& error) {
       return SetLink(value, options.zolLink, error);
     }},
    {"ctd-link", required_argument, 0, 0,
     [](const char* value, long long, SimOptions& options, std::string& error) {
       return SetLink(value, options.ctdLink, error);
     }},
    {"zol-port", required_argument, 1, 256, SetNumber<&SimOptions::zolCom>},
    {"ctd-port", required_argument, 1, 256, SetNumber<&SimOptions::ctdCom>},
    {"exit-with-pid", required_argument, 1, INT32_MAX, SetNumber<&SimOptions::exitWithPid>},
    {"zol-fault", required_argument, 0, 0,
     [](const char* value, long long, SimOptions& options, std::string& error) {
       return ParseFaults(value, ZolFaultCommands(), options.zolFaults, error);
     }},
    {"ctd-fault", required_argument, 0, 0,
     [](const char* value, long long, SimOptions& options, std::string& error) {
       return ParseFaults(value, CtdFaultCommands(), options.ctdFaults, error);
     }},
    {"gap-ms", required_argument, 5, 1000, SetNumber<&SimOptions::gapMs>},
    {"clock-offset", required_argument, -400000000, 400000000,
     SetNumber<&SimOptions::clockOffsetSeconds>},
    {"serial", required_argument, 1, 9999, SetNumber<&SimOptions::serialNumber>},
    {"help", no_argument, 0, 0, nullptr},
};
constexpr int kRuleCount = static_cast<int>(std::size(kRules));
// getopt_long's value of the rule at index i: clear of every character.
constexpr int kFirstId = 1000;

// The rules as getopt_long takes them, ended by a zero entry.
std::array<option, kRuleCount + 1> LongOptions() {
  std::array<option, kRuleCount + 1> table{};
  for (int i = 0; i < kRuleCount; ++i)
    table[i] = {kRules[i].name, kRules[i].argument, nullptr, kFirstId + i};
  return table;
}

// Applies one option; false with `error` set when its value is refused.
bool ApplyRule(const OptionRule& rule, const char* value, SimOptions& options, std::string& error) {
  long long number = 0;
  if (rule.low < rule.high && !ParseInteger(value, rule.low, rule.high, number)) {
    error = "bad value '" + std::string(value) + "' (" + std::to_string(rule.low) + " to " +
            std::to_string(rule.high) + " expected)";
    return false;
  }
  return rule.apply(value, number, options, error);
}

}  // namespace

ParseOutcome ParseSimOptions(int argc, char** argv, SimOptions& options, std::string& error) {
  static const std::array<option, kRuleCount + 1> longOptions = LongOptions();
  opterr = 0;  // the messages are ours
  optind = 0;  // a full restart of the parser, so that it can run more than once
  for (;;) {
    int index = -1;
    int id = getopt_long(argc, argv, "", longOptions.data(), &index);
    if (id == -1) break;
    if (id < kFirstId || id >= kFirstId + kRuleCount) {
      int word = optind - 1;
      error = "unknown option or missing value";
      if (word >= 1 && word < argc) error += std::string(": ") + argv[word];
      return ParseOutcome::kError;
    }
    const OptionRule& rule = kRules[id - kFirstId];
    if (rule.apply == nullptr) return ParseOutcome::kHelp;
    if (!ApplyRule(rule, optarg, options, error)) {
      error = "--" + std::string(rule.name) + ": " + error;
      return ParseOutcome::kError;
    }
  }
  if (optind < argc) {
    error = "unexpected argument: " + std::string(argv[optind]);
    return ParseOutcome::kError;
  }
  if (!options.noCtd && options.zolCom == options.ctdCom) {
    error = "--zol-port and --ctd-port must differ";
    return ParseOutcome::kError;
  }
  return ParseOutcome::kRun;
}

void PrintSimUsage(std::FILE* out, const char* program) {
  std::fprintf(out,
               "Usage: %s [options]\n"
               "Simulates a ZOL (and a CTD) on pseudo-terminals for zolsampler.\n"
               "Prints ZOLSAMPLER_COM<n>=<device> lines to use, then runs until\n"
               "SIGINT or SIGTERM (or --exit-with-pid).\n"
               "\n"
               "  --kind KIRN|PADO        sensor kind of the ZOL (KIRN)\n"
               "  --measure-seconds N     time a measurement takes, decimals allowed (10)\n"
               "  --serial N              the ZOL's serial number, 1..9999 (42)\n"
               "  --clock-offset SECONDS  start the ZOL clock this far from the PC's (0)\n"
               "  --gap-ms N              silence that ends a ZOL command, 5..1000 (30)\n"
               "  --no-ctd                simulate the ZOL only\n"
               "  --ctd-echo              the CTD echoes each command line first\n"
               "  --zol-port N            print the ZOL setting as ZOLSAMPLER_COM<N> (1)\n"
               "  --ctd-port N            the same for the CTD (2)\n"
               "  --zol-link PATH         keep a symbolic link PATH to the ZOL's device\n"
               "  --ctd-link PATH         the same for the CTD; links go on exit\n"
               "  --exit-with-pid PID     end when process PID has ended\n"
               "  --seed N                seed for values and faults (printed when not given)\n"
               "  --verbose               log all traffic to standard error\n"
               "  --help                  this text\n"
               "\n"
               "Faults: --zol-fault=LIST and --ctd-fault=LIST, LIST being\n"
               "KIND[:ARG][@CMD[+CMD...]][,...]; a fault applies to the replies of the\n"
               "commands named after '@', to all when none are named:\n"
               "  silent        answers nothing\n"
               "  late:MS       every reply MS milliseconds late\n"
               "  nak           refuses: \"NAK\" to C and W, \"NAK,<cmd>\" to the ZOL's other\n"
               "                commands, \"?CMD\" from the CTD (default scope: all but W,\n"
               "                MENU and POKE)\n"
               "  garbage       replies replaced by random characters (line ends kept)\n"
               "  nul           replies replaced by NUL bytes (line ends kept)\n"
               "  overlong[:N]  every reply line padded to N characters (1500)\n"
               "  drop:P        each reply lost with probability P (0..1)\n"
               "  vanish:S      at the first command in scope the device goes away and\n"
               "                comes back at the same link after S seconds, once\n"
               "ZOL commands: W MODE C CTD TS SL SLP RTC MENU\n"
               "CTD commands: POKE (the CR wake-up) PTS PUMPON PUMPOFF QS\n"
               "Example: --zol-fault=late:2500@TS,drop:0.2@SL --ctd-fault=nak\n",
               program);
}

}  // namespace zol::sim
