// Port set-up and the one place where serial failures end the program. The
// in-memory service stands in for the ports; a thin probe around it shows
// every Close, and a probe clock every pause, in the console output, so one
// exact string pins down the order of messages, closes, beeps and pauses.
#include "app/port_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "base/console_out.h"
#include "support/test_rig.h"

namespace zol::test {
namespace {

class ProbeSerial final : public SerialService {
 public:
  explicit ProbeSerial(FakeSerial& inner) : inner_(inner) {}

  int defaultsOpenResult = 0;
  int defaultsParamsResult = 0;
  std::vector<std::string> calls;

  int Open(int port, int rx, int tx) override {
    Record("open", {port, rx, tx});
    if (port == kSerialDefaultsPort && defaultsOpenResult < 0) return defaultsOpenResult;
    return inner_.Open(port, rx, tx);
  }
  int Close(int port) override {
    ConsolePrintf("<close %d>", port);
    return inner_.Close(port);
  }
  int SetParams(int port, int parity, int stopBits, int dataBits) override {
    Record("params", {port, parity, stopBits, dataBits});
    if (port == kSerialDefaultsPort && defaultsParamsResult < 0) return defaultsParamsResult;
    return inner_.SetParams(port, parity, stopBits, dataBits);
  }
  int ErrorText(char* buf, int len) override {
    Record("errortext", {len});
    return inner_.ErrorText(buf, len);
  }
  int SetBaud(int port, int baud) override { return inner_.SetBaud(port, baud); }
  int Putc(int port, int ch) override { return inner_.Putc(port, ch); }
  int Write(int port, const char* buf, int len) override { return inner_.Write(port, buf, len); }
  int Getc(int port) override { return inner_.Getc(port); }
  int RxCount(int port) override { return inner_.RxCount(port); }
  int TxCount(int port) override { return inner_.TxCount(port); }
  int RxClear(int port) override { return inner_.RxClear(port); }
  int Break(int port, int cmd) override { return inner_.Break(port, cmd); }
  int Line(int port, int cmd) override { return inner_.Line(port, cmd); }
  int Version(int selector) override { return inner_.Version(selector); }
  int WaitRx(int port, int ms) override { return inner_.WaitRx(port, ms); }
  int WaitTxEmpty(int port, int ms) override { return inner_.WaitTxEmpty(port, ms); }
  void CancelWait(int port) override { inner_.CancelWait(port); }

 private:
  void Record(const std::string& name, std::initializer_list<int> args) {
    std::string call = name;
    for (int arg : args)
      call += " " + std::to_string(arg);
    calls.push_back(call);
  }
  FakeSerial& inner_;
};

class ProbeClock final : public Clock {
 public:
  explicit ProbeClock(FakeClock& inner) : inner_(inner) {}
  int64_t WallSeconds() override { return inner_.WallSeconds(); }
  int64_t MonotonicMs() override { return inner_.MonotonicMs(); }
  void SleepMs(int ms) override {
    ConsolePrintf("<pause %d>", ms);
    inner_.SleepMs(ms);
  }

 private:
  FakeClock& inner_;
};

// A POSIX extended expression that matches exactly `text`.
std::string Exactly(const std::string& text) {
  std::string pattern = "^";
  for (char c : text) {
    if (std::string_view(".[]{}()\\*+?^$|").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  return pattern + "$";
}

const std::string kFatalEnd = "(exiting)...\n\a<pause 2500>\a";
const std::string kServiceStart =
    "Win64 WSC Version 1.2.3 (Build 7)\n"
    "Overlapped I/O is disabled\n"
    "Setting DTR & RTS on\n"
    "Setting no parity, 8 data bits, & one stop bit (8N1)\n";

class PortSetupTest : public ::testing::Test {
 protected:
  PortSetupTest() {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    InstallSerialService(&probe);
    InstallClock(&clock);
  }

  TestRig rig;
  ProbeSerial probe{rig.serial};
  ProbeClock clock{rig.clock};
};

// In a death test the console is the child's standard error, which is what
// the expectation sees.
#define EXPECT_ENDS_PRINTING(statement, status, text) \
  EXPECT_EXIT(                                        \
      {                                               \
        SetConsoleStream(stderr);                     \
        statement;                                    \
      },                                              \
      ::testing::ExitedWithCode(status), Exactly(text))

TEST_F(PortSetupTest, EveryErrorCodeHasItsMessage) {
  const std::vector<std::pair<int, std::string>> table = {
      {-1, "Invalid COM port\n"},
      {-2, "COM port already open\n"},
      {-3, "Cannot open COM port\n"},
      {-4, "Cannot allocate memory\n"},
      {-5, "Error in default parameters\n"},
      {-10, "COM port hardware not present\n"},
      {-11, "Unsupported byte size\n"},
      {-12, "Unsupported baud rate\n"},
      {-13, "Event I/O error (virtual port not ready ?)\n"},
      {-100, "No Data\n"},
      {-101, "Parameter out of range\n"},
      {-102, "Aborted"},
      {-103, "Error Fake failure\n"},
      {-105, "Cannot allocate memory for buffers\n"},
      {-106, "Cannot start thread\n"},
      {-107, "Operation timed out\n"},
      {-6, "Unknown code -6\n"},
      {-9, "Unknown code -9\n"},
      {-14, "Unknown code -14\n"},
      {-99, "Unknown code -99\n"},
      {-104, "Unknown code -104\n"},
      {0, "Unknown code 0\n"},
      {5, "Unknown code 5\n"},
  };
  for (const auto& [code, text] : table) {
    ReportSerialError(code, nullptr);
    EXPECT_EQ(rig.console.Take(), text) << "code " << code;
  }
}

TEST_F(PortSetupTest, HeadingComesFirstOnItsOwnLine) {
  ReportSerialError(-12, "Opening COM2");
  EXPECT_EQ(rig.console.Take(), "Opening COM2\nUnsupported baud rate\n");
}

TEST_F(PortSetupTest, SystemErrorTextIsFetchedIntoTheProcessBuffer) {
  ReportSerialError(-103, nullptr);
  EXPECT_EQ(probe.calls, std::vector<std::string>{"errortext 128"});
}

TEST_F(PortSetupTest, StartPrintsTheBannerAndSetsTheDefaultsInOrder) {
  InitSerialLibrary();
  EXPECT_EQ(rig.console.Take(), kServiceStart);
  EXPECT_EQ(probe.calls, (std::vector<std::string>{"open -1 1 1", "params -1 0 0 8"}));
}

TEST_F(PortSetupTest, VersionIsUnpackedWithoutMaskingTheMajor) {
  const std::vector<std::pair<int, std::string>> table = {
      {0x123, "1.2.3"}, {0x100, "1.0.0"}, {0x1234, "18.3.4"}, {-1, "-1.15.15"}};
  for (const auto& [packed, text] : table) {
    rig.serial.SetVersion(packed, 42);
    InitSerialLibrary();
    const std::string out = rig.console.Take();
    EXPECT_EQ(out.substr(0, out.find('\n') + 1), "Win64 WSC Version " + text + " (Build 42)\n");
  }
}

TEST_F(PortSetupTest, FailedDefaultsEndWithNothingClosed) {
  probe.defaultsOpenResult = kSerialBadDefaults;
  EXPECT_ENDS_PRINTING(InitSerialLibrary(), 1,
                       "Win64 WSC Version 1.2.3 (Build 7)\n"
                       "Overlapped I/O is disabled\n"
                       "Setting DTR & RTS on\n"
                       "Error in default parameters\n" +
                           kFatalEnd);
  probe.defaultsOpenResult = 0;
  probe.defaultsParamsResult = kSerialBadByteSize;
  EXPECT_ENDS_PRINTING(InitSerialLibrary(), 1,
                       kServiceStart + "Unsupported byte size\n" + kFatalEnd);
}

TEST_F(PortSetupTest, OpenPortOpensWithQueuesAndSetsTheSpeed) {
  OpenPort(0, 9600);
  OpenPort(19, 115200);
  EXPECT_EQ(rig.console.Take(), "Port 1 Flow control not set\nPort 20 Flow control not set\n");
  EXPECT_EQ(rig.serial.Log(0), (std::vector<std::string>{"open", "baud:9600"}));
  EXPECT_EQ(rig.serial.Baud(19), 115200);
  EXPECT_EQ(probe.calls, (std::vector<std::string>{"open 0 1024 1024", "open 19 1024 1024"}));
}

TEST_F(PortSetupTest, FailedOpenClosesThatPortAndEndsWithStatusOne) {
  rig.serial.SetOpenResult(1, kSerialAlreadyOpen);
  EXPECT_ENDS_PRINTING(OpenPort(1, 9600), 1, "COM port already open\n<close 1>" + kFatalEnd);
}

TEST_F(PortSetupTest, RefusedSpeedClosesThatPort) {
  rig.serial.SetBaudResult(0, kSerialBadBaud);
  EXPECT_ENDS_PRINTING(OpenPort(0, -1), 1, "Unsupported baud rate\n<close 0>" + kFatalEnd);
}

TEST_F(PortSetupTest, FailedCtdPortLeavesTheZolPortAlone) {
  rig.serial.SetOpenResult(1, kSerialNoHardware);
  EXPECT_ENDS_PRINTING(
      {
        OpenPort(0, 9600);
        OpenPort(1, 9600);
      },
      1, "Port 1 Flow control not set\nCOM port hardware not present\n<close 1>" + kFatalEnd);
}

TEST_F(PortSetupTest, CheckSerialResultPassesSuccessThrough) {
  EXPECT_EQ(CheckSerialResult(2, 5), 5);
  EXPECT_EQ(CheckSerialResult(-1, 0), 0);
  EXPECT_EQ(rig.console.Take(), "");
}

TEST_F(PortSetupTest, CheckSerialResultEndsOnFailure) {
  EXPECT_ENDS_PRINTING(CheckSerialResult(2, -3), 1, "Cannot open COM port\n<close 2>" + kFatalEnd);
  EXPECT_ENDS_PRINTING(CheckSerialResult(-1, -3), 1, "Cannot open COM port\n" + kFatalEnd);
}

TEST_F(PortSetupTest, AbortedLeavesTheExitNoticeOnTheSameLine) {
  EXPECT_ENDS_PRINTING(FatalSerialError(-1, kSerialAborted), 1, "Aborted" + kFatalEnd);
}

TEST_F(PortSetupTest, FatalExitBeepsAroundThePauseAndExitsWithItsStatus) {
  EXPECT_ENDS_PRINTING(FatalExit(0), 0, kFatalEnd);
  EXPECT_ENDS_PRINTING(FatalExit(3), 3, kFatalEnd);
}

TEST_F(PortSetupTest, ScanReportsFoundAndNotReadyPortsAndClosesOnlyTheFound) {
  for (int port = 0; port < kSerialMaxPorts; ++port) {
    rig.serial.SetOpenResult(port, kSerialNoHardware);
  }
  rig.serial.SetOpenResult(0, 0);
  rig.serial.SetOpenResult(7, 0);
  rig.serial.SetOpenResult(4, kSerialNotReady);
  rig.serial.SetOpenResult(9, kSerialAlreadyOpen);
  EXPECT_ENDS_PRINTING(ScanPorts(), 0,
                       kServiceStart +
                           "\nChecking COM1 through COM256...\n"
                           "COM1: OK, port exists\n<close 0>"
                           "COM5: Port exists but not enabled (event I/O error -13)\n"
                           "COM8: OK, port exists\n<close 7>"
                           "\n2 port(s) found\n"
                           "1 'not ready' port(s) found (virtual port not ready?)\n" +
                           kFatalEnd);
}

}  // namespace
}  // namespace zol::test
