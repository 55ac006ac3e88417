// A serial service with the transmit timing of a UART (see below), over
// another service. Header-only: the bench builds it into both of its sides,
// each in its own namespace.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "link/serial_service.h"

namespace zol {

// A pseudo-terminal hands over what is written at once and never reports a
// transmit queue. This gives each port the transmit timing of a UART at its
// speed, so that waiting for the transmitter to drain costs what it costs on
// a serial line: the bytes written are on the line for 10 bit times each.
class UartTimedSerial final : public SerialService {
 public:
  explicit UartTimedSerial(std::unique_ptr<SerialService> line) : line_(std::move(line)) {}

  int Open(int port, int rxQueueSize, int txQueueSize) override {
    const int result = line_->Open(port, rxQueueSize, txQueueSize);
    if (result >= 0 && Timing(port) != nullptr) {
      std::lock_guard lock(mutex_);
      *Timing(port) = PortTiming{};
    }
    return result;
  }
  int Close(int port) override { return line_->Close(port); }
  int SetBaud(int port, int baud) override {
    const int result = line_->SetBaud(port, baud);
    if (result >= 0 && Timing(port) != nullptr) {
      std::lock_guard lock(mutex_);
      Timing(port)->baud = baud;
    }
    return result;
  }
  int SetParams(int port, int parity, int stopBits, int dataBits) override {
    return line_->SetParams(port, parity, stopBits, dataBits);
  }
  int Putc(int port, int ch) override {
    const int result = line_->Putc(port, ch);
    if (result >= 0) Queue(port, 1);
    return result;
  }
  int Write(int port, const char* buf, int len) override {
    const int result = line_->Write(port, buf, len);
    if (result > 0) Queue(port, result);
    return result;
  }
  int Getc(int port) override { return line_->Getc(port); }
  int RxCount(int port) override { return line_->RxCount(port); }
  int TxCount(int port) override {
    const int queued = line_->TxCount(port);
    return queued < 0 ? queued : queued + Pending(port);
  }
  int RxClear(int port) override { return line_->RxClear(port); }
  int Break(int port, int cmd) override { return line_->Break(port, cmd); }
  int Line(int port, int cmd) override { return line_->Line(port, cmd); }
  int Version(int selector) override { return line_->Version(selector); }
  int ErrorText(char* buf, int len) override { return line_->ErrorText(buf, len); }
  int WaitRx(int port, int timeoutMs) override { return line_->WaitRx(port, timeoutMs); }
  int WaitTxEmpty(int port, int timeoutMs) override {
    const int64_t leftNs = BusyUntilNs(port) - NowNs();
    const int64_t limitNs = static_cast<int64_t>(std::max(timeoutMs, 0)) * 1'000'000;
    if (leftNs > 0)
      std::this_thread::sleep_for(std::chrono::nanoseconds(std::min(leftNs, limitNs)));
    if (leftNs > limitNs) return kSerialTimedOut;
    return line_->WaitTxEmpty(port, timeoutMs);
  }
  void CancelWait(int port) override { line_->CancelWait(port); }

 private:
  struct PortTiming {
    int baud = 9600;
    int64_t busyUntilNs = 0;
  };

  static int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  PortTiming* Timing(int port) {
    return port >= 0 && port < kSerialMaxPorts ? &ports_[static_cast<size_t>(port)] : nullptr;
  }
  void Queue(int port, int bytes) {
    PortTiming* timing = Timing(port);
    if (timing == nullptr) return;
    std::lock_guard lock(mutex_);
    const int64_t byteNs = 10'000'000'000 / std::max(timing->baud, 1);
    timing->busyUntilNs = std::max(timing->busyUntilNs, NowNs()) + bytes * byteNs;
  }
  int64_t BusyUntilNs(int port) {
    PortTiming* timing = Timing(port);
    if (timing == nullptr) return 0;
    std::lock_guard lock(mutex_);
    return timing->busyUntilNs;
  }
  int Pending(int port) {
    PortTiming* timing = Timing(port);
    if (timing == nullptr) return 0;
    std::lock_guard lock(mutex_);
    const int64_t leftNs = timing->busyUntilNs - NowNs();
    if (leftNs <= 0) return 0;
    const int64_t byteNs = 10'000'000'000 / std::max(timing->baud, 1);
    return static_cast<int>((leftNs + byteNs - 1) / byteNs);
  }

  std::unique_ptr<SerialService> line_;
  std::mutex mutex_;
  std::array<PortTiming, kSerialMaxPorts> ports_;
};

}  // namespace zol
