// What this process holds right now: open descriptors and resident memory,
// for tests that check a long run leaks neither.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstdio>

namespace zol::test {

// Entries of /proc/self/fd (with the directory's own and "." and "..").
inline int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr)
      ++count;
    closedir(dir);
  }
  return count;
}

// Resident set size in KiB, from /proc/self/statm; 0 when unknown.
inline long ResidentKiB() {
  long pages = 0;
  long resident = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "re")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace zol::test
