// What every platform's serial port service holds to: the speeds and frames
// it accepts, the time bytes take on the line, and its version.
#pragma once

#include <cstdint>

namespace zol {

// The speeds a port may be set to, in this order.
inline constexpr int kSerialBauds[] = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// The place of `baud` in kSerialBauds, or -1.
int BaudIndex(int baud);
bool IsSupportedBaud(int baud);
// 0 when the frame can be set, else kSerialBadByteSize or kSerialOutOfRange.
int CheckFrame(int parity, int stopBits, int dataBits);
// Time `bytes` take on the line at `baud`, ten bits a character, rounded up;
// a port whose speed was never set (0) is timed at 9600.
int64_t LineTimeMs(int64_t bytes, int baud);
// SerialVersion: 'V' the packed version, 'B' the build number.
int ServiceVersion(int selector);

}  // namespace zol
