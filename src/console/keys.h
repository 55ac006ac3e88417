// The console key reader: one key code at a time, without echo and without
// waiting for Enter. The real reader works on standard input (terminal or
// pipe); tests install a scripted one (tests/support/scripted_keys.h).
#pragma once

namespace zol {

// No key can be read: the input has ended or failed.
inline constexpr int kNoKey = -1;
// The wait was interrupted by InterruptKeyWait (an orderly stop was asked for).
inline constexpr int kKeyInterrupted = -2;

class KeySource {
 public:
  virtual ~KeySource() = default;
  // Waits for the next key: 0..255, kNoKey, or kKeyInterrupted.
  virtual int GetKey() = 0;
  // True when a key can be read at once.
  virtual bool KeyWaiting() = 0;
  // Makes a blocked (or the next) GetKey return kKeyInterrupted. Any thread.
  virtual void InterruptKeyWait() = 0;
};

// The process-wide key source. Aborts with a message when none is installed.
KeySource& Keys();
// nullptr removes it. Not owned.
void InstallKeySource(KeySource* source);

inline int GetKey() {
  return Keys().GetKey();
}
inline bool KeyWaiting() {
  return Keys().KeyWaiting();
}

}  // namespace zol
