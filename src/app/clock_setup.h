// The clock step of start-up: the ZOL's and the computer's clocks side by
// side, the time-zone and daylight review, and setting the ZOL's clock.
#pragma once

namespace zol {

void ShowTimes();
void SetupClock(int port);

}  // namespace zol
