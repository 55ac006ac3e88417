// The pass-through terminal (CTRL+I): keys go to the ZOL as they are typed
// and what the ZOL sends reaches the console unchanged, until CTRL+K.
#pragma once

namespace zol {

inline constexpr int kKeyLeaveInteractive = 11;  // CTRL+K

// Holds the ZOL port (the cycle lock) until CTRL+K; also gives it back when
// the keyboard is gone or a stop is asked for, so sampling never waits on it.
void InteractiveMode();

}  // namespace zol
