// SIGTERM and SIGINT as a stop that the main thread waits for.
#pragma once

#include <string>

namespace zol::shore {

// Blocks the stop signals in this thread and every thread it starts later;
// call before starting any.
void BlockStopSignals();
// Waits up to `timeoutMs` for one; true when it came.
bool WaitForStopSignal(int timeoutMs);
// This machine's name; "localhost" when it has none.
std::string HostName();

}  // namespace zol::shore
