// A fresh directory for a test's files, removed with everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace zol::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zoltest.XXXXXX").string();
#ifdef _WIN32
    std::error_code failed;
    if (_mktemp_s(pattern.data(), pattern.size() + 1) == 0 &&
        std::filesystem::create_directory(pattern, failed))
      path_ = pattern;
#else
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
#endif
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const {
    return path_;
  }
  std::string File(const std::string& name) const {
    return path_ + "/" + name;
  }

 private:
  std::string path_;
};

// The whole content of a file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes `text` as the whole file; false when it could not.
inline bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return !out.fail();
}

}  // namespace zol::test
