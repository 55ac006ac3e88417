#include "link/serial_rules.h"

#include <iterator>

#include "link/serial_service.h"

namespace zol {
namespace {

constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 0;
constexpr int kVersionRelease = 0;
constexpr int kBuildNumber = 1;
constexpr int kTimingBaud = 9600;

}  // namespace

int BaudIndex(int baud) {
  for (int i = 0; i < static_cast<int>(std::size(kSerialBauds)); ++i) {
    if (kSerialBauds[i] == baud) return i;
  }
  return -1;
}

bool IsSupportedBaud(int baud) {
  return BaudIndex(baud) >= 0;
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
