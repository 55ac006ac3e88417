// The program's command line: the ZOL and CTD ports and speeds, or instead a
// scan of the serial ports (-l) or the build banner (-v).
#pragma once

namespace zol {

// Reads the options into the sampler state, each as soon as it is read, and
// runs startSampler once the line is complete and names two different ports.
// Every other outcome ends the process: usage text, a refused option, the
// scan or the banner (status 0), or a serial failure during the scan (1).
// Returns 0 when startSampler returns.
int RunCommandLine(int argc, char** argv, void (*startSampler)());

// -l: starts the serial service, tries every port index 0..255 and ends
// through FatalExit(0).
[[noreturn]] void ScanPorts();

// -v: the build, the compiler and its target, the serial service's version
// and the language revision.
void PrintBuildBanner();

}  // namespace zol
