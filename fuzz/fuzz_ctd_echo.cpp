// The ZOL's echo of the CTD values, any bytes at all: SendCtdDat answers with
// exactly one ACK, one NAK or nothing, and reports a result it documents.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_rig.h"
#include "link/zol_protocol.h"
#include "support/instrument_peers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 16) return 0;
  zol::fuzz::FuzzRig rig;
  zol::test::ZolPeer zol(rig.serial, rig.clock, 0);
  // Values in the first 16 bytes, the echo in the rest.
  uint32_t seconds;
  float temp, sal, pressure;
  std::memcpy(&seconds, data, 4);
  std::memcpy(&temp, data + 4, 4);
  std::memcpy(&sal, data + 8, 4);
  std::memcpy(&pressure, data + 12, 4);
  const std::string echo(reinterpret_cast<const char*>(data + 16), size - 16);
  zol.ctdReply = [&](const std::string&) { return echo; };

  const int result = zol::SendCtdDat(0, seconds, temp, sal, pressure);
  zol::fuzz::Require(result == 1 || result == 0 || result == -2);
  const std::string sent = rig.serial.Sent(0);
  const size_t command = sent.find("CTD,");
  if (command == std::string::npos) {
    zol::fuzz::Require(result == 0);  // refused before sending
    return 0;
  }
  const std::string after = sent.substr(command);
  const bool acked = after.size() >= 5 && after.compare(after.size() - 5, 5, "ACK\r\n") == 0;
  if (result == 1) zol::fuzz::Require(acked);
  if (result == -2) zol::fuzz::Require(after.find('\n') == std::string::npos);
  return 0;
}
