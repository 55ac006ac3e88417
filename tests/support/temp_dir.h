// A fresh directory for a test's files, removed with everything in it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace zol::test {

// Makes a fresh directory `<prefix>XXXXXX` in the system's temporary folder
// (TMPDIR when set) and gives its path; empty when it could not.
inline std::string MakeTempDir(const char* prefix) {
  std::error_code failed;
  const std::filesystem::path base = std::filesystem::temp_directory_path(failed);
  if (failed) return {};
  std::string pattern = (base / (std::string(prefix) + "XXXXXX")).string();
#ifdef _WIN32
  if (_mktemp_s(pattern.data(), pattern.size() + 1) == 0 &&
      std::filesystem::create_directory(pattern, failed))
    return pattern;
#else
  if (mkdtemp(pattern.data()) != nullptr) return pattern;
#endif
  return {};
}

class TempDir {
 public:
  TempDir() : path_(MakeTempDir("zoltest.")) {}
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

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
