#include "support/instrument_peers.h"

#include <string_view>
#include <utility>

namespace zol::test {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The program's own acknowledgments may arrive glued to its next command.
std::string StripAcks(std::string command) {
  for (std::string_view ack : {"ACK\r\n", "NAK\r\n", "ACK\n", "NAK\n"}) {
    while (StartsWith(command, ack))
      command.erase(0, ack.size());
  }
  return command;
}

ReplySink SinkOn(FakeSerial& serial, int port) {
  return [&serial, port](std::string_view bytes, int delayMs) {
    serial.Deliver(port, bytes, delayMs);
  };
}

}  // namespace

ZolPeer::ZolPeer(FakeSerial& serial, Clock& clock, int port)
    : ZolPeer(SinkOn(serial, port), clock) {
  serial.SetPeer(port, [this](int, std::string_view bytes) { Hear(bytes); });
}

ZolPeer::ZolPeer(ReplySink sink, Clock& clock) : sink_(std::move(sink)), clock_(clock) {}

void ZolPeer::Reply(const std::string& line, int extraDelayMs) {
  sink_(line + "\r\n", replyDelayMs + extraDelayMs);
}

void ZolPeer::OnCommand(const std::string& received) {
  const std::string command = StripAcks(received);
  if (command.empty()) return;
  commands.push_back(command);
  if (onCommand) onCommand(command);
  if (silent) return;

  if (command == "W") {
    ++wakesSeen_;
    if (wakesSeen_ <= ignoreWakes) return;
    if (wakesSeen_ <= ignoreWakes + menuWakes) {
      Reply("ZOL MENU >");
      return;
    }
    asleep = false;
    Reply(wakeReply);
  } else if (command == "\x03") {
    // Leaves the menu; nothing to say.
  } else if (StartsWith(command, "MODE,")) {
    Reply(ackMode ? "ACK," + command : "NAK,MODE");
  } else if (command == "C") {
    if (nakConfig) {
      Reply("NAK,C");
      return;
    }
    for (const std::string& line : configLines)
      Reply(line);
  } else if (StartsWith(command, "CTD,")) {
    Reply(ctdReply ? ctdReply(command) : command);
  } else if (command == "TS") {
    if (refuseSample) {
      Reply("NAK,TS");
      return;
    }
    Reply("ACK,TS,CMD");
    if (!noSampleDone) Reply("ACK,TS,DAT", measureMs);
  } else if (command == "SL") {
    Reply(nakSample ? "NAK,SL" : sampleRecord);
  } else if (command == "SLP") {
    if (!ackSleep) return;
    asleep = true;
    wakesSeen_ = 0;
    Reply("ACK,SLP");
  } else if (command == "RTC,?") {
    Reply(rtcQueryReply.value_or("RTC,?," + std::to_string(clock_.WallSeconds() + clockOffset)));
  } else if (StartsWith(command, "RTC,")) {
    lastSetTime = std::stoll(command.substr(4));
    clockOffset = lastSetTime - clock_.WallSeconds();
    Reply(rtcSetReply.value_or("ACK,RTC,SET," + command.substr(4)));
  }
}

CtdPeer::CtdPeer(FakeSerial& serial, int port) : CtdPeer(SinkOn(serial, port)) {
  serial.SetPeer(port, [this](int, std::string_view bytes) { Hear(bytes); });
}

CtdPeer::CtdPeer(ReplySink sink) : sink_(std::move(sink)) {}

void CtdPeer::OnCommand(const std::string& command) {
  commands.push_back(command);
  if (onCommand) onCommand(command);
  if (silent) return;
  if (command == "\r") {
    sink_("\r\n" + prompt, replyDelayMs);
  } else if (command == "pts\r") {
    if (noData) return;
    if (echo) sink_("pts\r\n", replyDelayMs);
    sink_(dataLine + "\r\n", replyDelayMs + 500);
  } else if (command == "pumpon\r") {
    pumpOn = true;
  } else if (command == "pumpoff\r") {
    pumpOn = false;
  }
}

}  // namespace zol::test
