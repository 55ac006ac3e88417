// Reply bytes of any kind through the line reader: the buffer stays bounded
// and terminated, and every call ends.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_rig.h"
#include "link/line_primitives.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  zol::fuzz::FuzzRig rig;
  // The first byte picks the buffer size, the second splits the input in two
  // bursts, the second arriving 1.5 s later.
  const uint16_t len = static_cast<uint16_t>(2 + data[0] % 64);
  const size_t split = 2 + (size - 2) * data[1] / 256;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  rig.serial.Deliver(0, bytes.substr(2, split - 2), 0);
  rig.serial.Deliver(0, bytes.substr(split), 1500);
  char buf[80];
  // With the smallest buffer every call takes one character, so the input may
  // need as many calls as it has bytes before a read comes back empty.
  for (size_t calls = 0; calls <= size; ++calls) {
    buf[len - 1] = 'X';
    const int count = zol::ReadLine(0, buf, len, 2);
    zol::fuzz::Require(count >= 0 && count <= len - 1);
    zol::fuzz::Require(buf[count] == '\0');
    if (count == 0) break;
  }
  zol::fuzz::Require(rig.serial.PendingBytes(0) == 0);
  return 0;
}
