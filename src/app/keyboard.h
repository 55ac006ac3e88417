// The keyboard command loop that the main thread runs once sampling has
// started, and the stop sequence that ends the program.
#pragma once

#include "app/sample_cycle.h"

namespace zol {

// Command key codes (the low byte of a key).
inline constexpr int kKeyForceSample = 6;  // CTRL+F
inline constexpr int kKeyHelp = 8;         // CTRL+H, Backspace
inline constexpr int kKeyInteractive = 9;  // CTRL+I, Tab
inline constexpr int kKeyExit = 26;        // CTRL+Z
// Read raw at the command loop, these are the console control events.
inline constexpr int kKeyCtrlC = 3;
inline constexpr int kKeyCtrlBackslash = 28;

// Reads command keys until CTRL+Z or a stop request, then runs the stop
// sequence; gives the exit status (0).
int RunKeyboardLoop();
// RunKeyboardLoop, then ends the program with its status.
[[noreturn]] void KeyboardLoop();

// CTRL+F: one cycle now, on the calling thread, stamped with the time it
// starts; the schedule (nextSampleTime) is left as it is.
void ForceSample();
// The same for a caller that holds the cycle lock.
CycleOutcome RunForcedCycle();

// Prints `heading` as a line, stops and joins the sampling thread, shows its
// exit code, pauses a second and releases the ports. Gives the exit status.
int RunStopSequence(const char* heading);

}  // namespace zol
