// The in-process doubles every fuzz target runs against, with the console
// thrown away.
#pragma once

#include <cstdio>

#include "support/test_rig.h"

namespace zol::fuzz {

struct FuzzRig : test::TestRig {
  FuzzRig() { SetConsoleStream(sink); }
  ~FuzzRig() {
    SetConsoleStream(nullptr);
    std::fclose(sink);
  }
  std::FILE* sink = std::fopen("/dev/null", "we");
  FuzzRig(const FuzzRig&) = delete;
  FuzzRig& operator=(const FuzzRig&) = delete;
};

// Aborts the run so that libFuzzer reports the input.
inline void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace zol::fuzz
