// The bench's UART timing: what is written stays in the transmit queue for
// 10 bit times a byte, and a drain wait blocks for exactly that long.
#include "uart_timed_serial.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "base/clock.h"
#include "support/fake_serial.h"

namespace zol::test {
namespace {

using Steady = std::chrono::steady_clock;

constexpr int kPort = 0;

double MsSince(Steady::time_point start) {
  return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

struct SpeedCase {
  int baud;
  int bytes;  // 100 ms of them at that speed
};

class UartTimedSerialTest : public ::testing::TestWithParam<SpeedCase> {
 protected:
  UartTimedSerialTest() {
    EXPECT_EQ(uart_.Open(kPort, 1024, 1024), 0);
    EXPECT_EQ(uart_.SetBaud(kPort, GetParam().baud), 0);
  }

  UartTimedSerial uart_{std::make_unique<FakeSerial>(SystemClock())};
};

TEST_P(UartTimedSerialTest, TheQueueEmptiesAtTheLineSpeed) {
  const std::string bytes(static_cast<size_t>(GetParam().bytes), 'x');
  const Steady::time_point start = Steady::now();
  ASSERT_EQ(uart_.Write(kPort, bytes.data(), static_cast<int>(bytes.size())), GetParam().bytes);
  const int queued = uart_.TxCount(kPort);
  EXPECT_LE(queued, GetParam().bytes);
  EXPECT_GE(queued, GetParam().bytes * 8 / 10);
  // A wait shorter than the line time gives up.
  EXPECT_EQ(uart_.WaitTxEmpty(kPort, 20), kSerialTimedOut);
  EXPECT_GT(uart_.TxCount(kPort), 0);
  EXPECT_EQ(uart_.WaitTxEmpty(kPort, 1000), 0);
  EXPECT_GE(MsSince(start), 99.0);
  EXPECT_LT(MsSince(start), 600.0);
  EXPECT_EQ(uart_.TxCount(kPort), 0);
}

TEST_P(UartTimedSerialTest, SinglePutsQueueUpOneAfterTheOther) {
  for (int i = 0; i < GetParam().bytes / 2; ++i)
    ASSERT_EQ(uart_.Putc(kPort, 'x'), 0);
  const Steady::time_point start = Steady::now();
  EXPECT_EQ(uart_.WaitTxEmpty(kPort, 1000), 0);
  EXPECT_GE(MsSince(start), 30.0);
  EXPECT_EQ(uart_.TxCount(kPort), 0);
}

INSTANTIATE_TEST_SUITE_P(Speeds, UartTimedSerialTest,
                         ::testing::Values(SpeedCase{9600, 96}, SpeedCase{115200, 1152}),
                         [](const ::testing::TestParamInfo<SpeedCase>& param) {
                           return std::to_string(param.param.baud);
                         });

}  // namespace
}  // namespace zol::test
