#include "link/serial_rules.h"

#include "link/serial_service.h"

namespace zol {
namespace {

constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;
constexpr int kVersionRelease = 0;
constexpr int kBuildNumber = 1;
constexpr int kTimingBaud = 9600;
constexpr int kBauds[] = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

}  // namespace

bool IsSupportedBaud(int baud) {
  for (const int supported : kBauds) {
    if (supported == baud) return true;
  }
  return false;
}

int CheckFrame(int parity, int stopBits, int dataBits) {
  if (dataBits < 5 || dataBits > 8) return kSerialBadByteSize;
  if (parity < 0 || parity > 2) return kSerialOutOfRange;
  if (stopBits != 0 && stopBits != 2) return kSerialOutOfRange;
  return 0;
}

int64_t LineTimeMs(int64_t bytes, int baud) {
  const int64_t rate = baud > 0 ? baud : kTimingBaud;
  return (bytes * 10 * 1000 + rate - 1) / rate;
}

int ServiceVersion(int selector) {
  if (selector == 'V') return kVersionMajor << 8 | kVersionMinor << 4 | kVersionRelease;
  if (selector == 'B') return kBuildNumber;
  return kSerialOutOfRange;
}

}  // namespace zol
