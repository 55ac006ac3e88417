// What every platform's serial port service holds to: the speeds and frames
// it accepts, the time bytes take on the line, and its version.
#pragma once

#include <cstdint>

namespace zol {

// The speeds of the table, 300 to 115200.
bool IsSupportedBaud(int baud);
// 0 when the frame can be set, else kSerialBadByteSize or kSerialOutOfRange.
int CheckFrame(int parity, int stopBits, int dataBits);
// Time `bytes` take on the line at `baud`, ten bits a character, rounded up;
// a port whose speed was never set (0) is timed at 9600.
int64_t LineTimeMs(int64_t bytes, int baud);
// SerialVersion: 'V' the packed version, 'B' the build number.
int ServiceVersion(int selector);

}  // namespace zol
