#include "sim/sim_options.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "sim/ctd_model.h"
#include "sim/zol_model.h"

namespace zol::sim {
namespace {

enum OptionId {
  kKind = 1000,
  kMeasureSeconds,
  kSeed,
  kCtdEcho,
  kVerbose,
  kNoCtd,
  kZolLink,
  kCtdLink,
  kZolPort,
  kCtdPort,
  kExitWithPid,
  kZolFault,
  kCtdFault,
  kGapMs,
  kClockOffset,
  kSerial,
  kHelp,
};

const option kLongOptions[] = {
    {"kind", required_argument, nullptr, kKind},
    {"measure-seconds", required_argument, nullptr, kMeasureSeconds},
    {"seed", required_argument, nullptr, kSeed},
    {"ctd-echo", no_argument, nullptr, kCtdEcho},
    {"verbose", no_argument, nullptr, kVerbose},
    {"no-ctd", no_argument, nullptr, kNoCtd},
    {"zol-link", required_argument, nullptr, kZolLink},
    {"ctd-link", required_argument, nullptr, kCtdLink},
    {"zol-port", required_argument, nullptr, kZolPort},
    {"ctd-port", required_argument, nullptr, kCtdPort},
    {"exit-with-pid", required_argument, nullptr, kExitWithPid},
    {"zol-fault", required_argument, nullptr, kZolFault},
    {"ctd-fault", required_argument, nullptr, kCtdFault},
    {"gap-ms", required_argument, nullptr, kGapMs},
    {"clock-offset", required_argument, nullptr, kClockOffset},
    {"serial", required_argument, nullptr, kSerial},
    {"help", no_argument, nullptr, kHelp},
    {nullptr, 0, nullptr, 0},
};

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

// Applies one option; false with `error` set when its value is refused.
bool ApplyOption(int id, const char* value, SimOptions& options, std::string& error) {
  long long number = 0;
  auto integer = [&](long long low, long long high) {
    if (ParseInteger(value, low, high, number)) return true;
    error = "bad value '" + std::string(value) + "' (" + std::to_string(low) + " to " +
            std::to_string(high) + " expected)";
    return false;
  };
  switch (id) {
    case kKind:
      if (std::string_view(value) == "KIRN" || std::string_view(value) == "PADO") {
        options.kind = value[0] == 'K' ? SensorKind::kKirn : SensorKind::kPado;
        return true;
      }
      error = "--kind takes KIRN or PADO";
      return false;
    case kMeasureSeconds:
      if (ParseSeconds(value, options.measureSeconds)) return true;
      error = "--measure-seconds takes 0 to 3600 seconds";
      return false;
    case kSeed:
      if (!integer(0, INT64_MAX)) return false;
      options.seed = static_cast<uint64_t>(number);
      options.seedGiven = true;
      return true;
    case kZolPort:
    case kCtdPort:
      if (!integer(1, 256)) return false;
      (id == kZolPort ? options.zolCom : options.ctdCom) = static_cast<int>(number);
      return true;
    case kExitWithPid:
      if (!integer(1, INT32_MAX)) return false;
      options.exitWithPid = static_cast<pid_t>(number);
      return true;
    case kGapMs:
      if (!integer(5, 1000)) return false;
      options.gapMs = static_cast<int>(number);
      return true;
    case kClockOffset:
      if (!integer(-400000000, 400000000)) return false;
      options.clockOffsetSeconds = number;
      return true;
    case kSerial:
      if (!integer(1, 9999)) return false;
      options.serialNumber = static_cast<int>(number);
      return true;
    case kZolFault:
      return ParseFaults(value, ZolFaultCommands(), options.zolFaults, error);
    case kCtdFault:
      return ParseFaults(value, CtdFaultCommands(), options.ctdFaults, error);
    case kZolLink:
    case kCtdLink:
      if (*value == '\0') {
        error = "a link needs a path";
        return false;
      }
      (id == kZolLink ? options.zolLink : options.ctdLink) = value;
      return true;
    case kCtdEcho:
      options.ctdEcho = true;
      return true;
    case kVerbose:
      options.verbose = true;
      return true;
    case kNoCtd:
      options.noCtd = true;
      return true;
    default:
      error = "unknown option";
      return false;
  }
}

}  // namespace

ParseOutcome ParseSimOptions(int argc, char** argv, SimOptions& options, std::string& error) {
  opterr = 0;  // the messages are ours
  optind = 0;  // a full restart of the parser, so that it can run more than once
  for (;;) {
    int index = -1;
    int id = getopt_long(argc, argv, "", kLongOptions, &index);
    if (id == -1) break;
    if (id == kHelp) return ParseOutcome::kHelp;
    if (id == '?' || id == ':') {
      int word = optind - 1;
      error = "unknown option or missing value";
      if (word >= 1 && word < argc) error += std::string(": ") + argv[word];
      return ParseOutcome::kError;
    }
    if (!ApplyOption(id, optarg, options, error)) {
      error = "--" + std::string(kLongOptions[index].name) + ": " + error;
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
