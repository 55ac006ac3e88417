// A serial line on which bytes keep arriving: the bytes of a script come one
// at a time, each `msPerByte` after the last on the driven clock, and the
// queue is never seen empty until the script ends (or never, when it
// repeats). This is the babbling instrument that a wait must survive.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "link/serial_service.h"
#include "support/fake_clock.h"

namespace zol::test {

class TrickleLine final : public SerialService {
 public:
  TrickleLine(FakeClock& clock, std::string script, int msPerByte, bool repeat)
      : clock_(clock), script_(std::move(script)), msPerByte_(msPerByte), repeat_(repeat) {}

  int64_t Taken() const { return taken_; }
  const std::string& Sent() const { return sent_; }

  int Getc(int) override {
    if (!Waiting()) return -1;
    clock_.Advance(msPerByte_);
    const unsigned char byte = static_cast<unsigned char>(script_[taken_ % script_.size()]);
    ++taken_;
    return byte;
  }
  int RxCount(int) override { return Waiting() ? 1 : 0; }
  int WaitRx(int, int timeoutMs) override {
    if (Waiting()) return 1;
    clock_.Advance(timeoutMs);
    return 0;
  }
  int Putc(int, int ch) override {
    sent_.push_back(static_cast<char>(ch));
    return 0;
  }
  int Write(int, const char* buf, int len) override {
    if (len > 0) sent_.append(buf, static_cast<size_t>(len));
    return len;
  }

  int Open(int, int, int) override { return 0; }
  int Close(int) override { return 0; }
  int SetBaud(int, int) override { return 0; }
  int SetParams(int, int, int, int) override { return 0; }
  int TxCount(int) override { return 0; }
  int RxClear(int) override { return 0; }
  int Break(int, int) override { return 0; }
  int Line(int, int) override { return 0; }
  int Version(int) override { return 0; }
  int ErrorText(char* buf, int len) override {
    if (buf != nullptr && len > 0) buf[0] = '\0';
    return 0;
  }
  int WaitTxEmpty(int, int) override { return 0; }
  void CancelWait(int) override {}

 private:
  bool Waiting() const {
    return !script_.empty() && (repeat_ || taken_ < static_cast<int64_t>(script_.size()));
  }

  FakeClock& clock_;
  std::string script_;
  int msPerByte_;
  bool repeat_;
  int64_t taken_ = 0;
  std::string sent_;
};

}  // namespace zol::test
