#include "app/feed_setup.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/console_out.h"
#include "link/record_feed.h"
#include "link/system_feed.h"

namespace zol {

void StartRecordFeed() {
  const char* setting = std::getenv("ZOLSAMPLER_UDP");
  if (setting == nullptr || setting[0] == '\0') return;
  std::vector<FeedTarget> targets;
  std::string error;
  std::unique_ptr<RecordFeed> feed;
  if (ParseFeedTargets(setting, &targets, &error)) feed = OpenUdpFeed(targets, &error);
  if (feed == nullptr) {
    std::fprintf(stderr, "zolsampler: ZOLSAMPLER_UDP: %s\n", error.c_str());
    // NOLINTNEXTLINE(concurrency-mt-unsafe): what other threads use is never destroyed
    std::exit(1);
  }
  std::string list;
  for (const FeedTarget& target : targets)
    list += (list.empty() ? "" : ", ") + target.Text();
  ConsolePrintf("UDP feed: every sample record to %s\n", list.c_str());
  // Kept until the process ends: a cycle may still be sending while it exits.
  InstallRecordFeed(feed.release());
}

}  // namespace zol
