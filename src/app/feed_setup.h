// The live record feed's start: the ZOLSAMPLER_UDP setting.
#pragma once

namespace zol {

// With ZOLSAMPLER_UDP set (and not empty), checks it, resolves its hosts and
// installs the feed; a bad setting ends the program with status 1 and the
// reason on standard error, before any port is opened.
void StartRecordFeed();

}  // namespace zol
