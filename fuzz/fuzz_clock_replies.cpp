// Any reply to the clock commands: GetZolTime gives a positive time, 0 or -2;
// SetZolTime writes at most one 4-byte acknowledgment.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_rig.h"
#include "link/zol_protocol.h"
#include "support/instrument_peers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zol::fuzz::FuzzRig rig;
  zol::test::ZolPeer zol(rig.serial, rig.clock, 0);
  const std::string reply(reinterpret_cast<const char*>(data), size);
  zol.rtcQueryReply = reply;
  zol.rtcSetReply = reply;

  const int64_t time = zol::GetZolTime(0);
  zol::fuzz::Require(time > 0 || time == 0 || time == -2);
  zol::fuzz::Require(time <= INT32_MAX);

  rig.serial.TakeSent(0);
  const int result = zol::SetZolTime(0);
  zol::fuzz::Require(result == 1 || result == 0 || result == -2);
  const std::string sent = rig.serial.TakeSent(0);
  const bool ack = sent.size() >= 4 && sent.compare(sent.size() - 4, 4, "ACK\n") == 0;
  if (result == 1) zol::fuzz::Require(ack);
  return 0;
}
