// The console control handler: a control event (CTRL+C, CTRL+\ and their
// signals) is passed on to the ZOL as CTRL+C instead of ending the program.
#pragma once

namespace zol {

// From now on control events reach ConsoleCtrlHandler (start-up calls this
// once both ports are open).
void InstallControlHandler();
bool ControlHandlerInstalled();
// Back to no handler. For tests.
void RemoveControlHandler();

// Sends the byte 3 to the ZOL and empties the ZOL's receive queue. When a
// cycle, the pass-through terminal or a start-up exchange has the port, that
// is done as soon as it lets the port go, so no reply is lost mid-exchange.
// Never blocks. 1 (TRUE) for every event: the event counts as handled.
int ConsoleCtrlHandler(unsigned long eventType);

}  // namespace zol
