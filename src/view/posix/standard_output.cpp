#include "view/standard_output.h"

namespace zol::view {

// Bytes go out as written and terminals take UTF-8: nothing to do.
void PrepareStandardOutput() {}

}  // namespace zol::view
