// Pieces for running the instruments in a process of their own, so that
// nothing they do counts against the sampler's CPU time or memory.
#pragma once

#include <sys/mman.h>
#include <sys/types.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "base/posix/unique_fd.h"

namespace bench {

// A pseudo-terminal: the sampler opens the slave by its path, an instrument
// plays on the master.
class PtyLine {
 public:
  PtyLine();
  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_.Get(); }
  // In the sampler's process once the instrument's process has the master.
  void CloseMaster() { master_.Reset(); }
  // With the sampler's own descriptor closed too, the instrument sees the
  // line hang up and ends.
  void CloseSlave() { slave_.Reset(); }

 private:
  zol::UniqueFd master_;
  zol::UniqueFd slave_;
  std::string slavePath_;
};

// Both ends of a pipe.
struct Pipe {
  Pipe();
  zol::UniqueFd read;
  zol::UniqueFd write;
};

// A child process running `body`, whose result is its exit status. Fork only
// while this process runs a single thread.
class ChildProcess {
 public:
  explicit ChildProcess(const std::function<int()>& body);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits up to timeoutMs for the child to end (killing it after that);
  // true when it ended by itself with status 0.
  bool Finish(int timeoutMs);

 private:
  pid_t pid_ = -1;
  zol::UniqueFd pidfd_;
  bool reaped_ = false;
  bool succeeded_ = false;
};

// A T placed in memory that a forked child shares with its parent; T must
// be made of lock-free atomics and plain data.
template <typename T>
class SharedBlock {
 public:
  SharedBlock() {
    void* memory =
        ::mmap(nullptr, sizeof(T), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw std::runtime_error("mmap failed");
    block_ = new (memory) T();
  }
  ~SharedBlock() {
    block_->~T();
    ::munmap(block_, sizeof(T));
  }
  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;

  T& operator*() const { return *block_; }
  T* operator->() const { return block_; }

 private:
  T* block_;
};

}  // namespace bench
