// Between the sampler of a Windows service and the process that keeps it
// (app/win32/windows_service.cpp).
#pragma once

namespace zol {

// Tells the keeper that this sampler stops in order (its stop sequence has
// begun), so that its status 0 ends the service rather than a restart.
// Nothing outside a service.
void TellKeeperStoppingInOrder();

}  // namespace zol
