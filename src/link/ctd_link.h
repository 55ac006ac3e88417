// The CTD probe's protocol: wake-up line and CR pokes, "pts\r", the pump.
#pragma once

#include <cstdint>

#include "link/protocol_result.h"

namespace zol {

// 1 when the CTD answered '>'; -2 after ten attempts.
int WakeCtd(int port);
// 1 when a reply line was read into buf; 0 when the wake-up failed; -2 when
// no reply character came within 45 s.
int GetCtdDat(int port, char* buf, uint16_t len);
// 1 when the command was sent; 0 when the wake-up failed or sw is not 0 or 1.
int CtdPump(int port, uint16_t sw);
// Reads "pressure, temperature, salinity" from a reply that GetCtdDat
// returned with `result`; 1 when three values were read (time set to now).
int ParseCtdDat(const char* reply, int64_t* time, float* temp, float* sal, float* pressure,
                int32_t result);

// Reads "pressure, temperature, salinity" as the format "%f, %f, %f" does:
// each comma directly after its number, any white space after a comma. Each
// value is stored as soon as it is read; returns how many were read (0..3).
// A number beyond the single-precision range is not read.
int ScanCtdValues(const char* reply, float* pressure, float* temp, float* sal);

}  // namespace zol
