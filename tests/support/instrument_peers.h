// Scripted instruments for the in-memory serial service: a ZOL and a CTD that
// answer as healthy instruments do, with knobs to make them fail. Each records
// the commands it received. Replies end with CR LF.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/fake_serial.h"

namespace zol::test {

// Where a peer's replies go: the bytes and how long they take to arrive.
using ReplySink = std::function<void(std::string_view bytes, int delayMs)>;

class ZolPeer {
 public:
  // On a port of the in-memory service.
  ZolPeer(FakeSerial& serial, Clock& clock, int port);
  // On any line: replies go to `sink`, and the line calls Hear with every
  // command (tests/support/pty_instrument.h puts one on a pseudo-terminal).
  ZolPeer(ReplySink sink, Clock& clock);
  void Hear(std::string_view command) { OnCommand(std::string(command)); }

  // --- Knobs (change them at any time) ---
  bool silent = false;  // answers nothing at all
  int ignoreWakes = 0;  // W's ignored before the first "ACK"
  int menuWakes = 0;    // W's answered with a menu prompt line first
  std::string wakeReply = "ACK";
  bool ackMode = true;  // "ACK,MODE,n" to "MODE,n"; else "NAK,MODE"
  std::vector<std::string> configLines = {"ZOL CONFIG", "SN,0042", "FW,2.17"};
  bool nakConfig = false;
  // Reply to "CTD,..." given the command received; default echoes it.
  std::function<std::string(const std::string&)> ctdReply;
  bool refuseSample = false;  // "NAK,TS" instead of "ACK,TS,CMD"
  bool noSampleDone = false;  // "ACK,TS,CMD" but never "ACK,TS,DAT"
  int measureMs = 3000;       // from "ACK,TS,CMD" to "ACK,TS,DAT"
  std::string sampleRecord = "1A2B, ZOL0042, 2024/01/15 12:35:00, 1705322100, 12.35";
  bool nakSample = false;  // "NAK,SL" to "SL"
  bool ackSleep = true;
  // Called with every command (acknowledgments stripped) before it is
  // answered, so a test can change the knobs part-way through a cycle.
  std::function<void(const std::string&)> onCommand;
  int replyDelayMs = 5;                      // how long each reply takes to arrive
  int64_t clockOffset = 0;                   // the ZOL's clock minus the computer's
  std::optional<std::string> rtcQueryReply;  // replaces "RTC,?,<secs>"
  std::optional<std::string> rtcSetReply;    // replaces "ACK,RTC,SET,<secs>"

  // --- What it saw ---
  std::vector<std::string> commands;  // every command, as received
  bool asleep = true;
  int64_t lastSetTime = 0;

 private:
  void OnCommand(const std::string& command);
  void Reply(const std::string& line, int extraDelayMs = 0);

  ReplySink sink_;
  Clock& clock_;
  int wakesSeen_ = 0;
};

class CtdPeer {
 public:
  CtdPeer(FakeSerial& serial, int port);
  explicit CtdPeer(ReplySink sink);
  void Hear(std::string_view command) { OnCommand(std::string(command)); }

  bool silent = false;  // no '>' to the poke
  bool echo = false;    // echoes "pts" on a line of its own first
  bool noData = false;  // nothing after "pts\r"
  std::string dataLine = "12.345, 15.1234, 33.5678";
  std::string prompt = "S>";
  int replyDelayMs = 5;
  // Called with every command before it is answered.
  std::function<void(const std::string&)> onCommand;

  std::vector<std::string> commands;
  bool pumpOn = false;

 private:
  void OnCommand(const std::string& command);

  ReplySink sink_;
};

}  // namespace zol::test
