// The ZOL exchanges against a scripted instrument: the bytes on the wire, the
// results, the console messages and the waits (on the driven clock).
#include "link/zol_protocol.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/instrument_peers.h"
#include "support/test_rig.h"
#include "support/trickle_line.h"

namespace zol::test {
namespace {

constexpr int kPort = 0;
const std::string kMenuMessage = "\nZOL is in MENU MODE, sending a CTRL_C\n";

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i)
    out += text;
  return out;
}

class ZolProtocolTest : public ::testing::Test {
 protected:
  int64_t Elapsed() { return rig.clock.MonotonicMs() - start; }
  // Replaces the scripted ZOL by one that answers each command with
  // reply(command) (no answer when empty), 5 ms later, with CR LF.
  void Answer(std::function<std::string(const std::string&)> reply) {
    rig.serial.SetPeer(kPort, [this, reply](int, std::string_view command) {
      const std::string line = reply(std::string(command));
      if (!line.empty()) rig.serial.Deliver(kPort, line + "\r\n", 5);
    });
  }

  TestRig rig;
  ZolPeer zol{rig.serial, rig.clock, kPort};
  int64_t start = rig.clock.MonotonicMs();
};

struct WakeCase {
  const char* name;
  int ignoreWakes;
  int menuWakes;
  std::string wakeReply;
  int expected;
  std::string sent;
  std::string console;
  int64_t elapsedMs;
};

TEST(WakeZolTest, TriesUpToTenTimes) {
  const std::vector<WakeCase> cases = {
      {"answers at once", 0, 0, "ACK", 1, "W", "", 5},
      {"third W answered", 2, 0, "ACK", 1, "WWW", "", 4005},
      {"menu first", 0, 1, "ACK", 1, "W\x03W", kMenuMessage, 10},
      {"ACK wins over a prompt", 0, 0, "ACK >", 1, "W", "", 5},
      {"NAK is no answer", 0, 0, "NAK", -2, Repeat("W", 10), "", 50},
      {"silent", 10, 0, "ACK", -2, Repeat("W", 10), "", 20000},
      {"menu every time", 0, 10, "ACK", -2, Repeat("W\x03", 10), Repeat(kMenuMessage, 10), 50},
  };
  for (const WakeCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestRig rig;
    ZolPeer zol(rig.serial, rig.clock, kPort);
    zol.ignoreWakes = c.ignoreWakes;
    zol.menuWakes = c.menuWakes;
    zol.wakeReply = c.wakeReply;
    const int64_t begin = rig.clock.MonotonicMs();
    EXPECT_EQ(WakeZol(kPort), c.expected);
    EXPECT_EQ(rig.serial.Sent(kPort), c.sent);
    EXPECT_EQ(rig.console.Text(), c.console);
    EXPECT_EQ(rig.clock.MonotonicMs() - begin, c.elapsedMs);
  }
}

TEST_F(ZolProtocolTest, WakeZolClearsTheQueueAtTheStartAndAfterEveryTry) {
  zol.ignoreWakes = 2;
  EXPECT_EQ(WakeZol(kPort), 1);
  const std::vector<std::string> expected = {"rxclear", "tx:W", "rxclear", "tx:W",
                                             "rxclear", "tx:W", "rxclear"};
  EXPECT_EQ(rig.serial.Log(kPort), expected);
}

TEST_F(ZolProtocolTest, WakeZolModeRefusesOtherModesWithoutSending) {
  for (uint16_t mode : {0, 3, 65535}) {
    EXPECT_EQ(WakeZolMode(kPort, mode), 0) << mode;
  }
  EXPECT_TRUE(rig.serial.Log(kPort).empty());
  EXPECT_EQ(Elapsed(), 0);
}

TEST_F(ZolProtocolTest, WakeZolModeBreaksWakesAndSelectsTheMode) {
  EXPECT_EQ(WakeZolMode(kPort, 2), 1);
  const std::vector<std::string> expected = {"rxclear", "break:A", "break:C",          "tx:W",
                                             "rxclear", "rxclear", "tx:MODE,2ACK\r\n", "rxclear"};
  EXPECT_EQ(rig.serial.Log(kPort), expected);
  // 100 ms of break, then two replies of 5 ms.
  EXPECT_EQ(Elapsed(), 110);
  EXPECT_FALSE(zol.asleep);
}

TEST_F(ZolProtocolTest, WakeZolModeIsAwakeWhateverTheModeExchangeGives) {
  zol.ackMode = false;
  EXPECT_EQ(WakeZolMode(kPort, 1), 1);
  EXPECT_EQ(rig.serial.Sent(kPort), "WMODE,1");

  Answer([](const std::string& command) { return command == "W" ? "ACK" : ""; });
  rig.serial.TakeSent(kPort);
  EXPECT_EQ(WakeZolMode(kPort, 2), 1);
  EXPECT_EQ(rig.serial.TakeSent(kPort), "WMODE,2");
}

TEST_F(ZolProtocolTest, WakeZolModeFailsWhenTheZolNeverAcknowledges) {
  zol.silent = true;
  EXPECT_EQ(WakeZolMode(kPort, 1), -2);
  EXPECT_EQ(rig.serial.Sent(kPort), Repeat("W", 10));
  EXPECT_EQ(Elapsed(), 100 + 20000);
}

TEST_F(ZolProtocolTest, SetZolModeAcknowledgesOnlyItsOwnMode) {
  EXPECT_EQ(SetZolMode(kPort, 1), 1);
  EXPECT_EQ(rig.serial.TakeSent(kPort), "MODE,1ACK\r\n");
  Answer([](const std::string&) { return "ACK,MODE,1"; });
  EXPECT_EQ(SetZolMode(kPort, 2), 0);
  EXPECT_EQ(rig.serial.TakeSent(kPort), "MODE,2");
  Answer([](const std::string&) { return ""; });
  EXPECT_EQ(SetZolMode(kPort, 2), -2);
  EXPECT_EQ(SetZolMode(kPort, 7), 0);
  EXPECT_EQ(rig.serial.TakeSent(kPort), "MODE,2");
}

struct ConfigCase {
  const char* name;
  std::vector<std::string> lines;
  bool nak;
  bool silent;
  int expected;
  std::string file;
};

// Keeps what is stored in it, line ends included.
struct TextSink final : LineSink {
  void AppendLine(const char* line) override { text += std::string(line) + "\n"; }
  std::string text;
};

TEST(GetZolConfigTest, WritesEveryLineAndCountsThoseAfterTheFirst) {
  std::vector<std::string> thirteen;
  std::string thirteenText;
  for (int i = 0; i < 13; ++i) {
    thirteen.push_back("CFG" + std::to_string(i) + ",value");
    thirteenText += thirteen.back() + "\n";
  }
  const std::string longLine(200, 'L');
  const std::vector<ConfigCase> cases = {
      {"refused", {"x"}, true, false, 0, ""},
      {"one line", {"ONLY"}, false, false, 0, "ONLY\n"},
      {"thirteen lines", thirteen, false, false, 12, thirteenText},
      {"a long line splits",
       {longLine},
       false,
       false,
       1,
       longLine.substr(0, 127) + "\n" + longLine.substr(127) + "\n"},
      {"silent", {}, false, true, -2, ""},
  };
  for (const ConfigCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestRig rig;
    ZolPeer zol(rig.serial, rig.clock, kPort);
    zol.configLines = c.lines;
    zol.nakConfig = c.nak;
    zol.silent = c.silent;
    TextSink data;
    EXPECT_EQ(GetZolConfig(kPort, &data), c.expected);
    EXPECT_EQ(data.text, c.file);
    EXPECT_EQ(rig.serial.Sent(kPort), c.silent ? Repeat("W", 10) + "C" : "WC");
  }
}

TEST_F(ZolProtocolTest, GetZolConfigEndsTwoSecondsAfterTheLastLine) {
  zol.configLines = {"A", "B"};
  TextSink data;
  EXPECT_EQ(GetZolConfig(kPort, &data), 1);
  EXPECT_EQ(Elapsed(), 5 + 5 + 2000);
}

TEST_F(ZolProtocolTest, GetZolConfigWithoutASinkStillCounts) {
  zol.configLines = {"A", "B", "C"};
  EXPECT_EQ(GetZolConfig(kPort, nullptr), 2);
}

TEST_F(ZolProtocolTest, GetZolConfigStopsAnEndlessDump) {
  TrickleLine line(rig.clock, "cfg\r\n", 1, true);
  InstallSerialService(&line);
  TextSink data;
  EXPECT_EQ(GetZolConfig(kPort, &data), 1000);
  EXPECT_EQ(data.text, Repeat("cfg\n", 1001));
}

TEST_F(ZolProtocolTest, SendCtdDatSendsTheValuesAndAcknowledgesTheEcho) {
  EXPECT_EQ(SendCtdDat(kPort, 1000, 12.34f, 35.5f, -5.0f), 1);
  EXPECT_EQ(rig.serial.Sent(kPort), "WCTD,1000,12.3400,35.5000,-5.00ACK\r\n");
  const std::vector<std::string> expected = {"rxclear", "tx:W", "rxclear", "rxclear",
                                             "tx:CTD,1000,12.3400,35.5000,-5.00ACK\r\n"};
  EXPECT_EQ(rig.serial.Log(kPort), expected);
  EXPECT_EQ(rig.console.Text(), "");
}

struct SendCtdCase {
  const char* name;
  std::string echo;  // reply to the command; empty: none
  int expected;
  std::string answer;  // what follows the command on the wire
  std::string console;
};

TEST(SendCtdDatTest, AnswersTheEchoAsItsCheckDecides) {
  const std::vector<SendCtdCase> cases = {
      {"accepted", "CTD,1000,12.3400,35.5000,-4.60", 1, "ACK\r\n", ""},
      {"pressure off", "CTD,1000,12.3400,35.5000,-5.60", 0, "NAK\r\n",
       "NAK,CTD,PMatchErr -5.000000, -5.60\n"},
      {"too few fields", "CTD,1000,12.3400,35.5000", 0, "NAK\r\n", ""},
      {"time zero", "CTD,0,12.3400,35.5000,-5.00", 0, "NAK\r\n", "NAK,CTD,EConvertErr: 0\n"},
      {"no echo", "HELLO", 0, "", ""},
      {"no reply", "", -2, "", ""},
  };
  for (const SendCtdCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestRig rig;
    ZolPeer zol(rig.serial, rig.clock, kPort);
    // An empty echo is a bare line end: no reply line.
    zol.ctdReply = [&c](const std::string&) { return c.echo; };
    EXPECT_EQ(SendCtdDat(kPort, 1000, 12.34f, 35.5f, -5.0f), c.expected);
    EXPECT_EQ(rig.serial.Sent(kPort), "WCTD,1000,12.3400,35.5000,-5.00" + c.answer);
    EXPECT_EQ(rig.console.Text(), c.console);
  }
}

TEST_F(ZolProtocolTest, SendCtdDatRefusesValuesThatCannotBeWrittenWithoutSending) {
  EXPECT_EQ(SendCtdDat(kPort, 1000, 3e38f, 3e38f, 3e38f), 0);
  EXPECT_TRUE(rig.serial.Log(kPort).empty());
  EXPECT_EQ(Elapsed(), 0);
}

TEST_F(ZolProtocolTest, SendCtdDatWithASilentZolSendsTheCommandAnyway) {
  zol.silent = true;
  EXPECT_EQ(SendCtdDat(kPort, 1000, 12.34f, 35.5f, -5.0f), -2);
  EXPECT_EQ(rig.serial.Sent(kPort), Repeat("W", 10) + "CTD,1000,12.3400,35.5000,-5.00");
  EXPECT_EQ(Elapsed(), 20000 + 2000);
}

struct TakeSampleCase {
  const char* name;
  bool refuse;
  bool noDone;
  int measureMs;
  int expected;
  int64_t elapsedMs;
};

TEST(TakeSampleTest, WaitsUpToTwentyFiveSecondsForTheMeasurement) {
  const std::vector<TakeSampleCase> cases = {
      {"done after 3 s", false, false, 3000, 1, 5 + 5 + 3000},
      {"done after 20 s", false, false, 20000, 1, 5 + 5 + 20000},
      {"done just in time", false, false, 24999, 1, 5 + 5 + 24999},
      {"too late", false, false, 25000, -2, 5 + 5 + 25000},
      {"never done", false, true, 0, -2, 5 + 5 + 25000},
      {"refused", true, false, 0, 0, 5 + 5},
  };
  for (const TakeSampleCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestRig rig;
    ZolPeer zol(rig.serial, rig.clock, kPort);
    zol.refuseSample = c.refuse;
    zol.noSampleDone = c.noDone;
    zol.measureMs = c.measureMs;
    const int64_t begin = rig.clock.MonotonicMs();
    EXPECT_EQ(TakeSample(kPort), c.expected);
    EXPECT_EQ(rig.clock.MonotonicMs() - begin, c.elapsedMs);
    EXPECT_EQ(rig.serial.Sent(kPort), "WTS");
  }
}

TEST_F(ZolProtocolTest, TakeSampleClearsTheQueueBeforeTheLongWait) {
  EXPECT_EQ(TakeSample(kPort), 1);
  const std::vector<std::string> expected = {"rxclear", "tx:W",  "rxclear",
                                             "rxclear", "tx:TS", "rxclear"};
  EXPECT_EQ(rig.serial.Log(kPort), expected);
}

TEST_F(ZolProtocolTest, TakeSampleRefusesAnUnexpectedSecondLine) {
  Answer([this](const std::string& command) -> std::string {
    if (command == "W") return "ACK";
    rig.serial.Deliver(kPort, "ACK,TS,CMD\r\n", 5);
    rig.serial.Deliver(kPort, "NAK,TS,ERR\r\n", 1000);
    return "";
  });
  EXPECT_EQ(TakeSample(kPort), 0);
}

TEST_F(ZolProtocolTest, GetSampleLeavesTheReplyInTheBuffer) {
  char buf[1024];
  EXPECT_EQ(GetSample(kPort, buf, sizeof buf), 1);
  EXPECT_EQ(std::string(buf), zol.sampleRecord);
  EXPECT_EQ(rig.serial.Sent(kPort), "WSL");

  zol.nakSample = true;
  EXPECT_EQ(GetSample(kPort, buf, sizeof buf), 0);
  EXPECT_STREQ(buf, "NAK,SL");

  zol.nakSample = false;
  char small[16];
  EXPECT_EQ(GetSample(kPort, small, sizeof small), 1);
  EXPECT_EQ(std::string(small), zol.sampleRecord.substr(0, 15));

  zol.silent = true;
  EXPECT_EQ(GetSample(kPort, buf, sizeof buf), -2);
  EXPECT_STREQ(buf, "");
}

TEST_F(ZolProtocolTest, GetSampleRefusesARecordOfNulBytes) {
  // Such a line would be stored as an empty record and counted as a sample.
  zol.sampleRecord = std::string(8, '\0');
  char buf[64];
  EXPECT_EQ(GetSample(kPort, buf, sizeof buf), 0);
  zol.sampleRecord = std::string("\0AB", 3);
  EXPECT_EQ(GetSample(kPort, buf, sizeof buf), 0);
  zol.sampleRecord = std::string("AB\0CD", 5);
  EXPECT_EQ(GetSample(kPort, buf, sizeof buf), 1);
  EXPECT_STREQ(buf, "AB");
}

TEST_F(ZolProtocolTest, GetSampleKeepsAHugeRecordWithinTheBuffer) {
  zol.sampleRecord = std::string(5000, 'R');
  std::string buf(1024 + 16, 'Z');
  EXPECT_EQ(GetSample(kPort, buf.data(), 1024), 1);
  EXPECT_EQ(std::string(buf.c_str()), std::string(1023, 'R'));
  EXPECT_EQ(buf.substr(1024), std::string(16, 'Z'));
}

TEST_F(ZolProtocolTest, ZolSleepNeedsNoWakeAndRetriesTenTimes) {
  EXPECT_EQ(ZolSleep(kPort), 1);
  const std::vector<std::string> expected = {"rxclear", "tx:SLP", "rxclear"};
  EXPECT_EQ(rig.serial.Log(kPort), expected);
  EXPECT_TRUE(zol.asleep);

  zol.ackSleep = false;
  rig.serial.TakeSent(kPort);
  const int64_t before = Elapsed();
  EXPECT_EQ(ZolSleep(kPort), -2);
  EXPECT_EQ(rig.serial.TakeSent(kPort), Repeat("SLP", 10));
  EXPECT_EQ(Elapsed() - before, 20000);
}

TEST_F(ZolProtocolTest, ZolSleepLeavesTheMenu) {
  int replies = 0;
  Answer([&replies](const std::string& command) -> std::string {
    if (command != "SLP") return "";
    return ++replies == 1 ? "Main menu >" : "ACK,SLP";
  });
  EXPECT_EQ(ZolSleep(kPort), 1);
  EXPECT_EQ(rig.serial.Sent(kPort), "SLP\x03SLP");
  EXPECT_EQ(rig.console.Text(), kMenuMessage);
}

TEST_F(ZolProtocolTest, RepliesCutByANulOrDrownedInNoiseAreNotAcknowledgments) {
  Answer([](const std::string&) { return std::string("AC\0K", 4); });
  EXPECT_EQ(WakeZol(kPort), -2);
  Answer([](const std::string&) { return std::string(200, '\x80') + "ACK"; });
  EXPECT_EQ(ZolSleep(kPort), -2);
  Answer([](const std::string&) { return std::string("\0ACK,SLP", 8); });
  EXPECT_EQ(ZolSleep(kPort), -2);
  EXPECT_EQ(rig.console.Text(), "");
}

TEST_F(ZolProtocolTest, GetZolTimeReadsTheZolsClock) {
  zol.clockOffset = 7;
  const int64_t expected = rig.clock.WallSeconds() + 7;
  EXPECT_EQ(GetZolTime(kPort), expected);
  EXPECT_EQ(rig.serial.Sent(kPort), "WRTC,?");

  zol.rtcQueryReply = "RTC,?,2147483648";
  EXPECT_EQ(GetZolTime(kPort), 0);
  zol.rtcQueryReply = "RTC,2147483647";
  EXPECT_EQ(GetZolTime(kPort), 0);
  zol.silent = true;
  EXPECT_EQ(GetZolTime(kPort), -2);
}

struct SetTimeCase {
  const char* name;
  int64_t offset;  // reply's time minus the time sent; ignored with a reply
  std::string reply;
  int expected;
  std::string answer;
  std::string consoleTail;
};

TEST(SetZolTimeTest, AcknowledgesATimeWithinOneSecond) {
  const std::vector<SetTimeCase> cases = {
      {"same", 0, "", 1, "ACK\n", ""},
      {"one ahead", 1, "", 1, "ACK\n", ""},
      {"one behind", -1, "", 1, "ACK\n", ""},
      {"two ahead", 2, "", 0, "NAK\n", ""},
      {"zero", 0, "ACK,RTC,SET,0", 0, "", "SetZolTime() ptr 0\n"},
      {"too big", 0, "ACK,RTC,SET,2147483648", 0, "", "SetZolTime() ptr 2147483648\n"},
      {"no third comma", 0, "ACK,RTC", 0, "", ""},
  };
  for (const SetTimeCase& c : cases) {
    SCOPED_TRACE(c.name);
    TestRig rig;
    ZolPeer zol(rig.serial, rig.clock, kPort);
    // The ZOL's wake-up takes 5 ms; the time is read after it.
    const int64_t sent = (rig.clock.WallMs() + 5) / 1000;
    const std::string reply =
        c.reply.empty() ? "ACK,RTC,SET," + std::to_string(sent + c.offset) : c.reply;
    zol.rtcSetReply = reply;
    EXPECT_EQ(SetZolTime(kPort), c.expected);
    EXPECT_EQ(rig.serial.Sent(kPort), "WRTC," + std::to_string(sent) + c.answer);
    std::string console = "\nSetZolTime() buf " + reply + "\n";
    if (c.reply.empty()) console += "SetZolTime() ptr " + std::to_string(sent + c.offset) + "\n";
    EXPECT_EQ(rig.console.Text(), console + c.consoleTail);
  }
}

TEST_F(ZolProtocolTest, SetZolTimeWithNoReplyPrintsNothing) {
  zol.silent = true;
  EXPECT_EQ(SetZolTime(kPort), -2);
  EXPECT_EQ(rig.console.Text(), "");
}

TEST_F(ZolProtocolTest, SetZolTimeSendsTheTimeAsItsLow32Bits) {
  rig.clock.SetWallSeconds((int64_t{1} << 32) + 5);
  // The ZOL's 32-bit clock cannot agree with the computer's after 2106.
  EXPECT_EQ(SetZolTime(kPort), 0);
  EXPECT_EQ(rig.serial.Sent(kPort), "WRTC,5NAK\n");
}

}  // namespace
}  // namespace zol::test
