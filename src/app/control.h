// The console control handler: once the ports are open, a control event
// (CTRL+C and CTRL+\ at the command loop, CTRL+\ at a prompt, their
// signals) is passed on to the ZOL as CTRL+C instead of ending the program.
#pragma once

namespace zol {

// Sets the flag that sends control events to ConsoleCtrlHandler from now on
// (start-up sets it once both ports are open); before, a control event ends
// start-up.
void EnableControlHandler();
bool ControlHandlerEnabled();
// Clears the flag. For tests.
void DisableControlHandler();

// Sends the byte 3 to the ZOL and empties the ZOL's receive queue. When a
// cycle, the pass-through terminal or a start-up exchange has the port, that
// is done as soon as it lets the port go, so no reply is lost mid-exchange.
// Never blocks. 1 (TRUE) for every event: the event counts as handled.
int ConsoleCtrlHandler(unsigned long eventType);

// CTRL+\ typed at a prompt (the console's break-key hook): the CTRL+BREAK
// event once the handler is enabled; nothing before.
void BreakKeyAtPrompt();

}  // namespace zol
