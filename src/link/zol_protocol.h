// The system's side of the ZOL command protocol. Results: 1 success, 0
// refused or wrong reply, -2 no reply in time (exceptions noted below).
#pragma once

#include <cstdint>
#include <cstdio>

namespace zol {

// 1 on "ACK"; -2 after ten tries without one.
int WakeZol(int port);
// Break, wake, then select the sample mode (1 KIRN, 2 PADO). 1 after "ACK"
// whatever the mode exchange gave; -2 no "ACK"; 0 at once for another mode.
int WakeZolMode(int port, uint16_t mode);
int SetZolMode(int port, uint16_t mode);
// Writes the configuration dump to `file`; the number of lines after the
// first, 0 on "NAK", -2 when no first line came.
int GetZolConfig(int port, std::FILE* file);
// Hands time, temperature, salinity and pressure to the ZOL and checks its echo.
int SendCtdDat(int port, int64_t seconds, float temp, float sal, float pressure);
int TakeSample(int port);
// The reply line stays in buf in every case.
int GetSample(int port, char* buf, uint16_t len);
int ZolSleep(int port);
// The ZOL's clock (> 0), 0 for no valid value, -2 for no reply.
int64_t GetZolTime(int port);
int SetZolTime(int port);

}  // namespace zol
