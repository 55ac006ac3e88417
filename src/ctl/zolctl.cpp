#include "ctl/zolctl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/json_reader.h"
#include "ctl/terminal_mode.h"
#include "link/control_channel.h"

namespace zol::ctl {
namespace {

constexpr const char* kUsage =
    "usage: zolctl [--socket PATH | INSTANCE] [--json] COMMAND\n"
    "  COMMAND   status, sample, terminal, follow or stop\n"
    "  INSTANCE  the sampler zolsampler@INSTANCE\n"
    "  --socket  the sampler's ZOLSAMPLER_CONTROL (default: that variable)\n"
    "  --json    status and sample: the sampler's answer as it came\n";
// A reply longer than this is no reply of a sampler.
constexpr std::size_t kMostReply = std::size_t{256} * 1024;
constexpr char kTerminalEnd = 0x0B;  // CTRL+K

// Reads the link a line at a time.
class LineLink {
 public:
  explicit LineLink(ControlLink& link) : link_(link) {}
  // The next line without its line end; nothing when the sampler has gone.
  std::optional<std::string> Next() {
    for (;;) {
      const std::size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      if (buffer_.size() > kMostReply) return std::nullopt;
      char block[4096];
      const long got = link_.Read(block, sizeof block, false);
      if (got <= 0) return std::nullopt;
      buffer_.append(block, static_cast<std::size_t>(got));
    }
  }
  // Bytes read past the last line.
  std::string TakeRest() {
    std::string rest;
    rest.swap(buffer_);
    return rest;
  }

 private:
  ControlLink& link_;
  std::string buffer_;
};

std::string Text(const JsonValue& object, std::string_view name, const char* otherwise = "-") {
  const JsonValue* value = object.Find(name);
  if (value == nullptr || value->IsNull()) return otherwise;
  if (value->IsString()) return Latin1Bytes(value->Text()).value_or(value->Text());
  if (value->IsBool()) return value->Bool() ? "yes" : "no";
  return value->Text();
}

// The error an answer carries, if it is one.
std::optional<std::string> ErrorOf(const std::string& json) {
  JsonValue reply;
  std::string ignored;
  if (!ParseJson(json, &reply, &ignored) || !reply.IsObject()) return "not an answer: " + json;
  const JsonValue* error = reply.Find("error");
  if (error == nullptr) return std::nullopt;
  return Text(reply, "error");
}

int Fail(const std::string& message, int status) {
  std::fprintf(stderr, "zolctl: %s\n", message.c_str());
  return status;
}

int AskOnce(ControlLink& link, const Request& request) {
  LineLink lines(link);
  const std::optional<std::string> reply = lines.Next();
  if (!reply) return Fail("the sampler closed the connection without an answer", kRefused);
  if (const std::optional<std::string> error = ErrorOf(*reply)) return Fail(*error, kRefused);
  if (request.json) {
    std::printf("%s\n", reply->c_str());
    if (request.command != "sample") return kDone;
  }
  if (request.command == "status") {
    std::printf("%s", DescribeStatus(*reply).c_str());
    return kDone;
  }
  if (request.command == "sample") {
    bool stored = false;
    const std::string text = DescribeSample(*reply, &stored);
    if (!request.json) std::printf("%s", text.c_str());
    return stored ? kDone : kRefused;
  }
  // stop: the sampler closes every connection as it stops.
  std::printf("the sampler is stopping\n");
  std::fflush(stdout);
  while (lines.Next()) {
  }
  return kDone;
}

int Follow(ControlLink& link) {
  char block[4096];
  for (long got = link.Read(block, sizeof block, false); got > 0;
       got = link.Read(block, sizeof block, false))
    WriteOutput(block, static_cast<std::size_t>(got));
  return kDone;
}

// Passes bytes both ways until CTRL+K is typed (status 0) or the sampler
// ends the terminal (status 1).
int Terminal(ControlLink& link) {
  LineLink lines(link);
  const std::optional<std::string> reply = lines.Next();
  if (!reply) return Fail("the sampler closed the connection without an answer", kRefused);
  if (const std::optional<std::string> error = ErrorOf(*reply)) return Fail(*error, kRefused);
  // Raw first: keys typed once this line shows are not flushed away.
  const RawTerminal raw;
  std::fprintf(stderr, "zolctl: connected to the ZOL; CTRL+K ends the terminal\r\n");
  const std::string early = lines.TakeRest();
  WriteOutput(early.data(), early.size());
  char block[4096];
  for (;;) {
    const long got = link.Read(block, sizeof block, true);
    if (got == 0) {
      std::fprintf(stderr, "\r\nzolctl: the sampler ended the terminal\r\n");
      return kRefused;
    }
    if (got > 0) {
      WriteOutput(block, static_cast<std::size_t>(got));
      continue;
    }
    const long typed = ReadInput(block, sizeof block);
    if (typed < 0) continue;
    const std::size_t count = typed > 0 ? static_cast<std::size_t>(typed) : 0;
    const char* end = static_cast<const char*>(std::memchr(block, kTerminalEnd, count));
    const std::size_t upTo = end != nullptr ? static_cast<std::size_t>(end - block) + 1 : count;
    if (!link.WriteAll(block, upTo)) return kRefused;
    // CTRL+K, or input at its end: the terminal closes.
    if (end != nullptr || typed <= 0) {
      if (end == nullptr) link.WriteAll(&kTerminalEnd, 1);
      std::fprintf(stderr, "\r\nzolctl: terminal closed\r\n");
      return kDone;
    }
  }
}

}  // namespace

bool ParseArguments(int argc, const char* const* argv, Request* request, std::string* error) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (word == "--json") {
      request->json = true;
    } else if (word == "--socket" && i + 1 < argc) {
      request->path = argv[++i];
    } else if (word.substr(0, 2) == "--" || word.empty()) {
      *error = "unknown option " + std::string(word);
      return false;
    } else {
      words.emplace_back(word);
    }
  }
  if (words.size() == 2 && request->path.empty()) {
    request->path = InstanceControlPath(words[0]);
    words.erase(words.begin());
  }
  if (words.size() != 1) {
    *error = "name one command";
    return false;
  }
  request->command = words[0];
  if (request->path.empty()) {
    const char* setting = std::getenv("ZOLSAMPLER_CONTROL");
    if (setting == nullptr || setting[0] == '\0') {
      *error = "name the sampler: an INSTANCE, --socket PATH or ZOLSAMPLER_CONTROL";
      return false;
    }
    request->path = setting;
  }
  for (const char* known : {"status", "sample", "terminal", "follow", "stop"}) {
    if (request->command == known) return true;
  }
  *error = "unknown command " + request->command;
  return false;
}

std::string DescribeStatus(const std::string& json) {
  JsonValue s;
  std::string ignored;
  if (!ParseJson(json, &s, &ignored) || !s.IsObject()) return "";
  std::string text = "ZOL " + Text(s, "serial") + " (" + Text(s, "mode") + "), every " +
                     Text(s, "period_minutes") + " min: " + Text(s, "state") + ", cycle " +
                     Text(s, "cycle") + "\n";
  text += "next sample:    " + Text(s, "next_sample") + "\n";
  const JsonValue* last = s.Find("last_record");
  if (last != nullptr && last->IsObject()) {
    text += "last record:    " + Text(*last, "time") + " in " + Text(*last, "file") + "\n";
    text += "                " + Text(*last, "record") + "\n";
  } else {
    text += "last record:    none yet\n";
  }
  text += "records stored: " + Text(s, "records_stored") + " since start\n";
  text += "without record: " + Text(s, "cycles_without_record") + " scheduled cycles" +
          (s.Find("alarm") != nullptr && s.Find("alarm")->Bool() ? " (ALARM)" : "") + "\n";
  const JsonValue* ports = s.Find("ports");
  if (ports != nullptr && ports->IsObject())
    text += "ports:          ZOL " + Text(*ports, "zol") + ", CTD " + Text(*ports, "ctd", "none") +
            "\n";
  text += "process:        " + Text(s, "pid") + ", started " + Text(s, "started") + ", version " +
          Text(s, "version") + "\n";
  return text;
}

std::string DescribeSample(const std::string& json, bool* stored) {
  JsonValue s;
  std::string ignored;
  *stored = false;
  if (!ParseJson(json, &s, &ignored) || !s.IsObject()) return "";
  const JsonValue* storedValue = s.Find("stored");
  const int64_t count = storedValue != nullptr ? storedValue->Integer().value_or(0) : 0;
  *stored = count > 0;
  std::string text = "cycle " + Text(s, "cycle") + ": ";
  if (*stored) {
    text += std::to_string(count) + (count == 1 ? " record stored" : " records stored");
  } else {
    text += "no record stored";
  }
  const std::string error = Text(s, "first_error", "");
  if (!error.empty()) text += " (" + error + ")";
  return text + "\n";
}

int RunZolctl(int argc, const char* const* argv) {
  Request request;
  std::string error;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf("%s", kUsage);
    return kDone;
  }
  if (!ParseArguments(argc, argv, &request, &error)) {
    std::fprintf(stderr, "zolctl: %s\n%s", error.c_str(), kUsage);
    return kNotAsked;
  }
  LinkFailure failure = LinkFailure::kNone;
  std::string reason;
  const std::unique_ptr<ControlLink> link = ConnectToControl(request.path, &failure, &reason);
  if (link == nullptr) {
    if (failure == LinkFailure::kNoListener)
      return Fail("no sampler listens on " + request.path, kNotAsked);
    if (failure == LinkFailure::kPermission)
      return Fail("permission denied on " + request.path + ": " + ControlPermissionHint(),
                  kNotAsked);
    return Fail("cannot reach " + request.path + ": " + reason, kNotAsked);
  }
  const std::string line = request.command + "\n";
  if (!link->WriteAll(line.data(), line.size()))
    return Fail("the sampler closed the connection", kNotAsked);
  if (request.command == "follow") return Follow(*link);
  if (request.command == "terminal") return Terminal(*link);
  return AskOnce(*link, request);
}

}  // namespace zol::ctl
