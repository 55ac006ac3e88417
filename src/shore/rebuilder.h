// Rebuilds a ship's data files under the shore's folder from their lines,
// which arrive at least once and not always in order: only a file's
// contiguous front is ever written, so a reader ashore never sees a hole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "shore/shore_message.h"

namespace zol {
class AppendFile;
}

namespace zol::shore {

struct RebuildLimits {
  // A line further than this past its file's front is refused.
  uint64_t maxAhead = uint64_t{64} << 20;
  // Lines held for a gap, over all files.
  std::size_t maxHeldLines = 100000;
  std::size_t maxHeldBytes = std::size_t{64} << 20;
  std::size_t maxOpenFiles = 32;
};

enum class Outcome {
  kWritten,    // the line is in the file (lines held behind it may be too)
  kHeld,       // waiting for the lines in front of it
  kDuplicate,  // already written or held
  kStale,      // of an older generation than the file's
  kRefused,    // bad message, too far ahead, or no room to hold it
  kFailed,     // the file or its state could not be written; reported
};

class Rebuilder {
 public:
  using Report = std::function<void(const std::string&)>;
  // `report` receives one line (without "zolshore: ") for each thing that
  // could not be done.
  Rebuilder(std::filesystem::path dir, RebuildLimits limits, Report report);
  ~Rebuilder();
  Rebuilder(const Rebuilder&) = delete;
  Rebuilder& operator=(const Rebuilder&) = delete;

  // One message's JSON, as it came from `topic`.
  Outcome Handle(std::string_view topic, std::string_view json);
  Outcome Apply(const LineMessage& message);
  // Puts every line written since the last call on disk.
  void Sync();

 private:
  struct File;
  File* Load(const LineMessage& message);
  bool NewGeneration(File& file, int64_t generation);
  bool Hold(File& file, const LineMessage& message);
  void ReloadHeld(File& file);
  void SpoolHeld(File& file, uint64_t offset, const std::string& bytes);
  void DropHeld(File& file);
  void Drain(File& file);
  bool WriteFront(File& file, const std::string& bytes);
  void CloseOthers(const File& keep);

  std::filesystem::path dir_;
  RebuildLimits limits_;
  Report report_;
  std::map<std::string, std::unique_ptr<File>> files_;  // by "station/file"
  std::size_t heldLines_ = 0;
  std::size_t heldBytes_ = 0;
  std::size_t openFiles_ = 0;
};

}  // namespace zol::shore
