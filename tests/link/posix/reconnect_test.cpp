// An adapter unplugged and plugged back in. The port's path is a symlink the
// test re-points from one pseudo-terminal to the next; closing a master makes
// its slave hang up and vanish, as an unplugged USB adapter does.
#include <gtest/gtest.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "link/posix/termios_serial.h"
#include "support/pty_pair.h"
#include "support/serial_receive.h"
#include "support/temp_dir.h"

namespace zol::test {
namespace {

int64_t ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

class ReconnectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir("zol-replug-");
    ASSERT_FALSE(dir_.empty());
    link_ = dir_ + "/com1";
    PointAt(*first);
    setenv("ZOLSAMPLER_COM1", link_.c_str(), 1);
  }
  void TearDown() override {
    serial.reset();
    unsetenv("ZOLSAMPLER_COM1");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Swaps the link in one step, as udev does.
  void PointAt(const PtyPair& pty) {
    const std::string fresh = dir_ + "/fresh";
    ASSERT_EQ(symlink(pty.SlavePath().c_str(), fresh.c_str()), 0);
    ASSERT_EQ(std::rename(fresh.c_str(), link_.c_str()), 0);
  }
  // The link goes with the device, as udev's links do; left in place it
  // could soon name a pseudo-terminal of another test running meanwhile.
  void Unplug() {
    std::remove(link_.c_str());
    first->CloseSlave();
    first->CloseMaster();
  }
  std::string Receive(size_t count, int timeoutMs) {
    return ReceiveBytes(*serial, 0, count, timeoutMs);
  }
  // Waits on the port until the service has taken `pty` over (raw mode set).
  bool TakenOver(const PtyPair& pty, int timeoutMs) {
    const int64_t deadline = SteadyNowMs() + timeoutMs;
    while (SteadyNowMs() < deadline) {
      if ((pty.SlaveSettings().c_lflag & ICANON) == 0) return true;
      serial->WaitRx(0, 100);
    }
    return false;
  }

  std::unique_ptr<PtyPair> first = std::make_unique<PtyPair>();
  std::unique_ptr<SerialService> serial = NewTermiosSerial();

 private:
  std::string dir_;
  std::string link_;
};

TEST_F(ReconnectTest, AGonePortStaysQuietWithoutSpinning) {
  ASSERT_EQ(serial->Open(0, 1024, 1024), 0);
  ASSERT_EQ(serial->SetBaud(0, 9600), 0);
  first->WriteMaster("before");
  EXPECT_EQ(Receive(6, 2000), "before");
  Unplug();

  const int64_t cpuBefore = ThreadCpuMs();
  const int64_t start = SteadyNowMs();
  EXPECT_EQ(serial->WaitRx(0, 1500), 0);
  EXPECT_GE(SteadyNowMs() - start, 1495);
  EXPECT_LT(ThreadCpuMs() - cpuBefore, 100);

  EXPECT_EQ(serial->Getc(0), kSerialNoData);
  EXPECT_EQ(serial->RxCount(0), 0);
  EXPECT_EQ(serial->Write(0, "dropped", 7), 0);
  EXPECT_EQ(serial->Putc(0, 'x'), 0);
  EXPECT_EQ(serial->TxCount(0), 0);
  EXPECT_EQ(serial->WaitTxEmpty(0, 1000), 0);
  EXPECT_EQ(serial->RxClear(0), 0);
  EXPECT_EQ(serial->Close(0), 0);
}

TEST_F(ReconnectTest, ThePortComesBackWithItsSettingsAndItsLock) {
  ASSERT_EQ(serial->Open(0, 1024, 1024), 0);
  ASSERT_EQ(serial->SetBaud(0, 19200), 0);
  ASSERT_EQ(serial->SetParams(0, 0, 2, 8), 0);
  Unplug();
  EXPECT_EQ(serial->WaitRx(0, 200), 0);
  // Settings changed while the device is away are the ones it returns with.
  EXPECT_EQ(serial->SetBaud(0, 57600), 0);
  EXPECT_EQ(serial->Line(0, 'S'), 0);

  PtyPair second;
  PointAt(second);
  ASSERT_TRUE(TakenOver(second, 3000));
  const termios settings = second.SlaveSettings();
  EXPECT_EQ(cfgetospeed(&settings), B57600);
  EXPECT_NE(settings.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(settings.c_iflag & (IXON | IXOFF), 0u);

  second.WriteMaster("after");
  EXPECT_EQ(Receive(5, 2000), "after");
  EXPECT_EQ(serial->Write(0, "back", 4), 4);
  EXPECT_EQ(second.ReadMaster(4, 2000), "back");

  std::unique_ptr<SerialService> other = NewTermiosSerial();
  EXPECT_EQ(other->Open(0, 1024, 1024), kSerialAlreadyOpen);
}

TEST_F(ReconnectTest, AnyCallFindsTheDeviceAgainNotOnlyAWait) {
  ASSERT_EQ(serial->Open(0, 1024, 1024), 0);
  Unplug();
  EXPECT_EQ(serial->Getc(0), kSerialNoData);
  PtyPair second;
  PointAt(second);
  // Reopening is tried at most once a second; plain reads drive it here.
  int64_t deadline = SteadyNowMs() + 3000;
  while ((second.SlaveSettings().c_lflag & ICANON) != 0 && SteadyNowMs() < deadline) {
    EXPECT_EQ(serial->Getc(0), kSerialNoData);
    usleep(50 * 1000);
  }
  EXPECT_EQ(second.SlaveSettings().c_lflag & ICANON, 0u);
  second.WriteMaster("Z");
  int got = kSerialNoData;
  deadline = SteadyNowMs() + 2000;
  while ((got = serial->Getc(0)) < 0 && SteadyNowMs() < deadline)
    usleep(10 * 1000);
  EXPECT_EQ(got, 'Z');
  EXPECT_EQ(serial->Write(0, "ok", 2), 2);
  EXPECT_EQ(second.ReadMaster(2, 2000), "ok");
}

TEST_F(ReconnectTest, ClosedWhileGoneOpensAfreshLater) {
  ASSERT_EQ(serial->Open(0, 1024, 1024), 0);
  Unplug();
  EXPECT_EQ(serial->WaitRx(0, 100), 0);
  EXPECT_EQ(serial->Close(0), 0);
  EXPECT_EQ(serial->Open(0, 1024, 1024), kSerialNoHardware);
  PtyPair second;
  PointAt(second);
  EXPECT_EQ(serial->Open(0, 1024, 1024), 0);
}

}  // namespace
}  // namespace zol::test
