// Any bytes a control client may send, cut into chunks at the first byte's
// choice: the reader ends, never holds more than a line and a chunk, gives
// lines of at most 512 bytes without a line end, and every reply to them is
// one line of ASCII JSON.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/control_reader.h"
#include "base/json_reader.h"
#include "fuzz_rig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = 1 + data[0] % 64;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  zol::ControlLineReader reader;
  for (size_t at = 0; at < bytes.size(); at += chunk) {
    const std::string_view part = bytes.substr(at, chunk);
    reader.Append(part.data(), part.size());
    std::string line;
    for (auto result = reader.Next(&line); result != zol::ControlLineReader::Result::kNone;
         result = reader.Next(&line)) {
      if (result == zol::ControlLineReader::Result::kTooLong) return 0;
      zol::fuzz::Require(line.size() <= zol::kMaxControlLine);
      zol::fuzz::Require(line.find('\n') == std::string::npos);
      if (zol::ParseControlCommand(line) != zol::ControlCommand::kUnknown) continue;
      const std::string reply = zol::UnknownCommandReply(line);
      zol::JsonValue value;
      std::string error;
      zol::fuzz::Require(zol::ParseJson(reply, &value, &error) && value.Find("error") != nullptr);
      for (const char c : reply)
        zol::fuzz::Require(c >= 0x20 && c < 0x7F);
    }
    zol::fuzz::Require(reader.Buffered() <= zol::kMaxControlLine + 1 + chunk);
  }
  return 0;
}
