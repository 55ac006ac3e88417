#include "link/serial_service.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace zol {
namespace {
std::atomic<SerialService*> g_service{nullptr};
}

SerialService& Serial() {
  SerialService* service = g_service.load(std::memory_order_acquire);
  if (service == nullptr) {
    std::fputs("internal error: no serial port service installed\n", stderr);
    std::abort();
  }
  return *service;
}

void InstallSerialService(SerialService* service) {
  g_service.store(service, std::memory_order_release);
}

int SerialOpen(int port, int rxQueueSize, int txQueueSize) {
  return Serial().Open(port, rxQueueSize, txQueueSize);
}
int SerialClose(int port) {
  return Serial().Close(port);
}
int SerialSetBaud(int port, int baud) {
  return Serial().SetBaud(port, baud);
}
int SerialSetParams(int port, int parity, int stopBits, int dataBits) {
  return Serial().SetParams(port, parity, stopBits, dataBits);
}
int SerialPutc(int port, int ch) {
  return Serial().Putc(port, ch);
}
int SerialWrite(int port, const char* buf, int len) {
  return Serial().Write(port, buf, len);
}
int SerialGetc(int port) {
  return Serial().Getc(port);
}
int SerialRxCount(int port) {
  return Serial().RxCount(port);
}
int SerialTxCount(int port) {
  return Serial().TxCount(port);
}
int SerialRxClear(int port) {
  return Serial().RxClear(port);
}
int SerialBreak(int port, int cmd) {
  return Serial().Break(port, cmd);
}
int SerialLine(int port, int cmd) {
  return Serial().Line(port, cmd);
}
int SerialVersion(int selector) {
  return Serial().Version(selector);
}
int SerialErrorText(char* buf, int len) {
  return Serial().ErrorText(buf, len);
}
int SerialWaitRx(int port, int timeoutMs) {
  return Serial().WaitRx(port, timeoutMs);
}
int SerialWaitTxEmpty(int port, int timeoutMs) {
  return Serial().WaitTxEmpty(port, timeoutMs);
}
void SerialCancelWait(int port) {
  Serial().CancelWait(port);
}

}  // namespace zol
