// The sampling thread: a sample cycle once per sampling period, optionally
// aligned at first to a minute of the hour, until the stop event is set.
#pragma once

#include <cstdint>

namespace zol {

inline constexpr unsigned long kSampleThreadExitCode = 707;

// The thread's body. `syncMinute` (may be null) is read once at the start.
// Returns the exit code 707 once it sees stopEvent signalled at a wait.
unsigned long SampleThread(const int32_t* syncMinute);

// Zeroes sampleCount and sets the first nextSampleTime (aligned to
// syncMinute when one is set, saying so), then starts the schedule on a
// thread of its own and keeps the thread in SamplerState. stopEvent must exist. Throws
// std::system_error when the thread cannot be created.
void StartSamplingThread();
// Waits without a limit for the thread to end and gives its exit code
// (0 when no thread was started).
unsigned long JoinSamplingThread();

}  // namespace zol
