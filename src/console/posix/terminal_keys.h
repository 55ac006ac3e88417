// The real console key reader, on standard input or any descriptor.
//
// A terminal is switched once, when the reader is made: no line editing, no
// echo, no flow control, no signal keys and no CR-to-LF translation, so Enter
// gives 13, CTRL+C 3, CTRL+Z 26 (never a suspend) and CTRL+\ 28, one key at a
// time. Output processing stays on, so "\n" still starts a new line. Keys
// typed ahead are kept.
//
// Backspace gives 8 whatever the terminal sends for it: its erase character
// (DEL on most terminals) and DEL itself are delivered as 8. A cursor or
// function key's escape sequence (ESC [ ... or ESC O ...), which arrives in
// one piece, is swallowed whole; an ESC with nothing right behind it is 27.
//
// Anything else (a pipe, a file) gives its bytes as the keys. When the input
// ends or fails (end of file, EIO after a hang-up) GetKey returns kNoKey, at
// once and on every later call: a caller that gets kNoKey must stop reading
// keys or block on something else, never call GetKey again in a loop.
#pragma once

#include <termios.h>

#include <atomic>

#include "console/system_keys.h"

namespace zol {

// Puts the terminal on a descriptor into key-at-a-time mode and restores its
// settings when destroyed. Nothing happens for a descriptor that is not a
// terminal. One terminal at a time: RestoreTerminal restores this one.
class RawTerminal {
 public:
  explicit RawTerminal(int fd);
  ~RawTerminal();
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;

  // True when the descriptor is a terminal that was switched.
  bool active() const { return active_; }
  // The terminal's erase character as it was set; 0 when there is none.
  unsigned char erase() const { return erase_; }

 private:
  bool active_ = false;
  unsigned char erase_ = 0;
};

class TerminalKeys final : public KeySource {
 public:
  // Reads from `fd`, which stays the caller's. A terminal is switched for
  // the reader's lifetime.
  explicit TerminalKeys(int fd);
  ~TerminalKeys() override;
  TerminalKeys(const TerminalKeys&) = delete;
  TerminalKeys& operator=(const TerminalKeys&) = delete;

  int GetKey() override;
  bool KeyWaiting() override;
  // Async-signal-safe (a write to a pipe).
  void InterruptKeyWait() override;

  bool IsTerminal() const { return terminal_.active(); }

 private:
  bool TakeInterrupt();
  int ReadOneKey();
  int NextByte();
  int ReadFollowingByte();
  bool SwallowEscapeSequence();
  int Translate(int byte) const;

  int fd_;
  // A byte read after an ESC that began no sequence: the next key. Only the
  // reading thread (GetKey, KeyWaiting) touches it.
  int pending_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::atomic<bool> ended_{false};
  RawTerminal terminal_;
};

}  // namespace zol
