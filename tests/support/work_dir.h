// A fresh temporary working directory for the test's lifetime: the process
// changes into it and back, and everything in it is removed at the end.
#pragma once

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/temp_dir.h"

namespace zol::test {

class WorkDir {
 public:
  WorkDir() {
    path_ = MakeTempDir("zolwork.");
    char here[PATH_MAX];
    if (getcwd(here, sizeof here) != nullptr) previous_ = here;
    if (!path_.empty() && chdir(path_.c_str()) != 0) path_.clear();
  }
  ~WorkDir() {
    if (!previous_.empty() && chdir(previous_.c_str()) != 0) std::abort();
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

  // Whole content of a file in the directory; empty when it cannot be read.
  static std::string Read(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
  }
  static bool Exists(const std::string& name) { return std::filesystem::exists(name); }

 private:
  std::string path_;
  std::string previous_;
};

}  // namespace zol::test
