// Standard output as the platform needs it for zolview's bytes: the same
// bytes on every system (CSV's CR LF stays CR LF), the sparkline's UTF-8
// shown as such in a console.
#pragma once

namespace zol::view {

void PrepareStandardOutput();

}  // namespace zol::view
