// Entry point of zolsim, the simulated ZOL and CTD.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/clock.h"
#include "sim/sim_options.h"
#include "sim/simulator.h"

int main(int argc, char** argv) {
  zol::sim::SimOptions options;
  std::string error;
  switch (zol::sim::ParseSimOptions(argc, argv, options, error)) {
    case zol::sim::ParseOutcome::kHelp:
      zol::sim::PrintSimUsage(stdout, argv[0]);
      return 0;
    case zol::sim::ParseOutcome::kError:
      std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", argv[0], error.c_str(), argv[0]);
      return 2;
    case zol::sim::ParseOutcome::kRun:
      break;
  }
  if (!options.seedGiven) {
    // Printed at start, so that an interesting run can be repeated.
    options.seed = static_cast<uint64_t>(zol::WallNow()) ^ static_cast<uint64_t>(getpid());
  }
  return zol::sim::Simulator(options).Run();
}
