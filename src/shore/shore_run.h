// zolshore's run: the broker's messages into the rebuilt files until a stop.
#pragma once

#include "shore/shore_options.h"

namespace zol::shore {

// Returns the program's exit status: 0 after SIGTERM or SIGINT, 1 when the
// client could not be set up.
int RunShore(const ShoreOptions& options);

}  // namespace zol::shore
