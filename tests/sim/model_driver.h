// Drives a simulated instrument through time as its line would: bytes go in
// at the current moment, then time runs on through every wake-up the model
// asks for, up to a deadline. No real waiting.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/instrument.h"

namespace zol::sim::test {

class ModelDriver {
 public:
  static constexpr int64_t kStartMs = 1'000'000;

  explicit ModelDriver(Instrument& model, int64_t startMs = kStartMs)
      : model_(model), nowMs_(startMs) {}

  // Sends `bytes` now, then lets `ms` pass; returns everything sent back.
  std::string Send(std::string_view bytes, int64_t ms = 100) {
    model_.Feed(bytes, nowMs_);
    return Wait(ms);
  }

  // Lets `ms` pass; returns everything sent meanwhile.
  std::string Wait(int64_t ms) {
    int64_t end = nowMs_ + ms;
    std::string out;
    for (int steps = 0; model_.NextWakeMs() <= end; ++steps) {
      if (steps > 100000) {
        ADD_FAILURE() << "the model keeps asking to be woken at " << model_.NextWakeMs();
        break;
      }
      nowMs_ = std::max(nowMs_, model_.NextWakeMs());
      out += model_.Poll(nowMs_);
    }
    nowMs_ = end;
    out += model_.Poll(nowMs_);
    return out;
  }

  int64_t Now() const { return nowMs_; }

 private:
  Instrument& model_;
  int64_t nowMs_;
};

// The first line a sampler's line reader would return: leading CR and LF
// skipped, up to the next CR or LF; a NUL ends what its tests can see.
inline std::string FirstLine(std::string_view text) {
  size_t begin = text.find_first_not_of("\r\n");
  if (begin == std::string_view::npos) return "";
  size_t end = text.find_first_of("\r\n", begin);
  std::string line(text.substr(begin, end == std::string_view::npos ? end : end - begin));
  return line.substr(0, line.find('\0'));
}

// Splits a record at its ", " separators.
inline std::vector<std::string> Fields(std::string_view record) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t at; (at = record.find(", ", start)) != std::string_view::npos; start = at + 2) {
    fields.emplace_back(record.substr(start, at - start));
  }
  fields.emplace_back(record.substr(start));
  return fields;
}

}  // namespace zol::sim::test
