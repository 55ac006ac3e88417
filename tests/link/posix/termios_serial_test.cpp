// The real serial port service against pseudo-terminal pairs: the service
// opens the slave through the ZOLSAMPLER_COM<n> mapping, the test plays the
// instrument on the master.
#include "link/posix/termios_serial.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "link/posix/serial_device.h"
#include "support/pty_pair.h"
#include "support/serial_receive.h"
#include "support/temp_dir.h"

namespace zol::test {
namespace {

using Ms = std::chrono::milliseconds;

class TermiosSerialTest : public ::testing::Test {
 protected:
  void SetUp() override { Map(1, pty.SlavePath()); }
  void TearDown() override {
    serial.reset();
    for (const std::string& name : mapped_)
      unsetenv(name.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
  }

  void Map(int comNumber, const std::string& path) {
    const std::string name = "ZOLSAMPLER_COM" + std::to_string(comNumber);
    setenv(name.c_str(), path.c_str(), 1);
    mapped_.push_back(name);
  }
  // A fresh directory for files the test makes.
  std::string Scratch() {
    if (scratch_.empty()) scratch_ = MakeTempDir("zol-serial-");
    EXPECT_FALSE(scratch_.empty());
    return scratch_;
  }
  int OpenAt(int port, int baud) {
    const int opened = serial->Open(port, 1024, 1024);
    return opened < 0 ? opened : serial->SetBaud(port, baud);
  }
  speed_t Speed() {
    const termios settings = pty.SlaveSettings();
    return cfgetospeed(&settings);
  }
  // Every byte the service receives until `count` came or timeoutMs passed.
  std::string Receive(size_t count, int timeoutMs) {
    return ReceiveBytes(*serial, 0, count, timeoutMs);
  }
  std::string ErrorText() {
    char text[128];
    serial->ErrorText(text, sizeof text);
    return text;
  }

  PtyPair pty;
  std::unique_ptr<SerialService> serial = NewTermiosSerial();

 private:
  std::vector<std::string> mapped_;
  std::string scratch_;
};

TEST_F(TermiosSerialTest, OpensRawEightNoneOneWithoutFlowControl) {
  ASSERT_EQ(serial->Open(0, 1024, 1024), 0);
  const termios t = pty.SlaveSettings();
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(serial->Close(0), 0);
  EXPECT_EQ(serial->Close(0), kSerialInvalidPort);
}

TEST_F(TermiosSerialTest, EveryTableSpeedIsSetAndReadBack) {
  const std::vector<std::pair<int, speed_t>> speeds = {
      {300, B300},     {1200, B1200},   {2400, B2400},   {4800, B4800},    {9600, B9600},
      {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}};
  ASSERT_EQ(serial->Open(0, 1024, 1024), 0);
  for (const auto& [baud, speed] : speeds) {
    EXPECT_EQ(serial->SetBaud(0, baud), 0) << baud;
    EXPECT_EQ(Speed(), speed) << baud;
  }
}

TEST_F(TermiosSerialTest, OtherSpeedsAreRefusedAndChangeNothing) {
  ASSERT_EQ(OpenAt(0, 9600), 0);
  for (int baud : {0, -1, 960, 110, 14400, 230400}) {
    EXPECT_EQ(serial->SetBaud(0, baud), kSerialBadBaud) << baud;
    EXPECT_EQ(Speed(), B9600) << baud;
  }
  EXPECT_EQ(serial->SetBaud(kSerialDefaultsPort, 0), kSerialBadBaud);
  EXPECT_EQ(serial->SetBaud(3, 9600), kSerialInvalidPort);
}

// A pseudo-terminal forces 8 bits without parity whatever it is told, so
// only the stop bits and the odd-parity flag show here.
TEST_F(TermiosSerialTest, FrameFollowsTheParametersAndTheDefaults) {
  constexpr tcflag_t kShown = PARODD | CSTOPB;
  EXPECT_EQ(serial->SetParams(kSerialDefaultsPort, 2, 2, 7), 0);
  ASSERT_EQ(serial->Open(0, 1024, 1024), 0);
  EXPECT_EQ(pty.SlaveSettings().c_cflag & kShown, static_cast<tcflag_t>(CSTOPB));

  EXPECT_EQ(serial->SetParams(0, 1, 0, 8), 0);
  EXPECT_EQ(pty.SlaveSettings().c_cflag & kShown, static_cast<tcflag_t>(PARODD));

  EXPECT_EQ(serial->SetParams(0, 0, 0, 9), kSerialBadByteSize);
  EXPECT_EQ(serial->SetParams(0, 0, 0, 4), kSerialBadByteSize);
  EXPECT_EQ(serial->SetParams(0, 5, 0, 8), kSerialOutOfRange);
  EXPECT_EQ(serial->SetParams(0, 0, 1, 8), kSerialOutOfRange);
  EXPECT_EQ(serial->SetParams(0, 0, 2, 8), 0);
  EXPECT_EQ(pty.SlaveSettings().c_cflag & kShown, static_cast<tcflag_t>(CSTOPB));
}

TEST_F(TermiosSerialTest, IndexesOutsideTheRangeAndClosedPortsAreRefused) {
  for (int port : {-2, 256, 1000}) {
    EXPECT_EQ(serial->Open(port, 1024, 1024), kSerialInvalidPort) << port;
    EXPECT_EQ(serial->Getc(port), kSerialInvalidPort) << port;
  }
  EXPECT_EQ(serial->Putc(0, 'x'), kSerialInvalidPort);
  EXPECT_EQ(serial->Getc(0), kSerialInvalidPort);
  EXPECT_EQ(serial->RxCount(0), kSerialInvalidPort);
  EXPECT_EQ(serial->WaitRx(0, 10), kSerialInvalidPort);
  EXPECT_EQ(serial->WaitTxEmpty(0, 10), kSerialInvalidPort);
  EXPECT_EQ(serial->Line(0, 'S'), kSerialInvalidPort);
  EXPECT_EQ(serial->Open(kSerialDefaultsPort, 1, 1), 0);
  ASSERT_EQ(serial->Open(0, 1024, 1024), 0);
  EXPECT_EQ(serial->Line(0, 'X'), kSerialOutOfRange);
  EXPECT_EQ(serial->Break(0, 'X'), kSerialOutOfRange);
}

TEST_F(TermiosSerialTest, APortIsOpenOnceInTheProcess) {
  Map(2, pty.SlavePath());
  ASSERT_EQ(serial->Open(0, 1024, 1024), 0);
  EXPECT_EQ(serial->Open(0, 1024, 1024), kSerialAlreadyOpen);
  // The same device under a second index.
  EXPECT_EQ(serial->Open(1, 1024, 1024), kSerialAlreadyOpen);
  ASSERT_EQ(serial->Close(0), 0);
  EXPECT_EQ(serial->Open(1, 1024, 1024), 0);
}

TEST_F(TermiosSerialTest, APortHeldByAnotherProgramIsRefusedAndLeftAlone) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    // The other program: holds the port at 1200 baud and answers "ping".
    std::unique_ptr<SerialService> own = NewTermiosSerial();
    const bool opened = own->Open(0, 1024, 1024) == 0 && own->SetBaud(0, 1200) == 0;
    [[maybe_unused]] const ssize_t told = write(ready[1], opened ? "1" : "0", 1);
    const std::string heard = ReceiveBytes(*own, 0, 4, 5000);
    own->Write(0, "pong", 4);
    own->WaitTxEmpty(0, 1000);
    _exit(heard == "ping" ? 0 : 2);
  }
  char opened = 0;
  ASSERT_EQ(read(ready[0], &opened, 1), 1);
  ASSERT_EQ(opened, '1');

  EXPECT_EQ(serial->Open(0, 1024, 1024), kSerialAlreadyOpen);
  EXPECT_EQ(Speed(), B1200);
  pty.WriteMaster("ping");
  EXPECT_EQ(pty.ReadMaster(4, 5000), "pong");
  int status = 0;
  ASSERT_EQ(waitpid(holder, &status, 0), holder);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(ready[0]);
  close(ready[1]);
}

TEST_F(TermiosSerialTest, BytesPassBothWaysUntranslated) {
  ASSERT_EQ(OpenAt(0, 115200), 0);
  EXPECT_EQ(serial->Write(0, "W\r\nSL\r\n", 7), 7);
  EXPECT_EQ(serial->Putc(0, 0x03), 0);
  EXPECT_EQ(pty.ReadMaster(8, 2000), std::string("W\r\nSL\r\n\x03", 8));

  std::string every;
  for (int c = 0; c < 256; ++c)
    every.push_back(static_cast<char>(c));
  pty.WriteMaster(every);
  EXPECT_EQ(Receive(every.size(), 3000), every);
}

TEST_F(TermiosSerialTest, RxCountCountsAndRxClearDiscards) {
  ASSERT_EQ(OpenAt(0, 9600), 0);
  pty.WriteMaster("abcde");
  const int64_t deadline = SteadyNowMs() + 2000;
  while (serial->RxCount(0) < 5 && SteadyNowMs() < deadline)
    serial->WaitRx(0, 100);
  EXPECT_EQ(serial->RxCount(0), 5);
  EXPECT_EQ(serial->Getc(0), 'a');
  EXPECT_EQ(serial->RxCount(0), 4);
  EXPECT_EQ(serial->RxClear(0), 0);
  EXPECT_EQ(serial->RxCount(0), 0);
  EXPECT_EQ(serial->Getc(0), kSerialNoData);
}

TEST_F(TermiosSerialTest, GetcNeverBlocks) {
  ASSERT_EQ(OpenAt(0, 9600), 0);
  const int64_t start = SteadyNowMs();
  for (int i = 0; i < 1000; ++i)
    ASSERT_LT(serial->Getc(0), 0);
  EXPECT_LT(SteadyNowMs() - start, 500);
}

TEST_F(TermiosSerialTest, WaitRxReturnsWhenDataArrivesOrAtItsTimeout) {
  ASSERT_EQ(OpenAt(0, 9600), 0);
  int64_t start = SteadyNowMs();
  EXPECT_EQ(serial->WaitRx(0, 200), 0);
  EXPECT_GE(SteadyNowMs() - start, 195);
  EXPECT_LT(SteadyNowMs() - start, 1000);

  std::thread peer([this] {
    std::this_thread::sleep_for(Ms(100));
    pty.WriteMaster("A");
  });
  start = SteadyNowMs();
  EXPECT_EQ(serial->WaitRx(0, 5000), 1);
  const int64_t waited = SteadyNowMs() - start;
  peer.join();
  EXPECT_GE(waited, 90);
  EXPECT_LT(waited, 1000);
  EXPECT_EQ(serial->Getc(0), 'A');
}

TEST_F(TermiosSerialTest, CancelWaitWakesTheWaitOrTheNextOne) {
  ASSERT_EQ(OpenAt(0, 9600), 0);
  std::thread canceller([this] {
    std::this_thread::sleep_for(Ms(100));
    serial->CancelWait(0);
  });
  int64_t start = SteadyNowMs();
  EXPECT_EQ(serial->WaitRx(0, 10000), 0);
  EXPECT_LT(SteadyNowMs() - start, 2000);
  canceller.join();

  serial->CancelWait(0);
  start = SteadyNowMs();
  EXPECT_EQ(serial->WaitRx(0, 10000), 0);
  EXPECT_LT(SteadyNowMs() - start, 1000);
  // Used up: the next wait runs to its time.
  start = SteadyNowMs();
  EXPECT_EQ(serial->WaitRx(0, 150), 0);
  EXPECT_GE(SteadyNowMs() - start, 145);
}

TEST_F(TermiosSerialTest, CloseEndsAWaitOnThePort) {
  ASSERT_EQ(OpenAt(0, 9600), 0);
  std::thread closer([this] {
    std::this_thread::sleep_for(Ms(100));
    serial->Close(0);
  });
  const int64_t start = SteadyNowMs();
  EXPECT_EQ(serial->WaitRx(0, 10000), kSerialInvalidPort);
  EXPECT_LT(SteadyNowMs() - start, 2000);
  closer.join();
  // The wake-up of the close is not left over for the port's next life.
  ASSERT_EQ(OpenAt(0, 9600), 0);
  EXPECT_EQ(serial->WaitRx(0, 150), 0);
}

TEST_F(TermiosSerialTest, TransmitterCountAndDrain) {
  ASSERT_EQ(OpenAt(0, 115200), 0);
  ASSERT_EQ(serial->Write(0, "TS\r\n", 4), 4);
  const int64_t start = SteadyNowMs();
  EXPECT_EQ(serial->WaitTxEmpty(0, 2000), 0);
  EXPECT_LT(SteadyNowMs() - start, 1000);
  EXPECT_EQ(serial->TxCount(0), 0);
  EXPECT_EQ(pty.ReadMaster(4, 1000), "TS\r\n");
}

TEST_F(TermiosSerialTest, AWriteNobodyTakesIsBoundedInTime) {
  ASSERT_EQ(OpenAt(0, 115200), 0);
  const std::string chunk(4096, 'x');
  const int64_t start = SteadyNowMs();
  int written = 0;
  int calls = 0;
  do {
    written = serial->Write(0, chunk.data(), static_cast<int>(chunk.size()));
    ++calls;
  } while (written == static_cast<int>(chunk.size()) && calls < 1000);
  EXPECT_GE(written, 0);
  EXPECT_LT(written, static_cast<int>(chunk.size()));
  EXPECT_LT(SteadyNowMs() - start, 5000);
}

TEST_F(TermiosSerialTest, PathsThatAreNoTerminal) {
  const std::string dir = Scratch();
  const std::string file = dir + "/plain";
  std::FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  const std::string loop = dir + "/loop";
  ASSERT_EQ(symlink(loop.c_str(), loop.c_str()), 0);

  const std::vector<std::pair<std::string, int>> cases = {
      {file, kSerialCannotOpen},
      {dir, kSerialCannotOpen},
      {"/dev/null", kSerialCannotOpen},
      {dir + "/missing", kSerialNoHardware},
      {file + "/below", kSerialNoHardware},
      {loop, kSerialSystemError},
  };
  for (const auto& [path, code] : cases) {
    Map(1, path);
    EXPECT_EQ(serial->Open(0, 1024, 1024), code) << path;
  }
  EXPECT_EQ(ErrorText(), std::strerror(ELOOP));
}

TEST_F(TermiosSerialTest, PermissionProblemGivesTheSystemsReason) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens the device whatever its mode";
  ASSERT_EQ(chmod(pty.SlavePath().c_str(), 0), 0);
  EXPECT_EQ(serial->Open(0, 1024, 1024), kSerialSystemError);
  EXPECT_EQ(ErrorText(), "Permission denied");
}

TEST_F(TermiosSerialTest, VersionAndBuild) {
  EXPECT_EQ(serial->Version('V'), 0x100);
  EXPECT_EQ(serial->Version('B'), 1);
  EXPECT_EQ(serial->Version('x'), kSerialOutOfRange);
}

TEST_F(TermiosSerialTest, PortIndexMapsToTheEnvironmentOrTheOnBoardPort) {
  EXPECT_EQ(SerialDevicePath(0), pty.SlavePath());
  Map(1, "");
  EXPECT_EQ(SerialDevicePath(0), "/dev/ttyS0");
  unsetenv("ZOLSAMPLER_COM256");
  EXPECT_EQ(SerialDevicePath(255), "/dev/ttyS255");
  Map(256, "/dev/ttyUSB3");
  EXPECT_EQ(SerialDevicePath(255), "/dev/ttyUSB3");
}

// The sampling thread waits and reads while the main thread and the control
// thread send and ask: nothing is lost, nothing deadlocks.
TEST_F(TermiosSerialTest, ThreadsShareAPort) {
  ASSERT_EQ(OpenAt(0, 115200), 0);
  std::string expected;
  for (int i = 0; i < 2000; ++i)
    expected.push_back(static_cast<char>('a' + i % 26));
  std::string received;
  std::thread reader([&] { received = Receive(expected.size(), 10000); });
  std::thread instrument([&] {
    for (size_t at = 0; at < expected.size(); at += 100) {
      pty.WriteMaster(std::string_view(expected).substr(at, 100));
      std::this_thread::sleep_for(Ms(1));
    }
  });
  std::thread control([&] {
    for (int i = 0; i < 200; ++i) {
      serial->Putc(0, 0x03);
      serial->TxCount(0);
      serial->Line(0, i % 2 == 0 ? 'S' : 'C');
    }
  });
  for (int i = 0; i < 200; ++i) {
    serial->Putc(0, '!');
    serial->RxCount(0);
  }
  control.join();
  instrument.join();
  reader.join();
  EXPECT_EQ(received, expected);
  const std::string sent = pty.ReadMaster(400, 3000);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), '!'), 200);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), '\x03'), 200);
}

}  // namespace
}  // namespace zol::test
