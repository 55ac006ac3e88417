#include "link/posix/serial_device.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "link/serial_rules.h"
#include "link/serial_service.h"

namespace zol {
namespace {

// The termios speed of each of the table's speeds, in its order.
constexpr speed_t kSpeeds[] = {B300, B1200, B2400, B4800, B9600, B19200, B38400, B57600, B115200};
static_assert(std::size(kSpeeds) == std::size(kSerialBauds));

tcflag_t DataBitsFlag(int dataBits) {
  switch (dataBits) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

int OpenErrorCode(int osError) {
  switch (osError) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case EIO:
      return kSerialNoHardware;
    case EBUSY:
    case EWOULDBLOCK:
      return kSerialAlreadyOpen;
    case EISDIR:
      return kSerialCannotOpen;
    default:
      return kSerialSystemError;
  }
}

// An on-board port node exists whether or not a UART answers behind it; the
// driver then reports the port type as unknown.
bool HasUart(const std::string& path, int fd) {
  constexpr const char kOnBoardPrefix[] = "/dev/ttyS";
  if (path.compare(0, sizeof(kOnBoardPrefix) - 1, kOnBoardPrefix) != 0) return true;
  serial_struct info{};
  if (::ioctl(fd, TIOCGSERIAL, &info) != 0) return true;
  return info.type != PORT_UNKNOWN;
}

DeviceOpenResult Failure(int code, int osError) {
  DeviceOpenResult result;
  result.code = code;
  result.osError = osError;
  return result;
}

}  // namespace

std::string SerialDevicePath(int port) {
  char name[32];
  std::snprintf(name, sizeof name, "ZOLSAMPLER_COM%d", port + 1);
  const char* mapped = std::getenv(name);
  if (mapped != nullptr && mapped[0] != '\0') return mapped;
  std::snprintf(name, sizeof name, "/dev/ttyS%d", port);
  return name;
}

bool IsDeviceGone(int osError) {
  return osError == EIO || osError == ENXIO || osError == ENODEV || osError == EPIPE;
}

DeviceOpenResult OpenSerialDevice(const std::string& path, const LineSettings& settings) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return Failure(OpenErrorCode(errno), errno);
  if (::isatty(fd.Get()) == 0) return Failure(kSerialCannotOpen, ENOTTY);
  // Nothing may change on a device that someone else holds, so the lock
  // comes before any setting. The advisory lock is the whole exclusive hold:
  // it dies with its owner, whereas the terminal's own exclusive mode
  // (TIOCEXCL) outlives a killed owner on a pseudo-terminal and then locks
  // out every unprivileged restart.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    return Failure(error == EWOULDBLOCK ? kSerialAlreadyOpen : kSerialSystemError, error);
  }
  auto device = std::make_unique<SerialDevice>(std::move(fd));
  if (!HasUart(path, device->Fd())) return Failure(kSerialNoHardware, ENXIO);
  int osError = 0;
  if (const int code = ApplyLineSettings(device->Fd(), settings, &osError); code < 0) {
    return Failure(code, osError);
  }
  ApplyModemLines(device->Fd(), settings);
  DeviceOpenResult result;
  result.device = std::move(device);
  return result;
}

int ApplyLineSettings(int fd, const LineSettings& settings, int* osError) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    *osError = errno;
    return IsDeviceGone(*osError) ? kSerialNoHardware : kSerialSystemError;
  }
  ::cfmakeraw(&tio);
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  tio.c_cflag |= DataBitsFlag(settings.dataBits) | CREAD | CLOCAL;
  if (settings.parity != 0) tio.c_cflag |= PARENB;
  if (settings.parity == 1) tio.c_cflag |= PARODD;
  if (settings.stopBits == 2) tio.c_cflag |= CSTOPB;
  // With VMIN 1 a read that finds nothing fails with EAGAIN, so a read of 0
  // bytes can only mean that the device hung up.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (settings.baud != 0) {
    const int index = BaudIndex(settings.baud);
    if (index < 0) return kSerialBadBaud;
    ::cfsetispeed(&tio, kSpeeds[index]);
    ::cfsetospeed(&tio, kSpeeds[index]);
  }
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
    *osError = errno;
    return IsDeviceGone(*osError) ? kSerialNoHardware : kSerialSystemError;
  }
  return 0;
}

void ApplyModemLines(int fd, const LineSettings& settings) {
  int dtr = TIOCM_DTR;
  int rts = TIOCM_RTS;
  ::ioctl(fd, settings.dtr ? TIOCMBIS : TIOCMBIC, &dtr);
  ::ioctl(fd, settings.rts ? TIOCMBIS : TIOCMBIC, &rts);
}

}  // namespace zol
