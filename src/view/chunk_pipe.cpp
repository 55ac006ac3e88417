#include "view/chunk_pipe.h"

namespace zol::view {

ChunkPipe::ChunkPipe(DatasetWriter& writer) : writer_(writer), thread_([this] { Run(); }) {}

ChunkPipe::~ChunkPipe() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ChunkPipe::Start(const Chunk& chunk) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    job_ = &chunk;
  }
  changed_.notify_all();
}

bool ChunkPipe::Wait(std::string& error) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return job_ == nullptr; });
  if (!failed_) return true;
  error = error_;
  return false;
}

void ChunkPipe::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return job_ != nullptr || stop_; });
    if (job_ == nullptr) return;
    const Chunk* chunk = job_;
    std::string error;
    lock.unlock();
    const bool written = failed_ || writer_.Write(*chunk, error);
    lock.lock();
    if (!written && !failed_) {
      failed_ = true;
      error_ = error;
    }
    job_ = nullptr;
    changed_.notify_all();
  }
}

}  // namespace zol::view
