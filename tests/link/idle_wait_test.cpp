// Waits on the real clock: an idle wait must cost no CPU, a reply must be
// acted on at once, and two threads' waits must keep their own deadlines.
// ZOL_IDLE_WAIT_S (default 3) sets how long the idle waits last; 25 measures
// the full TakeSample wait.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "base/clock.h"
#include "link/line_primitives.h"
#include "link/serial_service.h"
#include "link/zol_protocol.h"
#include "support/console_capture.h"
#include "support/fake_serial.h"
#include "support/instrument_peers.h"

namespace zol::test {
namespace {

using Steady = std::chrono::steady_clock;

constexpr int kPort = 0;
// Far above what blocking waits use (well under a millisecond per second),
// far below what a spinning wait burns (the whole wait).
constexpr double kIdleCpuBudgetMs = 50.0;

double ProcessCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

int64_t MsSince(Steady::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start).count();
}

int IdleSeconds() {
  const char* text = std::getenv("ZOL_IDLE_WAIT_S");
  const int seconds = text != nullptr ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 3;
}

// The in-memory line in real time, on the system's clock.
class RealTimeTest : public ::testing::Test {
 protected:
  RealTimeTest() {
    InstallClock(nullptr);
    InstallSerialService(&serial);
  }
  ~RealTimeTest() override { InstallSerialService(nullptr); }

  FakeSerial serial{SystemClock()};
  ConsoleCapture console;
};

TEST_F(RealTimeTest, AnIdleReadLineCostsNoCpu) {
  const int seconds = IdleSeconds();
  const Steady::time_point start = Steady::now();
  const double cpuBefore = ProcessCpuMs();
  char buf[32];
  EXPECT_EQ(ReadLine(kPort, buf, sizeof buf, static_cast<uint16_t>(seconds)), 0);
  const double cpuMs = ProcessCpuMs() - cpuBefore;
  EXPECT_GE(MsSince(start), seconds * 1000);
  EXPECT_LT(cpuMs, kIdleCpuBudgetMs);
  std::printf("ReadLine idle %d s: %.2f ms CPU\n", seconds, cpuMs);
}

TEST_F(RealTimeTest, AnIdleTakeSampleCostsNoCpu) {
  const int seconds = IdleSeconds();
  ZolPeer zol(serial, SystemClock(), kPort);
  // Up to 24 s the ZOL finishes then; at 25 s and above the wait runs out.
  const bool finishes = seconds < 25;
  zol.measureMs = seconds * 1000;
  zol.noSampleDone = !finishes;
  const Steady::time_point start = Steady::now();
  const double cpuBefore = ProcessCpuMs();
  EXPECT_EQ(TakeSample(kPort), finishes ? 1 : -2);
  const double cpuMs = ProcessCpuMs() - cpuBefore;
  EXPECT_GE(MsSince(start), finishes ? seconds * 1000 : 25000);
  EXPECT_LT(cpuMs, kIdleCpuBudgetMs);
  std::printf("TakeSample over %lld ms: %.2f ms CPU\n", static_cast<long long>(MsSince(start)),
              cpuMs);
}

// Delivers `bytes` after `delayMs` from a thread of its own and records when.
class LateDelivery {
 public:
  LateDelivery(FakeSerial& serial, const char* bytes, int delayMs)
      : thread_([&serial, bytes, delayMs, this] {
          std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
          deliveredAt_ = Steady::now();
          serial.Deliver(kPort, bytes);
        }) {}
  ~LateDelivery() {
    if (thread_.joinable()) thread_.join();
  }
  LateDelivery(const LateDelivery&) = delete;
  LateDelivery& operator=(const LateDelivery&) = delete;

  // Milliseconds from the delivery to now, after the thread has ended.
  double MsSinceDelivery() {
    thread_.join();
    return std::chrono::duration<double, std::milli>(Steady::now() - deliveredAt_).count();
  }

 private:
  Steady::time_point deliveredAt_;
  std::thread thread_;
};

TEST_F(RealTimeTest, AReplyIsActedOnAtOnce) {
  // The bound is generous for a loaded machine; the figure is printed.
  constexpr double kReactionBoundMs = 25.0;
  {
    LateDelivery delivery(serial, ">", 300);
    EXPECT_EQ(GetcTimed(kPort, 2), '>');
    const double ms = delivery.MsSinceDelivery();
    EXPECT_LT(ms, kReactionBoundMs);
    std::printf("GetcTimed reacted in %.3f ms\n", ms);
  }
  {
    LateDelivery delivery(serial, "ACK\r\n", 300);
    char buf[32];
    EXPECT_EQ(ReadLine(kPort, buf, sizeof buf, 2), 3);
    const double ms = delivery.MsSinceDelivery();
    EXPECT_LT(ms, kReactionBoundMs);
    std::printf("ReadLine reacted in %.3f ms\n", ms);
  }
}

TEST_F(RealTimeTest, TwoThreadsWaitingKeepTheirOwnDeadlines) {
  constexpr int kOtherPort = 1;
  int64_t firstMs = 0;
  const Steady::time_point start = Steady::now();
  std::thread first([&firstMs, start] {
    char buf[32];
    ReadLine(kPort, buf, sizeof buf, 1);
    firstMs = MsSince(start);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  char buf[32];
  EXPECT_EQ(ReadLine(kOtherPort, buf, sizeof buf, 1), 0);
  first.join();
  // The later start on this thread does not push the first wait to 1.5 s.
  EXPECT_GE(firstMs, 1000);
  EXPECT_LT(firstMs, 1400);
  EXPECT_GE(MsSince(start), 1500);
}

}  // namespace
}  // namespace zol::test
