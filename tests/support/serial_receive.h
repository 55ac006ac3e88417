// Reading what a serial service received, for tests of real devices.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "link/serial_service.h"

namespace zol::test {

inline int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Every byte the port receives until `count` came or timeoutMs passed.
inline std::string ReceiveBytes(SerialService& serial, int port, size_t count, int timeoutMs) {
  const int64_t deadline = SteadyNowMs() + timeoutMs;
  std::string got;
  while (got.size() < count && SteadyNowMs() < deadline) {
    if (serial.WaitRx(port, static_cast<int>(deadline - SteadyNowMs())) <= 0) continue;
    for (int c = serial.Getc(port); c >= 0; c = serial.Getc(port)) {
      got.push_back(static_cast<char>(c));
    }
  }
  return got;
}

}  // namespace zol::test
