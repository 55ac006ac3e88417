// The serial port service: the operations the instrument links are built on.
//
// A port is a zero-based index (0 is COM1). Every operation returns a signed
// integer; a negative value is one of the error codes below, which
// serial_errors.h turns into the operator's messages. The program talks to
// the process-wide service returned by Serial(): the real one is the shared
// port service (port_service.h) over the platform's devices
// (system_serial.h); tests install a double.
#pragma once

#include <cstdint>

namespace zol {

enum SerialError : int {
  kSerialInvalidPort = -1,
  kSerialAlreadyOpen = -2,
  kSerialCannotOpen = -3,
  kSerialNoMemory = -4,
  kSerialBadDefaults = -5,
  kSerialNoHardware = -10,
  kSerialBadByteSize = -11,
  kSerialBadBaud = -12,
  kSerialNotReady = -13,
  kSerialNoData = -100,
  kSerialOutOfRange = -101,
  kSerialAborted = -102,
  kSerialSystemError = -103,
  kSerialNoBufferMemory = -105,
  kSerialNoThread = -106,
  kSerialTimedOut = -107,
};

// Ports the service can address: indexes 0 to 255.
inline constexpr int kSerialMaxPorts = 256;
// The index that stands for the defaults applied to ports opened later.
inline constexpr int kSerialDefaultsPort = -1;

class SerialService {
 public:
  virtual ~SerialService() = default;

  virtual int Open(int port, int rxQueueSize, int txQueueSize) = 0;
  virtual int Close(int port) = 0;
  virtual int SetBaud(int port, int baud) = 0;
  virtual int SetParams(int port, int parity, int stopBits, int dataBits) = 0;
  virtual int Putc(int port, int ch) = 0;
  virtual int Write(int port, const char* buf, int len) = 0;
  // Next received byte (0..255), or negative when nothing waits. Never blocks.
  virtual int Getc(int port) = 0;
  virtual int RxCount(int port) = 0;
  virtual int TxCount(int port) = 0;
  virtual int RxClear(int port) = 0;
  // 'A' starts a break condition, 'C' ends it.
  virtual int Break(int port, int cmd) = 0;
  // 'S' asserts, 'C' clears the modem control output that wakes the CTD.
  virtual int Line(int port, int cmd) = 0;
  // 'V': version packed as major << 8 | minor << 4 | release; 'B': build number.
  virtual int Version(int selector) = 0;
  // Text of the last operating-system error, NUL-terminated, at most len bytes.
  virtual int ErrorText(char* buf, int len) = 0;

  // Blocks until received bytes wait, timeoutMs passes, or CancelWait(port)
  // is called. Returns the count waiting (> 0), 0 on timeout or cancel, or a
  // negative error code. This is what every wait in the program blocks on.
  virtual int WaitRx(int port, int timeoutMs) = 0;
  // Blocks until the transmitter is empty: 0 when drained, kSerialTimedOut
  // when timeoutMs passed first, or a negative error code.
  virtual int WaitTxEmpty(int port, int timeoutMs) = 0;
  // Wakes a WaitRx blocked on the port (or else the next one to start), from
  // any thread; that wait returns 0.
  virtual void CancelWait(int port) = 0;
};

// The process-wide service. Aborts with a message when none is installed.
SerialService& Serial();
// Makes `service` the process-wide one (nullptr removes it). Not owned.
void InstallSerialService(SerialService* service);

// The operations under the names the rest of the program uses.
int SerialOpen(int port, int rxQueueSize, int txQueueSize);
int SerialClose(int port);
int SerialSetBaud(int port, int baud);
int SerialSetParams(int port, int parity, int stopBits, int dataBits);
int SerialPutc(int port, int ch);
int SerialWrite(int port, const char* buf, int len);
int SerialGetc(int port);
int SerialRxCount(int port);
int SerialTxCount(int port);
int SerialRxClear(int port);
int SerialBreak(int port, int cmd);
int SerialLine(int port, int cmd);
int SerialVersion(int selector);
int SerialErrorText(char* buf, int len);
int SerialWaitRx(int port, int timeoutMs);
int SerialWaitTxEmpty(int port, int timeoutMs);
void SerialCancelWait(int port);

}  // namespace zol
