// The console key reader on Windows, in the two shapes standard input takes.
//
// A console gives its keys through the C runtime (_kbhit/_getch), without
// echo and without waiting for Enter; the two codes of a cursor or function
// key (0 or 224, then the key's code) are swallowed whole. Anything else (a
// pipe, a file) gives its bytes as the keys, read by a thread of its own so
// that a wait for them can be interrupted; its end is kNoKey, at once and on
// every later call, as on Linux.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "base/win32/unique_handle.h"
#include "console/system_keys.h"

namespace zol {

// Drops the two-code sequences of extended keys from a stream of console
// key codes.
class ExtendedKeyFilter {
 public:
  static constexpr int kSwallowed = -100;
  // The key to deliver for `code`, or kSwallowed.
  int Take(int code);

 private:
  bool swallowNext_ = false;
};

class ConsoleKeys final : public KeySource {
 public:
  // `input` is the console's input handle; it stays the caller's.
  explicit ConsoleKeys(HANDLE input);

  int GetKey() override;
  bool KeyWaiting() override;
  void InterruptKeyWait() override;

 private:
  HANDLE input_;
  UniqueHandle interrupt_;
  ExtendedKeyFilter filter_;
};

class PipeKeys final : public KeySource {
 public:
  // Reads `input` (which stays the caller's) on a thread of its own.
  explicit PipeKeys(HANDLE input);
  ~PipeKeys() override;
  PipeKeys(const PipeKeys&) = delete;
  PipeKeys& operator=(const PipeKeys&) = delete;

  int GetKey() override;
  bool KeyWaiting() override;
  void InterruptKeyWait() override;

  // What the reader thread and the callers share; the thread keeps it alive.
  struct State {
    HANDLE input = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<unsigned char> keys;
    bool ended = false;
    bool interrupted = false;
    bool stopping = false;
  };

 private:
  std::shared_ptr<State> state_;
  UniqueHandle reader_;
};

// True when `input` is a console rather than a pipe or a file.
bool IsConsoleInput(HANDLE input);

}  // namespace zol
