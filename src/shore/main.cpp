// zolshore: rebuilds the samplers' data files ashore from an MQTT broker.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "shore/shore_options.h"
#include "shore/shore_run.h"

int main(int argc, char** argv) {
  zol::shore::ShoreOptions options;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const std::string error = zol::shore::ParseShoreOptions(
      args, [](const char* name) -> const char* { return std::getenv(name); }, &options);
  if (options.help) {
    std::fputs(zol::shore::kShoreUsage, stdout);
    return 0;
  }
  if (!error.empty()) {
    std::fprintf(stderr, "zolshore: %s\n", error.c_str());
    return 1;
  }
  return zol::shore::RunShore(options);
}
