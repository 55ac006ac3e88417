// The start-up sequence after a complete command line: the parameter
// dialogue, the ports, the clock step, the files and configuration records,
// the optional sync minute, then the sampling thread and the keyboard loop.
#pragma once

namespace zol {

// Does not return: it ends in the keyboard command loop, or the program
// ends on a failure.
[[noreturn]] void StartSampler();

// Asks serial number, sampling period, sensor kind and, without a CTD, the
// solution's temperature and salinity, with a CTD the pump question. Ends
// the program with status 0 on an answer out of range.
void GetSampleParameters();

// Asks whether to align the first sample to a minute of the hour and sets
// syncMinute (-1 for no alignment).
void GetSyncMinute();

// Creates the stop event and starts the sampling thread; when either cannot
// be created, says so, closes the ports and ends the program with status 1.
void StartSampling();

}  // namespace zol
