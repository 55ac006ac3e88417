// The instruments on the master side of pseudo-terminals: a ZOL and a CTD
// that answer at once (or late, or never, as asked), and a ZOL that streams
// data at the console of the pass-through terminal. They time, on
// CLOCK_MONOTONIC, how soon the sampler sends its next command after a reply.
#pragma once

#include <atomic>
#include <cstdint>

namespace bench {

struct ZolBehaviour {
  bool answers = true;
  // "ACK,TS,DAT" comes this long after "ACK,TS,CMD"; -1: never.
  int measureMs = 200;
};

struct CtdBehaviour {
  bool answersPoke = true;
  // The data line comes this long after "pts\r"; -1: never.
  int dataMs = 50;
};

inline constexpr int kMaxLatencySamples = 8192;

// What the instruments saw, in memory shared with the bench.
struct PeerRecord {
  std::atomic<int> commands{0};
  std::atomic<int> samples{0};
  // From the last byte of a reply to the first byte of the next command.
  int64_t reactionNs[kMaxLatencySamples] = {};

  // Discards the reactions recorded so far.
  void ClearReactions() { samples.store(0); }
};

// Plays the ZOL on `zolMaster` and, when it is not -1, the CTD on
// `ctdMaster`, until a line hangs up. The exit status of the process.
// A pseudo-terminal delivers a command at once; an instrument on a line at
// `lineBaud` hears its last byte only 10 bit times per byte after its first,
// and answers no sooner.
int RunInstruments(int zolMaster, int ctdMaster, int lineBaud, const ZolBehaviour& zol,
                   const CtdBehaviour& ctd, PeerRecord& record);

struct StreamPlan {
  int64_t bytes = 0;
  // 0: as fast as the line takes them.
  int64_t bytesPerSecond = 0;
};

struct StreamRecord {
  std::atomic<int64_t> sent{0};
  std::atomic<int64_t> verified{0};
  std::atomic<int64_t> firstSentNs{0};
  std::atomic<int64_t> lastVerifiedNs{0};
  // The position of the first byte that reached the console wrong; -1: none.
  std::atomic<int64_t> mismatchAt{-1};
  // Set (after the key is written) once the check is over.
  std::atomic<int> keyWaiting{0};
};

// The n-th byte of the stream: every value occurs, and the text starts with
// a marker that the terminal's banner cannot be confused with.
unsigned char StreamByte(int64_t n);

// Streams the plan's bytes from `zolMaster` once the pass-through banner has
// reached the console, checks every byte that reaches `consoleRead` against
// what was sent, and then types CTRL+K on `keyWrite`.
int RunStream(int zolMaster, int consoleRead, int keyWrite, const StreamPlan& plan,
              StreamRecord& record);

}  // namespace bench
