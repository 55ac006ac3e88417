// The key reader of the platform the program runs on, on standard input.
#pragma once

#include "console/keys.h"

namespace zol {

// The reader on standard input, made on first use and kept until the
// process ends (a signal thread may still interrupt it during exit).
KeySource& StdinKeySource();

// For the entry point, once at start: makes the standard-input reader the
// process-wide key source and puts the console back however the program
// ends (std::exit included, and crash signals where there are any).
void InstallStdinKeys();

// Gives back the console settings that the reader changed. Async-signal-safe
// and idempotent: safe from signal handlers, atexit and any thread.
void RestoreTerminal();

}  // namespace zol
