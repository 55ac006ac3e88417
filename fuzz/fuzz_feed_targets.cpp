// Any live feed setting through the parse: ends; a refusal says why; what is
// taken are hosts and ports that, written back, read the same again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_rig.h"
#include "link/record_feed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view setting(reinterpret_cast<const char*>(data), size);
  std::vector<zol::FeedTarget> targets;
  std::string error;
  if (!zol::ParseFeedTargets(setting, &targets, &error)) {
    zol::fuzz::Require(!error.empty());
    return 0;
  }
  zol::fuzz::Require(!targets.empty());
  std::string written;
  for (const zol::FeedTarget& target : targets) {
    zol::fuzz::Require(!target.host.empty() && target.port >= 1);
    written += (written.empty() ? "" : ",") + target.Text();
  }
  std::vector<zol::FeedTarget> again;
  zol::fuzz::Require(zol::ParseFeedTargets(written, &again, &error));
  zol::fuzz::Require(again.size() == targets.size());
  for (size_t i = 0; i < again.size(); ++i)
    zol::fuzz::Require(again[i].host == targets[i].host && again[i].port == targets[i].port);
  return 0;
}
