#include "link/win32/com_device.h"

#include <cstdio>

#include "link/serial_service.h"

namespace zol {
namespace {

int OpenErrorCode(DWORD osError) {
  switch (osError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return kSerialNoHardware;
    // Another program holds the port.
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return kSerialAlreadyOpen;
    default:
      return kSerialSystemError;
  }
}

BYTE ParityCode(int parity) {
  return parity == 1 ? ODDPARITY : parity == 2 ? EVENPARITY : NOPARITY;
}

// Raw bytes, the frame, and nothing that could stop the line: no handshake
// of any kind, no error that aborts I/O.
void FillDcb(DCB& dcb, const LineSettings& settings) {
  if (settings.baud > 0) dcb.BaudRate = static_cast<DWORD>(settings.baud);
  dcb.fBinary = TRUE;
  dcb.fParity = settings.parity != 0 ? TRUE : FALSE;
  dcb.Parity = ParityCode(settings.parity);
  dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.fDtrControl = settings.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
  dcb.fRtsControl = settings.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
}

// No time limits of the driver's own: a read ends when the bytes it asks
// for are there, a write when its bytes are sent. The service asks only for
// bytes that have arrived, and ends its waits itself.
bool ClearTimeouts(HANDLE port) {
  COMMTIMEOUTS timeouts{};
  return ::SetCommTimeouts(port, &timeouts) != FALSE;
}

ComOpenResult Failure(int code, DWORD osError) {
  ComOpenResult result;
  result.code = code;
  result.osError = osError;
  return result;
}

}  // namespace

std::string ComPortPath(int port) {
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", port + 1);
  return name;
}

bool IsComPortGone(DWORD osError) {
  switch (osError) {
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_ACCESS_DENIED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE:
      return true;
    default:
      return false;
  }
}

int ApplyComSettings(HANDLE port, const LineSettings& settings, DWORD* osError) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(port, &dcb)) {
    *osError = ::GetLastError();
    return kSerialSystemError;
  }
  FillDcb(dcb, settings);
  if (!::SetCommState(port, &dcb)) {
    *osError = ::GetLastError();
    return kSerialSystemError;
  }
  return 0;
}

ComOpenResult OpenComPort(const std::string& path, const LineSettings& settings, int rxQueueSize,
                          int txQueueSize) {
  UniqueHandle port(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!port.Valid()) {
    const DWORD error = ::GetLastError();
    return Failure(OpenErrorCode(error), error);
  }
  DCB probe{};
  probe.DCBlength = sizeof probe;
  // Something that opens but is no communications device.
  if (!::GetCommState(port.Get(), &probe)) return Failure(kSerialCannotOpen, ::GetLastError());
  DWORD error = 0;
  // Queue sizes are a request; a driver that keeps its own is no failure.
  ::SetupComm(port.Get(), static_cast<DWORD>(rxQueueSize), static_cast<DWORD>(txQueueSize));
  if (const int code = ApplyComSettings(port.Get(), settings, &error); code < 0)
    return Failure(code, error);
  if (!ClearTimeouts(port.Get())) return Failure(kSerialSystemError, ::GetLastError());
  // Whatever an earlier owner left in the queues is not this run's.
  if (!::PurgeComm(port.Get(), PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR))
    return Failure(kSerialSystemError, ::GetLastError());
  ComOpenResult result;
  result.handle = std::move(port);
  return result;
}

}  // namespace zol
