// zolshore's handling of broker messages: any bytes, taken as one message a
// line, must be applied or refused within the bounds, and nothing may land
// outside the shore's folder.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "shore/rebuilder.h"

namespace {

namespace fs = std::filesystem;

// <memory or temp>/zolshore-fuzz.XXXXXX/shore, made once and removed at the
// end; the parent must hold nothing else. In memory the syncs cost little.
class Scratch {
 public:
  Scratch() {
    std::error_code error;
    const fs::path base =
        fs::is_directory("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "zolshore-fuzz.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    parent_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(parent_, ignored);
  }
  const fs::path& Parent() const { return parent_; }

 private:
  fs::path parent_;
};

const fs::path& Parent() {
  static const Scratch scratch;
  return scratch.Parent();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path shore = Parent() / "shore";
  fs::remove_all(shore);
  fs::create_directory(shore);
  {
    zol::shore::Rebuilder rebuilder(
        shore, {.maxAhead = 4096, .maxHeldLines = 16, .maxHeldBytes = 4096, .maxOpenFiles = 4},
        [](const std::string& report) {
          if (report.empty()) std::abort();
        });
    std::string_view input(reinterpret_cast<const char*>(data), size);
    while (!input.empty()) {
      const std::size_t end = input.find('\n');
      (void)rebuilder.Handle("zolsampler/fuzz/data", input.substr(0, end));
      input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    }
  }
  for (const auto& entry : fs::directory_iterator(Parent()))
    if (entry.path() != shore) std::abort();
  return 0;
}
