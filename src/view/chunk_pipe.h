// Hands chunks to a dataset writer on a thread of its own, one at a time,
// so that reading and parsing the next records runs beside the writer's
// work (the netCDF library's compression above all).
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "view/dataset.h"

namespace zol::view {

class ChunkPipe {
 public:
  explicit ChunkPipe(DatasetWriter& writer);
  ~ChunkPipe();
  ChunkPipe(const ChunkPipe&) = delete;
  ChunkPipe& operator=(const ChunkPipe&) = delete;

  // Starts writing `chunk`, which stays untouched until Wait returns. Only
  // after Wait.
  void Start(const Chunk& chunk);
  // Blocks until the chunk started last is written; false with the
  // writer's error when a write failed.
  bool Wait(std::string& error);

 private:
  void Run();

  DatasetWriter& writer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  const Chunk* job_ = nullptr;
  bool stop_ = false;
  bool failed_ = false;
  std::string error_;
  std::thread thread_;  // last: it starts once the rest is set
};

}  // namespace zol::view
