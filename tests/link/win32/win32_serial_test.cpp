// The Win32 serial port service under wine, against a loop-back
// pseudo-terminal that scripts/windows-check.sh links as a COM port: what
// the service sends comes straight back. ZOL_TEST_ECHO_COM names that port,
// ZOL_TEST_FILE_COM one linked to a plain file.
#include "link/win32/win32_serial.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "link/win32/com_device.h"

namespace zol::test {
namespace {

using Ms = std::chrono::milliseconds;

int64_t NowMs() {
  return std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The zero-based index of the COM port the environment variable names, or -1.
int PortFromEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? std::atoi(value) - 1 : -1;
}

class Win32SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (echo < 0) GTEST_SKIP() << "ZOL_TEST_ECHO_COM is not set (run by scripts/windows-check.sh)";
  }
  int OpenAt(int baud) {
    const int opened = serial->Open(echo, 1024, 1024);
    return opened < 0 ? opened : serial->SetBaud(echo, baud);
  }
  // Every byte received until `count` came or timeoutMs passed.
  std::string Receive(size_t count, int timeoutMs) {
    std::string got;
    const int64_t deadline = NowMs() + timeoutMs;
    while (got.size() < count) {
      const int byte = serial->Getc(echo);
      if (byte >= 0) {
        got.push_back(static_cast<char>(byte));
        continue;
      }
      const int64_t left = deadline - NowMs();
      if (left <= 0 || serial->WaitRx(echo, static_cast<int>(left)) < 0) break;
    }
    return got;
  }
  std::string ErrorText() {
    char text[128];
    serial->ErrorText(text, sizeof text);
    return text;
  }

  const int echo = PortFromEnv("ZOL_TEST_ECHO_COM");
  std::unique_ptr<SerialService> serial = NewWin32Serial();
};

TEST_F(Win32SerialTest, BytesPassBothWaysUntranslated) {
  ASSERT_EQ(OpenAt(115200), 0);
  EXPECT_EQ(serial->Write(echo, "W\r\nSL\r\n", 7), 7);
  EXPECT_EQ(serial->Putc(echo, 0x03), 0);
  EXPECT_EQ(Receive(8, 3000), std::string("W\r\nSL\r\n\x03", 8));

  std::string every;
  for (int c = 0; c < 256; ++c)
    every.push_back(static_cast<char>(c));
  EXPECT_EQ(serial->Write(echo, every.data(), static_cast<int>(every.size())), 256);
  EXPECT_EQ(Receive(every.size(), 3000), every);
}

TEST_F(Win32SerialTest, SpeedsAndFramesOfTheTableOnly) {
  ASSERT_EQ(serial->Open(echo, 1024, 1024), 0);
  for (const int baud : {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200})
    EXPECT_EQ(serial->SetBaud(echo, baud), 0) << baud;
  for (const int baud : {0, -1, 110, 600, 14400, 230400})
    EXPECT_EQ(serial->SetBaud(echo, baud), kSerialBadBaud) << baud;
  EXPECT_EQ(serial->SetParams(echo, 0, 0, 8), 0);
  EXPECT_EQ(serial->SetParams(echo, 2, 2, 7), 0);
  EXPECT_EQ(serial->SetParams(echo, 0, 0, 9), kSerialBadByteSize);
  EXPECT_EQ(serial->SetParams(echo, 3, 0, 8), kSerialOutOfRange);
  EXPECT_EQ(serial->SetParams(echo, 0, 1, 8), kSerialOutOfRange);
  // The defaults take the same checks and open nothing.
  EXPECT_EQ(serial->Open(kSerialDefaultsPort, 1, 1), 0);
  EXPECT_EQ(serial->SetParams(kSerialDefaultsPort, 0, 0, 8), 0);
  EXPECT_EQ(serial->SetBaud(kSerialDefaultsPort, 12345), kSerialBadBaud);
}

TEST_F(Win32SerialTest, IndexesOutsideTheRangeClosedPortsAndSecondOpens) {
  EXPECT_EQ(serial->Open(kSerialMaxPorts, 1024, 1024), kSerialInvalidPort);
  EXPECT_EQ(serial->Open(-2, 1024, 1024), kSerialInvalidPort);
  EXPECT_EQ(serial->Getc(echo), kSerialInvalidPort);
  EXPECT_EQ(serial->Write(echo, "x", 1), kSerialInvalidPort);
  EXPECT_EQ(serial->WaitRx(echo, 10), kSerialInvalidPort);
  EXPECT_EQ(serial->Close(echo), kSerialInvalidPort);
  ASSERT_EQ(serial->Open(echo, 1024, 1024), 0);
  EXPECT_EQ(serial->Open(echo, 1024, 1024), kSerialAlreadyOpen);
  EXPECT_EQ(serial->Break(echo, 'X'), kSerialOutOfRange);
  EXPECT_EQ(serial->Line(echo, 'X'), kSerialOutOfRange);
  EXPECT_EQ(serial->Close(echo), 0);
  EXPECT_EQ(serial->Open(echo, 1024, 1024), 0);
}

TEST_F(Win32SerialTest, MissingPortsAndPortsThatAreNoDevice) {
  // COM200 is linked nowhere.
  EXPECT_EQ(serial->Open(199, 1024, 1024), kSerialNoHardware);
  const int file = PortFromEnv("ZOL_TEST_FILE_COM");
  if (file >= 0) {
    EXPECT_EQ(serial->Open(file, 1024, 1024), kSerialCannotOpen);
  }
}

TEST_F(Win32SerialTest, RxCountCountsRxClearDiscardsGetcNeverBlocks) {
  ASSERT_EQ(OpenAt(9600), 0);
  int64_t start = NowMs();
  for (int i = 0; i < 200; ++i)
    ASSERT_EQ(serial->Getc(echo), kSerialNoData);
  EXPECT_LT(NowMs() - start, 1000);

  ASSERT_EQ(serial->Write(echo, "abcde", 5), 5);
  const int64_t deadline = NowMs() + 3000;
  while (serial->RxCount(echo) < 5 && NowMs() < deadline)
    serial->WaitRx(echo, 100);
  EXPECT_EQ(serial->RxCount(echo), 5);
  EXPECT_EQ(serial->Getc(echo), 'a');
  EXPECT_EQ(serial->RxCount(echo), 4);
  EXPECT_EQ(serial->RxClear(echo), 0);
  EXPECT_EQ(serial->RxCount(echo), 0);
  EXPECT_EQ(serial->Getc(echo), kSerialNoData);
}

TEST_F(Win32SerialTest, WaitRxReturnsWhenDataArrivesOrAtItsTimeout) {
  ASSERT_EQ(OpenAt(9600), 0);
  int64_t start = NowMs();
  EXPECT_EQ(serial->WaitRx(echo, 200), 0);
  EXPECT_GE(NowMs() - start, 190);
  EXPECT_LT(NowMs() - start, 1500);

  std::thread peer([this] {
    std::this_thread::sleep_for(Ms(150));
    serial->Putc(echo, 'A');
  });
  start = NowMs();
  EXPECT_EQ(serial->WaitRx(echo, 5000), 1);
  const int64_t waited = NowMs() - start;
  peer.join();
  EXPECT_GE(waited, 140);
  EXPECT_LT(waited, 1500);
  EXPECT_EQ(serial->Getc(echo), 'A');
}

// User and kernel time of this process so far.
int64_t ProcessCpuMs() {
  FILETIME created{}, exited{}, kernel{}, user{};
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ms = [](const FILETIME& t) {
    return static_cast<int64_t>((uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime) / 10000);
  };
  return ms(kernel) + ms(user);
}

TEST_F(Win32SerialTest, AWaitForSilenceUsesNoProcessor) {
  ASSERT_EQ(OpenAt(9600), 0);
  const int64_t cpuBefore = ProcessCpuMs();
  EXPECT_EQ(serial->WaitRx(echo, 2000), 0);
  EXPECT_LT(ProcessCpuMs() - cpuBefore, 100);
}

TEST_F(Win32SerialTest, CancelWaitWakesTheWaitOrTheNextOne) {
  ASSERT_EQ(OpenAt(9600), 0);
  std::thread canceller([this] {
    std::this_thread::sleep_for(Ms(100));
    serial->CancelWait(echo);
  });
  int64_t start = NowMs();
  EXPECT_EQ(serial->WaitRx(echo, 10000), 0);
  EXPECT_LT(NowMs() - start, 2000);
  canceller.join();

  serial->CancelWait(echo);
  start = NowMs();
  EXPECT_EQ(serial->WaitRx(echo, 10000), 0);
  EXPECT_LT(NowMs() - start, 1000);
  // Used up: the next wait runs to its time.
  start = NowMs();
  EXPECT_EQ(serial->WaitRx(echo, 150), 0);
  EXPECT_GE(NowMs() - start, 140);
}

TEST_F(Win32SerialTest, CloseEndsAWaitAndLeavesNoWakeUpBehind) {
  ASSERT_EQ(OpenAt(9600), 0);
  std::thread closer([this] {
    std::this_thread::sleep_for(Ms(100));
    serial->Close(echo);
  });
  const int64_t start = NowMs();
  EXPECT_EQ(serial->WaitRx(echo, 10000), kSerialInvalidPort);
  EXPECT_LT(NowMs() - start, 2000);
  closer.join();
  ASSERT_EQ(OpenAt(9600), 0);
  const int64_t again = NowMs();
  EXPECT_EQ(serial->WaitRx(echo, 150), 0);
  EXPECT_GE(NowMs() - again, 140);
}

TEST_F(Win32SerialTest, TransmitterDrainsAndBreakWorks) {
  ASSERT_EQ(OpenAt(115200), 0);
  ASSERT_EQ(serial->Write(echo, "TS\r\n", 4), 4);
  const int64_t start = NowMs();
  EXPECT_EQ(serial->WaitTxEmpty(echo, 2000), 0);
  EXPECT_LT(NowMs() - start, 1500);
  EXPECT_EQ(serial->TxCount(echo), 0);
  EXPECT_EQ(Receive(4, 2000), "TS\r\n");
  EXPECT_EQ(serial->Break(echo, 'A'), 0);
  EXPECT_EQ(serial->Break(echo, 'C'), 0);
}

TEST_F(Win32SerialTest, ALineWithoutModemControlGivesTheSystemsReason) {
  ASSERT_EQ(OpenAt(9600), 0);
  const int result = serial->Line(echo, 'S');
  // A pseudo-terminal has no DTR; a real port sets it.
  if (result == 0) GTEST_SKIP() << "this port has modem lines";
  EXPECT_EQ(result, kSerialSystemError);
  const std::string text = ErrorText();
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  // The port goes on working.
  EXPECT_EQ(serial->Write(echo, "ok", 2), 2);
  EXPECT_EQ(Receive(2, 2000), "ok");
}

TEST(Win32SerialNamesTest, VersionPortNamesAndErrorTextBounds) {
  std::unique_ptr<SerialService> serial = NewWin32Serial();
  EXPECT_EQ(serial->Version('V'), 0x100);
  EXPECT_EQ(serial->Version('B'), 1);
  EXPECT_EQ(serial->Version('X'), kSerialOutOfRange);
  EXPECT_EQ(ComPortPath(0), "\\\\.\\COM1");
  EXPECT_EQ(ComPortPath(255), "\\\\.\\COM256");
  // COM256 linked nowhere: the system's reason fits any buffer, cut and ended.
  EXPECT_EQ(serial->Open(255, 1024, 1024), kSerialNoHardware);
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_LE(serial->ErrorText(small, sizeof small), 3);
  EXPECT_EQ(small[3], '\0');
}

}  // namespace
}  // namespace zol::test
