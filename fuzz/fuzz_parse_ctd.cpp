// Any CTD reply line through the parse: ends, and reports three values only
// when it read three.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_rig.h"
#include "link/ctd_link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zol::fuzz::FuzzRig rig;
  const std::string line(reinterpret_cast<const char*>(data), size);
  int64_t time = -1;
  float temp = 0, sal = 0, pressure = 0;
  const int result = zol::ParseCtdDat(line.c_str(), &time, &temp, &sal, &pressure, 1);
  zol::fuzz::Require(result == 0 || result == 1);
  if (result == 1) zol::fuzz::Require(time == rig.clock.WallSeconds());
  time = -1;
  zol::fuzz::Require(zol::ParseCtdDat(line.c_str(), &time, &temp, &sal, &pressure, 0) == 0);
  zol::fuzz::Require(time == -1);
  return 0;
}
