// The control socket in one whole run against zolsim: status before and
// after a cycle, a sample with the schedule kept, the ZOL's terminal both
// ways, follow, the abuse no client may turn into a delay, the socket's
// permissions, and stop; with a stale socket replaced at start and a live
// one refused to a second sampler.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/json_reader.h"
#include "simrun/sim_run.h"
#include "support/run_program.h"
#include "support/sampler_process.h"

namespace zol::test {
namespace {

constexpr int kReplyMs = 5000;

// One raw connection, as a script with socat would make it.
class Client {
 public:
  explicit Client(const std::string& path, int receiveBuffer = 0) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~Client() { ::close(fd_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Connected() const { return connected_; }
  bool Send(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // Reads until `text` has come (kept, with what came before, in `Seen`).
  bool WaitFor(const std::string& text, int timeoutMs = kReplyMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (seen_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      pollfd polled{fd_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&polled, 1, static_cast<int>(left.count())) <= 0)
        return false;
      char block[4096];
      const ssize_t got = ::recv(fd_, block, sizeof block, 0);
      if (got <= 0) return false;
      seen_.append(block, static_cast<size_t>(got));
    }
    return true;
  }
  // The next line, or "" when none came in time.
  std::string Line(int timeoutMs = kReplyMs) {
    if (!WaitFor("\n", timeoutMs)) return "";
    const size_t end = seen_.find('\n');
    std::string line = seen_.substr(0, end);
    seen_.erase(0, end + 1);
    return line;
  }
  std::string Ask(const std::string& command) { return Send(command + "\n") ? Line() : ""; }
  const std::string& Seen() const { return seen_; }

 private:
  int fd_ = -1;
  bool connected_ = false;
  std::string seen_;
};

JsonValue Parsed(const std::string& line) {
  JsonValue value;
  std::string error;
  EXPECT_TRUE(ParseJson(line, &value, &error)) << error << ": " << line;
  return value;
}

std::string Member(const std::string& line, const char* name) {
  const JsonValue value = Parsed(line);
  const JsonValue* member = value.Find(name);
  return member == nullptr ? "(none)" : member->Text();
}

class SimRunControlTest : public SimRunTest {
 protected:
  std::string Socket() const { return dir.File("control"); }

  ProgramResult Zolctl(const std::vector<std::string>& words, bool outsider = false) {
    std::vector<std::string> args = {"zolctl", "--socket", Socket()};
    args.insert(args.end(), words.begin(), words.end());
    if (!outsider) return RunProgram(ZOLCTL_EXE, args, {}, 60000);
    args[0] = ZOLCTL_EXE;
    args.insert(args.begin(),
                {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    return RunProgram("/usr/bin/setpriv", args, {}, 10000);
  }

  // A socket file nobody accepts on, as a sampler that died leaves it.
  void LeaveStaleSocket() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", Socket().c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }

  // The status once the cycle that printed its last line has let go: the
  // console's "Next Sample" comes a moment before the status says so.
  std::string SettledStatus(Client& client) {
    std::string status = client.Ask("status");
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyMs);
    while (Member(status, "state") == "sampling" && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      status = client.Ask("status");
    }
    return status;
  }

  void CheckStatusAndSample() {
    Client client(Socket());
    ASSERT_TRUE(client.Connected());
    const std::string before = SettledStatus(client);
    EXPECT_EQ(Member(before, "cycle"), "1") << before;
    EXPECT_EQ(Member(before, "records_stored"), "1");
    EXPECT_EQ(Member(before, "state"), "waiting");
    const ProgramResult sample = Zolctl({"sample"});
    EXPECT_EQ(sample.status, 0) << sample.err;
    EXPECT_EQ(sample.out, "cycle 2: 1 record stored\n");
    const std::string after = client.Ask("status");
    EXPECT_EQ(Member(after, "cycle"), "2") << after;
    EXPECT_EQ(Member(after, "records_stored"), "2");
    // The schedule is kept: the next sample is still the first cycle's.
    EXPECT_EQ(Member(after, "next_sample"), Member(before, "next_sample"));
    const JsonValue last = *Parsed(after).Find("last_record");
    EXPECT_EQ(last.Find("file")->Text(), FileName(".dat"));
    EXPECT_TRUE(RecordIntact(last.Find("record")->Text()));
    EXPECT_EQ(CycleRecords(app->Console(), 2),
              std::vector<std::string>{last.Find("record")->Text()});
    EXPECT_NE(app->Console().find("Control: sample requested by uid 0\n002, Waking"),
              std::string::npos);
    EXPECT_EQ(app->Console().find("Got CTRL+F"), std::string::npos);
  }

  void CheckTerminal() {
    Client client(Socket());
    EXPECT_EQ(client.Ask("terminal"), R"({"terminal":"open"})");
    Client second(Socket());
    EXPECT_EQ(second.Ask("terminal"), R"({"error":"the ZOL terminal is in use"})");
    // The ZOL wakes to a W and answers; CTRL+K gives the commands back.
    client.Send("W\r");
    EXPECT_TRUE(client.WaitFor("ACK")) << client.Seen();
    client.Send("\x0bstatus\n");
    EXPECT_TRUE(client.WaitFor("{\"serial\":42")) << client.Seen();
    EXPECT_TRUE(app->Expect("Control: ZOL terminal closed (CTRL+K)\n"));
  }

  // zolctl's terminal on a terminal of its own: raw while open (no echo,
  // no line editing), a command to the ZOL and its reply back, CTRL+K; the
  // local settings are put back then and when a signal ends zolctl.
  std::unique_ptr<SamplerProcess> ZolctlTerminal() {
    auto ctl = std::make_unique<SamplerProcess>(
        std::vector<std::string>{ZOLCTL_EXE, "--socket", Socket(), "terminal"},
        std::map<std::string, std::string>{}, dir.Path());
    EXPECT_TRUE(ctl->Expect("CTRL+K ends the terminal")) << ctl->Console();
    EXPECT_EQ(ctl->SettingsNow().c_lflag & (ICANON | ECHO), 0U);
    return ctl;
  }

  void CheckZolctlTerminal() {
    const auto ctl = ZolctlTerminal();
    ctl->Type("W\r");
    EXPECT_TRUE(ctl->Expect("ACK")) << ctl->Console();
    ctl->Type("\x0b");
    EXPECT_EQ(ctl->Wait(), 0);
    EXPECT_TRUE(SameTerminalSettings(ctl->SettingsNow(), ctl->SettingsBefore()));
    EXPECT_TRUE(app->Expect("Control: ZOL terminal closed (CTRL+K)\n"));
    const auto ended = ZolctlTerminal();
    ended->Signal(SIGTERM);
    EXPECT_EQ(ended->Wait(), -1);
    EXPECT_TRUE(SameTerminalSettings(ended->SettingsNow(), ended->SettingsBefore()));
    EXPECT_TRUE(app->Expect("Control: ZOL terminal closed (the client went away)\n"));
  }

  // Floods, idlers, a crowd and a follower that never reads; the cycle they
  // watch keeps its timing and the sampler keeps answering.
  void CheckAbuseCostsNothing() {
    Client follower(Socket());
    follower.Send("follow\n");
    Client stalled(Socket(), 4096);
    stalled.Send("follow\n");
    Client idle(Socket());
    Client half(Socket());
    half.Send("stat");
    Client flood(Socket());
    flood.Send(std::string(1 << 20, 'x'));
    EXPECT_EQ(flood.Line(), R"({"error":"line longer than 512 bytes"})");
    Client garbage(Socket());
    garbage.Send(std::string("\x00\xff\x1b[2J\x7f\n", 8));
    EXPECT_EQ(garbage.Line(), R"({"error":"unknown command: \u0000\u00ff\u001b[2J\u007f"})");
    std::vector<std::unique_ptr<Client>> crowd;
    int refused = 0;
    for (int i = 0; i < 40; ++i) {
      crowd.push_back(std::make_unique<Client>(Socket()));
      if (crowd.back()->WaitFor("too many connections", 200)) ++refused;
    }
    EXPECT_GE(refused, 40 - 16);
    crowd.clear();
    // Slots come free as the sampler sees the crowd go: each try is a round trip.
    bool answered = false;
    for (int tries = 0; tries < 100 && !answered; ++tries)
      answered = Client(Socket()).Ask("status").rfind("{\"serial\"", 0) == 0;
    EXPECT_TRUE(answered);
    const ProgramResult sample = Zolctl({"sample"});
    EXPECT_EQ(sample.status, 0) << sample.err;
    EXPECT_TRUE(follower.WaitFor("003, Next Sample, ")) << follower.Seen();
    const std::string console = app->Console();
    EXPECT_LE(SecondsOf(StampOn(console, "003, Enter Sleep OK")) -
                  SecondsOf(StampOn(console, "003, Send Sample OK")),
              1)
        << console;
  }
};

TEST_F(SimRunControlTest, AWholeRunIsWatchedAndSteeredOverTheSocket) {
  LeaveStaleSocket();
  samplerEnv["ZOLSAMPLER_CONTROL"] = Socket();
  ASSERT_TRUE(StartSampling({{}, false, false, 1}));
  ASSERT_TRUE(CycleEnded(1));
  EXPECT_NE(app->Console().find("Control socket: " + Socket() + "\n"), std::string::npos);

  const ProgramResult second =
      RunProgram(ZOLSAMPLER_EXE, {"zolsampler", "-P", "1", "-B", "9600", "-p", "-1", "-b", "-1"},
                 {{"ZOLSAMPLER_CONTROL", Socket()}, {"ZOLSAMPLER_COM1", "/nonexistent/zol"}});
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err,
            "zolsampler: ZOLSAMPLER_CONTROL: " + Socket() + " is in use by another sampler\n");
  const ProgramResult outsider = Zolctl({"status"}, true);
  EXPECT_EQ(outsider.status, 2);
  EXPECT_EQ(outsider.err,
            "zolctl: permission denied on " + Socket() + ": join the group zolsampler\n");

  CheckStatusAndSample();
  CheckTerminal();
  CheckZolctlTerminal();
  CheckAbuseCostsNothing();

  // The stop ends a terminal that is open; zolctl puts its terminal back.
  const auto held = ZolctlTerminal();
  Client follower(Socket());
  ASSERT_TRUE(follower.Send("follow\n"));
  const ProgramResult stop = Zolctl({"stop"});
  EXPECT_EQ(stop.status, 0) << stop.err;
  ExpectEndedWith(0);
  // The follower hears the stop's own heading before the socket closes.
  EXPECT_TRUE(follower.WaitFor("Got stop from control - Terminating Sampling Thread"))
      << follower.Seen();
  EXPECT_NE(app->Console().find("Control: ZOL terminal closed (stop)\n"), std::string::npos);
  EXPECT_EQ(held->Wait(), 1);
  EXPECT_TRUE(held->Expect("zolctl: the sampler ended the terminal"));
  EXPECT_TRUE(SameTerminalSettings(held->SettingsNow(), held->SettingsBefore()));
  EXPECT_NE(app->Console().find("Control: stop requested by uid 0\n"), std::string::npos);
  EXPECT_FALSE(PathExists(Socket()));
  const ProgramResult gone = Zolctl({"status"});
  EXPECT_EQ(gone.status, 2);
  EXPECT_EQ(gone.err, "zolctl: no sampler listens on " + Socket() + "\n");
}

}  // namespace
}  // namespace zol::test
