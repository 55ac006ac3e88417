// The request for an orderly stop from outside the keyboard (SIGTERM). The
// keyboard command loop carries it out exactly as it does CTRL+Z.
#pragma once

namespace zol {

// From now on the keyboard command loop carries out stop requests; before
// this, the signal handling ends the program itself.
void AcceptStopRequests();
bool StopRequestsAccepted();

// Any thread. Wakes the keyboard command loop out of its key wait.
// `heading` (a literal) is the stop sequence's first line; null: SIGTERM's.
void RequestStop(const char* heading = nullptr);
bool StopRequested();
// The heading of the first request that gave one, else null.
const char* StopHeading();
// Blocks until a stop has been requested (for a keyboard that is gone).
void WaitForStopRequest();
// Back to no request, not accepted. For tests.
void ResetStopRequest();

}  // namespace zol
