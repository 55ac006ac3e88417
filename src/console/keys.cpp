#include "console/keys.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace zol {
namespace {
std::atomic<KeySource*> g_keys{nullptr};
}

KeySource& Keys() {
  KeySource* source = g_keys.load(std::memory_order_acquire);
  if (source == nullptr) {
    std::fputs("internal error: no console key source installed\n", stderr);
    std::abort();
  }
  return *source;
}

void InstallKeySource(KeySource* source) {
  g_keys.store(source, std::memory_order_release);
}

}  // namespace zol
