// One complete sample cycle: wake the ZOL, hand it the water's temperature,
// salinity and pressure, measure, fetch and store the record, sleep; with
// the pump option a second sample with the CTD pump on. Every step is
// reported as a step line on the console and in the log file.
#pragma once

#include <string>

namespace zol {

// What a cycle achieved: the records that reached their file, and the first
// step that failed ("Take Sample ERROR"), empty when none did.
struct CycleOutcome {
  int recordsStored = 0;
  std::string firstError;
};

// Runs one cycle over SamplerState. The caller holds the cycle lock and has
// set nowTime (the Waking line's stamp) and nextSampleTime. Opens the files
// it needs and closes every one of them before it returns.
CycleOutcome SampleCycle();

// Reads the clock into nowTime and prints "<count>, <step>, <local time>"
// on the console and, when the log file is open, in it.
void LogStep(const char* step);

}  // namespace zol
