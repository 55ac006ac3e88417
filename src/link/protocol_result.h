// What an instrument command returns (ZOL and CTD alike), unless its
// header says it returns a count or a clock instead.
#pragma once

namespace zol {

// The instrument answered as the command expects.
inline constexpr int kReplyOk = 1;
// It refused, answered something else, or the command was never sent.
inline constexpr int kReplyRefused = 0;
// No answer came in time.
inline constexpr int kNoReply = -2;

}  // namespace zol
